// tx710-record as a process, fed by tx710-sim on a pseudo-terminal: how each
// way out ends (exit code, stderr, port lock) and that every file it leaves
// holds the same whole rounds.

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>

#include "recording/csv_writer.h"
#include "recording/data_file.h"
#include "recording/mcap_reader.h"
#include "recording/mcap_writer.h"
#include "support/fixtures.h"
#include "support/pty.h"

using namespace tx710;
using namespace tx710test;

namespace {

// The CSV and the text file that the rounds of an MCAP file make.
QByteArray csvOf(const std::vector<ScanRound>& rounds)
{
    QByteArray text = csv::headerLine();
    for (const ScanRound& round : rounds)
        csv::appendRound(text, round);
    return text;
}

QByteArray txtOf(const std::vector<ScanRound>& rounds)
{
    QByteArray text = rounds.empty() ? QByteArray() : datafile::headerLine();
    for (std::size_t i = 0; i < rounds.size(); ++i)
        datafile::appendRound(text, int(i) + 1, rounds[i].points);
    return text;
}

} // namespace

class TestRecorder : public QObject
{
    Q_OBJECT

    QProcess sim_;
    QString port_;

    bool startSim(const QStringList& arguments)
    {
        port_ = startSimulator(sim_, arguments);
        return !port_.isEmpty();
    }

    // The CSV grows fastest: on a full disk it fails first, before the others have the round.
    static QStringList outputs(const QString& dir)
    {
        return {"--out", dir + "/a.csv", "--out", dir + "/a.txt", "--out", dir + "/a.mcap"};
    }

    // Every file closed properly, holding the same whole rounds; no file at all for 0 rounds.
    static void checkAgreement(const QString& dir, int rounds)
    {
        if (rounds == 0) {
            QCOMPARE(QDir(dir).entryList(QDir::Files), QStringList());
            return;
        }
        mcap::Contents mcap;
        QString error;
        QVERIFY2(mcap::readFile(dir + QStringLiteral("/a.mcap"), mcap, error), qPrintable(error));
        QVERIFY(mcap.complete);
        if (rounds >= 0)
            QCOMPARE(int(mcap.rounds.size()), rounds);
        else
            QVERIFY(mcap.rounds.size() >= 3);
        if (QFile::exists(dir + QStringLiteral("/a.csv")))
            QCOMPARE(fileBytes(dir + QStringLiteral("/a.csv")), csvOf(mcap.rounds));
        if (!QFile::exists(dir + QStringLiteral("/a.txt")))
            return;
        QCOMPARE(fileBytes(dir + QStringLiteral("/a.txt")), txtOf(mcap.rounds));
        // The MCAP file's floats are the numbers the text file gives.
        datafile::Contents txt;
        datafile::ReadError txt_error;
        QVERIFY(datafile::readFile(dir + QStringLiteral("/a.txt"), txt, txt_error));
        for (std::size_t r = 0; r < txt.rounds.size(); ++r) // as many as the text above holds
            for (std::size_t p = 0; p < txt.rounds[r].points.size(); ++p)
                QCOMPARE(mcap.rounds[r].points[p].angle, txt.rounds[r].points[p].angle);
    }

    // The files a process holds open.
    static QStringList openFiles(qint64 pid)
    {
        QStringList paths;
        const QString fds = QStringLiteral("/proc/%1/fd").arg(pid);
        for (const QFileInfo& fd : QDir(fds).entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
            paths << fd.symLinkTarget();
        return paths;
    }

    // Waits until the text file holds a few rounds.
    static bool waitForRounds(const QString& dir)
    {
        for (int i = 0; i < 200; ++i) {
            if (QFileInfo(dir + QStringLiteral("/a.txt")).size() > 40000)
                return true;
            QTest::qWait(50);
        }
        return false;
    }

private slots:
    void cleanup()
    {
        if (sim_.state() != QProcess::NotRunning) {
            sim_.terminate();
            sim_.waitForFinished(5000);
        }
    }

    void waysOut_data()
    {
        QTest::addColumn<QStringList>("sim_arguments");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("signal_number"); // 0: none
        QTest::addColumn<int>("exit_code");
        QTest::addColumn<int>("rounds"); // -1: some
        const QStringList none;
        QTest::newRow("rounds reached") << none << QStringList{"--rounds", "7"} << 0 << 0 << 7;
        QTest::newRow("SIGINT") << none << none << int(SIGINT) << 0 << -1;
        QTest::newRow("SIGTERM") << none << none << int(SIGTERM) << 0 << -1;
        QTest::newRow("SIGHUP") << none << none << int(SIGHUP) << 0 << -1;
        QTest::newRow("lost link") << QStringList{"--hangup-after", "1.5"} << none << 0 << 1 << -1;
        QTest::newRow("silent port") << QStringList{"--silent"} << none << 0 << 1 << 0;
        QTest::newRow("SIGTERM in the wait for data") << QStringList{"--silent"} << none << int(SIGTERM) << 0 << 0;
    }

    void waysOut()
    {
        QFETCH(QStringList, sim_arguments);
        QFETCH(QStringList, arguments);
        QFETCH(int, signal_number);
        QFETCH(int, exit_code);
        QFETCH(int, rounds);
        QTemporaryDir dir;
        QVERIFY(startSim(sim_arguments));
        QProcess recorder;
        recorder.start(programPath("tx710-record"),
                       QStringList{QStringLiteral("--port"), port_} + arguments + outputs(dir.path()));
        if (signal_number != 0) {
            QVERIFY(rounds == 0 ? !recorder.waitForFinished(1000) : waitForRounds(dir.path()));
            // Every output stays open for the whole recording, not reopened for each round.
            QCOMPARE(openFiles(recorder.processId()).contains(QDir(dir.path()).filePath("a.txt")), rounds != 0);
            ::kill(recorder.processId(), signal_number);
        }
        QVERIFY(recorder.waitForFinished(rounds == 0 && signal_number != 0 ? 1500 : 20000));
        QCOMPARE(recorder.exitStatus(), QProcess::NormalExit);
        QCOMPARE(recorder.exitCode(), exit_code);
        const QList<QByteArray> lines = recorder.readAllStandardError().split('\n');
        QCOMPARE(lines.size(), 2); // one line and its line feed
        QCOMPARE(serialLockFiles(port_), QStringList());
        checkAgreement(dir.path(), rounds);
    }

    void fullDiskFailsWithWholeRounds_data()
    {
        QTest::addColumn<bool>("shared_disk"); // a small file system, else a file size limit
        QTest::addColumn<QByteArray>("error_end");
        QTest::newRow("file size limit, the CSV first") << false << QByteArray("a.csv: File too large");
        // The text file may take the last bytes the MCAP file needs for its end.
        QTest::newRow("full file system") << true << QByteArray(": No space left on device");
    }
    void fullDiskFailsWithWholeRounds()
    {
        QFETCH(bool, shared_disk);
        QFETCH(QByteArray, error_end);
        QTemporaryDir dir;
        if (shared_disk && QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=400k", "tmpfs", dir.path()}) != 0)
            QSKIP("mounting a small file system needs root");
        const auto unmount = qScopeGuard([&] {
            if (shared_disk)
                QProcess::execute("umount", {dir.path()});
        });
        QVERIFY(startSim({}));
        QProcess recorder;
        {
            // Inherited by the recorder alone among the processes started
            // here, with SIGXFSZ at its default: the recorder must ignore it.
            FileSizeLimit limit(shared_disk ? RLIM_INFINITY : 300000);
            const auto ignored = std::signal(SIGXFSZ, SIG_DFL);
            const auto restore = qScopeGuard([ignored] { std::signal(SIGXFSZ, ignored); });
            recorder.start(programPath("tx710-record"),
                           QStringList{QStringLiteral("--port"), port_} + outputs(dir.path()).mid(shared_disk ? 2 : 0));
            QVERIFY(recorder.waitForStarted(5000));
        }
        QVERIFY(recorder.waitForFinished(20000));
        QCOMPARE(recorder.exitCode(), 1);
        const QList<QByteArray> lines = recorder.readAllStandardError().split('\n');
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines[0].endsWith(error_end), lines[0].constData());
        QCOMPARE(serialLockFiles(port_), QStringList());
        // Whole rounds in the text file that the MCAP file's last chunk may have lost.
        if (shared_disk)
            QVERIFY(QFile::remove(dir.filePath("a.txt")));
        checkAgreement(dir.path(), -1);
    }

    // What a run may not touch, and what it leaves: a refused or failed run
    // leaves every file as it was and makes none.
    void existingFilesStay_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exit_code");
        QTest::addColumn<QString>("error");       // a part of the first line on stderr
        QTest::addColumn<QByteArray>("keep_txt"); // keep.txt afterwards, first bytes
        const QString out = QStringLiteral("--out");
        QTest::newRow("output is the input")
            << QStringList{"--replay", "s.txt", out, "s.txt"} << 2 << "s.txt is the input file" << QByteArray("old\n");
        QTest::newRow("output is the input through a link") << QStringList{"--replay", "link.txt", out, "s.txt"} << 2
                                                            << "s.txt is the input file" << QByteArray("old\n");
        QTest::newRow("same output twice") << QStringList{"--replay", "s.txt", out, "n.csv", out, "./n.csv"} << 2
                                           << "./n.csv is given twice" << QByteArray("old\n");
        QTest::newRow("existing output") << QStringList{"--replay", "s.txt", out, "n.csv", out, "keep.txt"} << 2
                                         << "keep.txt exists; give --overwrite" << QByteArray("old\n");
        QTest::newRow("existing output of one LiDAR")
            << QStringList{"--port", "p", "--frame-id", "keep", "--port", "q", "--frame-id", "n", out, "{device}.txt"}
            << 2 << "keep.txt exists; give --overwrite" << QByteArray("old\n");
        QTest::newRow("{device} makes the input")
            << QStringList{"--replay", "s.txt", "--frame-id", "s", out, "{device}.txt"} << 2
            << "s.txt is the input file" << QByteArray("old\n");
        QTest::newRow("port fails") << QStringList{"--port", "/dev/does-not-exist", out, "keep.txt", out,
                                                   "n.mcap", "--overwrite"}
                                    << 1 << "/dev/does-not-exist: cannot open" << QByteArray("old\n");
        QTest::newRow("replay without a whole round")
            << QStringList{"--replay", "header.txt", out, "keep.txt", out, "n.mcap", "--overwrite"} << 1
            << "header.txt: the file holds no whole round" << QByteArray("old\n");
        QTest::newRow("several LiDARs") << QStringList{"--replay", "two.mcap", out, "n.txt"} << 1
                                        << "two.mcap: the recording holds several LiDARs" << QByteArray("old\n");
        QTest::newRow("MCAP magic only") << QStringList{"--replay", "magic.mcap", out, "n.txt"} << 1
                                         << "magic.mcap: the file holds no whole round" << QByteArray("old\n");
        // A replay from a FIFO that no program writes to sees the signal.
        QTest::newRow("SIGTERM in a replay from a FIFO")
            << QStringList{"--replay", "fifo.txt", out, "n.txt"} << 0 << "" << QByteArray("old\n");
        QTest::newRow("overwrite") << QStringList{"--replay", "s.txt", out, "keep.txt", "--overwrite"} << 0 << ""
                                   << QByteArray("Round");
    }
    void existingFilesStay()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exit_code);
        QFETCH(QString, error);
        QFETCH(QByteArray, keep_txt);
        QTemporaryDir dir;
        QVERIFY(QFile::copy(fixturePath(QStringLiteral("data_file_two_saves.txt")), dir.filePath("s.txt")));
        QVERIFY(QFile::link("s.txt", dir.filePath("link.txt")));
        const std::pair<const char*, QByteArray> files[] = {
            {"keep.txt", "old\n"}, {"header.txt", datafile::headerLine()}, {"magic.mcap", "\x89MCAP0\r\n"}};
        for (const auto& [name, bytes] : files) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        }
        QVERIFY(::mkfifo(qPrintable(dir.filePath("fifo.txt")), 0600) == 0);
        mcap::WriterOptions two;
        two.devices = {ScanOptions(), ScanOptions()};
        two.devices[1].frame_id = "rear";
        mcap::Writer writer(two);
        QVERIFY(writer.open(dir.filePath("two.mcap")) && writer.writeRound(ScanRound{1, 1, {{1, 2, 3}}, 0, 1})
                && writer.close());
        const QStringList before = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
        QProcess recorder;
        recorder.setWorkingDirectory(dir.path());
        recorder.start(programPath("tx710-record"), arguments + QStringList{"--quiet"});
        if (arguments.contains("fifo.txt")) {
            QVERIFY(!recorder.waitForFinished(1000));
            ::kill(recorder.processId(), SIGTERM);
        }
        QVERIFY(recorder.waitForFinished(10000));
        QCOMPARE(recorder.exitStatus(), QProcess::NormalExit);
        QCOMPARE(recorder.exitCode(), exit_code);
        QVERIFY(QString::fromLocal8Bit(recorder.readAllStandardError().split('\n').first()).contains(error));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System), before);
        QCOMPARE(fileBytes(dir.filePath("keep.txt")).left(keep_txt.size()), keep_txt);
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        const QString out = QStringLiteral("--out");
        const QString txt = QStringLiteral("/nonexistent/a.txt");
        QTest::newRow("no source") << QStringList{out, txt};
        QTest::newRow("two sources") << QStringList{"--port", "/dev/null", "--replay", "a.txt", out, txt};
        QTest::newRow("no output") << QStringList{"--port", "/dev/null"};
        QTest::newRow("unknown extension") << QStringList{"--port", "/dev/null", out, "a.xyz"};
        QTest::newRow("rounds and duration")
            << QStringList{"--port", "/dev/null", "--rounds", "3", "--duration", "1", out, txt};
        QTest::newRow("rounds not a count") << QStringList{"--port", "/dev/null", "--rounds", "0", out, txt};
        QTest::newRow("long value with a control character")
            << QStringList{"--port", "/dev/null", "--duration", QString(200, '9') + "\x1b[2J", out, txt};
        QTest::newRow("unknown option") << QStringList{"--port", "/dev/null", "--serial", out, txt};
        QTest::newRow("replay of a CSV file") << QStringList{"--replay", "a.csv", out, txt};
        QTest::newRow("realtime from a port") << QStringList{"--port", "/dev/null", "--realtime", out, txt};
        QTest::newRow("version") << QStringList{"--version"};
    }

    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        QProcess recorder;
        recorder.setProcessChannelMode(QProcess::MergedChannels);
        recorder.start(programPath("tx710-record"), arguments);
        QVERIFY(recorder.waitForFinished(10000));
        const bool version = arguments == QStringList{"--version"};
        QCOMPARE(recorder.exitCode(), version ? 0 : 2);
        const QByteArray output = recorder.readAll();
        QVERIFY(output.contains(version ? "tx710-record 1." : "\nUsage: tx710-record"));
        // A bad value is quoted short, with control characters escaped.
        QVERIFY(!output.contains('\x1b') && !output.contains(QByteArray(100, '9')));
    }

    // A text file through an MCAP file and back comes out byte for byte;
    // several saves become one, numbered on.
    void replayRoundTrip()
    {
        QTemporaryDir dir;
        const QString fixture = fixturePath(QStringLiteral("data_file_two_saves.txt"));
        const QByteArray two_saves = fileBytes(fixture);
        const QByteArray first_save = two_saves.left(two_saves.indexOf(datafile::headerLine(), 1));
        const QString a = dir.filePath(QStringLiteral("a.txt"));
        const QString b = dir.filePath(QStringLiteral("b.mcap"));
        const QString c = dir.filePath(QStringLiteral("c.txt"));
        const QString d = dir.filePath(QStringLiteral("d.txt"));
        QFile input(a);
        QVERIFY(input.open(QIODevice::WriteOnly));
        QCOMPARE(input.write(first_save), qint64(first_save.size()));
        input.close();
        const QString recorder = programPath("tx710-record");
        QCOMPARE(QProcess::execute(recorder, {"--quiet", "--replay", a, "--out", b}), 0);
        QCOMPARE(QProcess::execute(recorder, {"--quiet", "--replay", b, "--out", c}), 0);
        QCOMPARE(fileBytes(c), first_save);

        QCOMPARE(QProcess::execute(recorder, {"--quiet", "--replay", fixture, "--out", d}), 0);
        datafile::Contents contents;
        datafile::ReadError error;
        QVERIFY(datafile::readFile(d, contents, error));
        QCOMPARE(contents.rounds.back().number, 3);
        QCOMPARE(contents.rounds.back().save, 1);
    }
};

QTEST_GUILESS_MAIN(TestRecorder)
#include "tst_recorder.moc"
