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

enum Disk { kRoomy, kFileSizeLimit, kSmallFileSystem };

} // namespace

class TestRecorder : public QObject
{
    Q_OBJECT

    QProcess sim_;

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
        QVERIFY2(rounds >= 0 ? int(mcap.rounds.size()) == rounds : mcap.rounds.size() >= 3,
                 qPrintable(QString::number(mcap.rounds.size())));
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
        return QTest::qWaitFor([&dir] { return QFileInfo(dir + QStringLiteral("/a.txt")).size() > 40000; }, 10000);
    }

private slots:
    void cleanup() { QVERIFY(sim_.state() == QProcess::NotRunning || (sim_.terminate(), sim_.waitForFinished(5000))); }

    // How each way out ends: exit code, one line on stderr, no port lock, every file with the same whole rounds.
    // A full disk fails with whole rounds: with a file size limit the CSV fails first; on a full file system the
    // text file may take the last bytes the MCAP file needs for its end.
    void waysOut_data()
    {
        QTest::addColumn<QStringList>("sim_arguments");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("signal_number"); // 0: none
        QTest::addColumn<int>("disk");
        QTest::addColumn<int>("exit_code");
        QTest::addColumn<QByteArray>("error_end");
        QTest::addColumn<int>("rounds"); // -1: some
        const QStringList none;
        QTest::newRow("rounds reached") << none << QStringList{"--rounds", "7"} << 0 << 0 << 0 << QByteArray() << 7;
        QTest::newRow("SIGINT") << none << none << int(SIGINT) << 0 << 0 << QByteArray() << -1;
        QTest::newRow("SIGTERM") << none << none << int(SIGTERM) << 0 << 0 << QByteArray() << -1;
        QTest::newRow("SIGHUP") << none << none << int(SIGHUP) << 0 << 0 << QByteArray() << -1;
        QTest::newRow("lost link") << QStringList{"--hangup-after", "1.5"} << none << 0 << 0 << 1 << QByteArray() << -1;
        QTest::newRow("silent port") << QStringList{"--silent"} << none << 0 << 0 << 1 << QByteArray() << 0;
        QTest::newRow("SIGTERM in the wait for data")
            << QStringList{"--silent"} << none << int(SIGTERM) << 0 << 0 << QByteArray() << 0;
        QTest::newRow("file size limit") << none << none << 0 << int(kFileSizeLimit) << 1
                                         << QByteArray("a.csv: File too large") << -1;
        QTest::newRow("full file system")
            << none << none << 0 << int(kSmallFileSystem) << 1 << QByteArray(": No space left on device") << -1;
    }

    void waysOut()
    {
        QFETCH(QStringList, sim_arguments);
        QFETCH(QStringList, arguments);
        QFETCH(int, signal_number);
        QFETCH(int, disk);
        QFETCH(int, exit_code);
        QFETCH(QByteArray, error_end);
        QFETCH(int, rounds);
        QTemporaryDir dir;
        const bool small = disk == kSmallFileSystem;
        if (small && QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=400k", "tmpfs", dir.path()}) != 0)
            QSKIP("mounting a small file system needs root");
        const auto unmount = qScopeGuard([&] {
            if (small)
                QProcess::execute("umount", {dir.path()});
        });
        const QString port = startSimulator(sim_, sim_arguments);
        QVERIFY(!port.isEmpty());
        QProcess recorder;
        {
            // Inherited by the recorder alone among the processes started
            // here, with SIGXFSZ at its default: the recorder must ignore it.
            FileSizeLimit limit(disk == kFileSizeLimit ? 300000 : RLIM_INFINITY);
            const auto ignored = std::signal(SIGXFSZ, SIG_DFL);
            const auto restore = qScopeGuard([ignored] { std::signal(SIGXFSZ, ignored); });
            recorder.start(programPath("tx710-record"),
                           QStringList{"--port", port} + arguments + outputs(dir.path()).mid(small ? 2 : 0));
            QVERIFY(recorder.waitForStarted(5000));
        }
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
        QVERIFY2(lines[0].endsWith(error_end), lines[0].constData());
        QCOMPARE(serialLockFiles(port), QStringList());
        // Whole rounds in the text file that the MCAP file's last chunk may have lost.
        if (small)
            QVERIFY(QFile::remove(dir.filePath("a.txt")));
        checkAgreement(dir.path(), rounds);
    }

    // What a run may not touch, and what it leaves: a refused or failed run leaves every file as it was and
    // makes none; a usage error gives its reason, the usage and exit 2, a bad value quoted short and escaped.
    void refusedRunsLeaveFiles_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exit_code");
        QTest::addColumn<QString>("error"); // a part of the output
        const QString out = QStringLiteral("--out");
        const QString txt = QStringLiteral("/nonexistent/a.txt");
        const auto row = [](const char* name, const QStringList& arguments, int exit_code, const QString& error) {
            QTest::newRow(name) << arguments << exit_code << error;
        };
        row("output is the input", {"--replay", "s.txt", out, "s.txt"}, 2, "s.txt is the input file");
        row("output is the input through a link", {"--replay", "link.txt", out, "s.txt"}, 2, "s.txt is the input file");
        row("same output twice", {"--replay", "s.txt", out, "n.csv", out, "./n.csv"}, 2, "./n.csv is given twice");
        row("existing output", {"--replay", "s.txt", out, "n.csv", out, "keep.txt"}, 2,
            "keep.txt exists; give --overwrite");
        row("existing output of one LiDAR",
            {"--port", "p", "--frame-id", "keep", "--port", "q", "--frame-id", "n", out, "{device}.txt"}, 2,
            "keep.txt exists; give --overwrite");
        row("{device} makes the input", {"--replay", "s.txt", "--frame-id", "s", out, "{device}.txt"}, 2,
            "s.txt is the input file");
        row("port fails", {"--port", "/dev/does-not-exist", out, "keep.txt", out, "n.mcap", "--overwrite"}, 1,
            "/dev/does-not-exist: cannot open");
        row("replay without a whole round", {"--replay", "header.txt", out, "keep.txt", out, "n.mcap", "--overwrite"},
            1, "header.txt: the file holds no whole round");
        row("several LiDARs", {"--replay", "two.mcap", out, "n.txt"}, 1,
            "two.mcap: the recording holds several LiDARs");
        row("MCAP magic only", {"--replay", "magic.mcap", out, "n.txt"}, 1,
            "magic.mcap: the file holds no whole round");
        // A replay from a FIFO that no program writes to sees the signal.
        row("SIGTERM in a replay from a FIFO", {"--replay", "fifo.txt", out, "n.txt"}, 0, "");
        row("overwrite", {"--replay", "s.txt", out, "keep.txt", "--overwrite"}, 0, "");
        row("version", {"--version"}, 0, "tx710-record 1.");
        row("no source", {out, txt}, 2, "give one source");
        row("two sources", {"--port", "/dev/null", "--replay", "a.txt", out, txt}, 2, "give one source");
        row("no output", {"--port", "/dev/null"}, 2, "nothing to record to");
        row("unknown extension", {"--port", "/dev/null", out, "a.xyz"}, 2, "a.xyz: unknown output format");
        row("rounds and duration", {"--port", "p", "--rounds", "3", "--duration", "1", out, txt}, 2, "not both");
        row("rounds not a count", {"--port", "p", "--rounds", "0", out, txt}, 2, "--rounds needs a positive count");
        row("long value with a control character",
            {"--port", "p", "--duration", QString(200, '9') + "\x1b[2J", out, txt}, 2, "--duration needs a positive");
        row("unknown option", {"--port", "p", "--serial", out, txt}, 2, "unknown or incomplete option '--serial'");
        row("replay of a CSV file", {"--replay", "a.csv", out, txt}, 2, "a.csv: --replay takes a .txt or an .mcap");
        row("realtime from a port", {"--port", "p", "--realtime", out, txt}, 2, "--realtime applies to --replay only");
        row("reconnect from a replay", {"--replay", "s.txt", "--reconnect", out, txt}, 2, "applies to --port only");
        row("reconnect timeout alone", {"--port", "p", "--reconnect-timeout", "5", out, txt}, 2, "needs --reconnect");
        row("reconnect timeout no number", {"--port", "p", "--reconnect", "--reconnect-timeout", "x", out, txt}, 2,
            "needs a positive number of seconds: \"x\"");
        const QString mount_needs = "--mount needs X,Y,Z,YAW: metres from -1000 to 1000 and degrees from -360 to 360: ";
        for (const char* mount : {"1,2,3", "1,2,3,4,5", "1,,3,4", "1,2,x,4", "nan,0,0,0", "1001,0,0,0", "0,0,0,361"})
            row(mount, {"--port", "p", "--mount", mount, out, txt}, 2, mount_needs + "'" + mount + "'");
        row("frame id of the base", {"--port", "p", "--frame-id", "base_link", "--mount", "0,0,0,0", out, txt}, 2,
            "--frame-id \"base_link\" is the --base-frame: a LiDAR's frame needs a name of its own");
        QStringList many{out, txt};
        for (int i = 0; i < 17; ++i)
            many << "--port" << QString("p%1").arg(i);
        row("too many ports", many, 2, "at most 16 --port");
        row("mount before a port", {"--mount", "0,0,0,0", "--port", "p", out, txt}, 2,
            "--mount applies to the --port before it");
        const QStringList two{"--port", "p", "--frame-id", "front", "--port", "q", out, txt};
        row("one frame id for two", {"--frame-id", "f", "--port", "p", "--port", "q", out, txt}, 2,
            "--port \"q\" needs a --frame-id of its own: \"f\" is taken by --port \"p\"");
        row("frame id no topic token", two + QStringList{"--frame-id", "2nd"}, 2,
            "--frame-id \"2nd\": with several LiDARs it names their topics: letters, digits, _ and / only, not "
            "starting with a digit or /");
        row("no {device}", two + QStringList{"--frame-id", "rear"}, 2,
            "with several LiDARs a .txt or .csv name needs {device} (the frame id)");
        row("{device} in an .mcap name", two.mid(0, 6) + QStringList{"--frame-id", "rear", out, "{device}.mcap"}, 2,
            "one .mcap file holds every LiDAR; its name takes no {device}");
        row("same port twice", {"--port", "ttyS0", "--port", "/dev/ttyS0", out, txt}, 2,
            "--port \"/dev/ttyS0\" is the port of --port \"ttyS0\" again");
        row("same port through a link", {"--port", "@link.txt", "--port", "@s.txt", out, txt}, 2, // @: the folder
            "--port \"@s.txt\" is the port of --port \"@link.txt\" again");
    }
    void refusedRunsLeaveFiles()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exit_code);
        QFETCH(QString, error);
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
        recorder.setProcessChannelMode(QProcess::MergedChannels);
        recorder.setWorkingDirectory(dir.path());
        arguments.replaceInStrings("@", dir.path() + '/');
        recorder.start(programPath("tx710-record"), arguments + QStringList{"--quiet"});
        if (arguments.contains("fifo.txt")) {
            QVERIFY(!recorder.waitForFinished(1000));
            ::kill(recorder.processId(), SIGTERM);
        }
        QVERIFY(recorder.waitForFinished(10000));
        QCOMPARE(recorder.exitStatus(), QProcess::NormalExit);
        QCOMPARE(recorder.exitCode(), exit_code);
        const QByteArray output = recorder.readAll();
        QVERIFY2(output.split('\n').first().contains(error.replace('@', dir.path() + '/').toUtf8()),
                 output.constData());
        QCOMPARE(output.contains("\nUsage: tx710-record"), exit_code == 2);
        QVERIFY(!output.contains('\x1b') && !output.contains(QByteArray(100, '9')));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System), before);
        const bool overwritten = exit_code == 0 && arguments.contains("keep.txt");
        QCOMPARE(fileBytes(dir.filePath("keep.txt")).left(4), QByteArray(overwritten ? "Roun" : "old\n"));
    }

    // A text file through an MCAP file and back comes out byte for byte;
    // several saves become one, numbered on.
    void replayRoundTrip()
    {
        QTemporaryDir dir;
        const QString fixture = fixturePath(QStringLiteral("data_file_two_saves.txt"));
        const QByteArray two_saves = fileBytes(fixture);
        const QByteArray first_save = two_saves.left(two_saves.indexOf(datafile::headerLine(), 1));
        QFile input(dir.filePath("a.txt"));
        QVERIFY(input.open(QIODevice::WriteOnly) && input.write(first_save) == first_save.size());
        input.close();
        const auto replay = [&dir](const QString& from, const char* to) {
            return QProcess::execute(programPath("tx710-record"),
                                     {"--quiet", "--replay", from, "--out", dir.filePath(to)});
        };
        QCOMPARE(replay(input.fileName(), "b.mcap"), 0);
        QCOMPARE(replay(dir.filePath("b.mcap"), "c.txt"), 0);
        QCOMPARE(fileBytes(dir.filePath("c.txt")), first_save);
        QCOMPARE(replay(fixture, "d.txt"), 0);
        const QString d = dir.filePath("d.txt");
        datafile::Contents contents;
        datafile::ReadError error;
        QVERIFY(datafile::readFile(d, contents, error));
        QCOMPARE(contents.rounds.back().number, 3);
        QCOMPARE(contents.rounds.back().save, 1);
    }
};

QTEST_GUILESS_MAIN(TestRecorder)
#include "tst_recorder.moc"
