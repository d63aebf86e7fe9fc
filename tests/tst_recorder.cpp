// tx710-record as a process, fed by tx710-sim on a pseudo-terminal: how each
// way out ends (exit code, stderr, port lock) and that every file it leaves
// holds the same whole rounds.

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include "recording/csv_writer.h"
#include "recording/data_file.h"
#include "recording/mcap_reader.h"
#include "support/fixtures.h"
#include "support/pty.h"

using namespace tx710;
using namespace tx710test;

namespace {

// The programs sit beside the test.
QString program(const char* name)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(name);
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("cannot read");
}

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
        sim_.start(program("tx710-sim"), arguments);
        while (!sim_.canReadLine())
            if (!sim_.waitForReadyRead(5000))
                return false;
        port_ = QString::fromLocal8Bit(sim_.readLine()).trimmed();
        return true;
    }

    static QStringList outputs(const QString& dir)
    {
        // The CSV grows fastest: on a full disk it fails first, before the
        // others have the round.
        return {QStringLiteral("--out"),        dir + QStringLiteral("/a.csv"), QStringLiteral("--out"),
                dir + QStringLiteral("/a.txt"), QStringLiteral("--out"),        dir + QStringLiteral("/a.mcap")};
    }

    // Every file closed properly, holding the same whole rounds.
    static void checkAgreement(const QString& dir, int rounds)
    {
        mcap::Contents mcap;
        QString error;
        QVERIFY2(mcap::readFile(dir + QStringLiteral("/a.mcap"), mcap, error), qPrintable(error));
        QVERIFY(mcap.complete);
        if (rounds >= 0)
            QCOMPARE(int(mcap.rounds.size()), rounds);
        else
            QVERIFY(mcap.rounds.size() >= 3);
        QCOMPARE(contents(dir + QStringLiteral("/a.csv")), csvOf(mcap.rounds));
        QCOMPARE(contents(dir + QStringLiteral("/a.txt")), txtOf(mcap.rounds));
        // The MCAP file's floats are the numbers the text file gives.
        datafile::Contents txt;
        datafile::ReadError txt_error;
        QVERIFY(datafile::readFile(dir + QStringLiteral("/a.txt"), txt, txt_error));
        std::vector<float> txt_angles, mcap_angles;
        for (const auto& round : txt.rounds)
            for (const PointRecord& point : round.points)
                txt_angles.push_back(point.angle);
        for (const ScanRound& round : mcap.rounds)
            for (const PointRecord& point : round.points)
                mcap_angles.push_back(point.angle);
        QCOMPARE(mcap_angles, txt_angles);
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
        QTest::newRow("rounds reached") << none << QStringList{QStringLiteral("--rounds"), QStringLiteral("7")} << 0
                                        << 0 << 7;
        QTest::newRow("SIGINT") << none << none << int(SIGINT) << 0 << -1;
        QTest::newRow("SIGTERM") << none << none << int(SIGTERM) << 0 << -1;
        QTest::newRow("SIGHUP") << none << none << int(SIGHUP) << 0 << -1;
        QTest::newRow("lost link") << QStringList{QStringLiteral("--hangup-after"), QStringLiteral("1.5")} << none << 0
                                   << 1 << -1;
        QTest::newRow("silent port") << QStringList{QStringLiteral("--silent")} << none << 0 << 1 << 0;
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
        recorder.start(program("tx710-record"),
                       QStringList{QStringLiteral("--port"), port_} + arguments + outputs(dir.path()));
        if (signal_number != 0) {
            QVERIFY(waitForRounds(dir.path()));
            ::kill(recorder.processId(), signal_number);
        }
        QVERIFY(recorder.waitForFinished(20000));
        QCOMPARE(recorder.exitStatus(), QProcess::NormalExit);
        QCOMPARE(recorder.exitCode(), exit_code);
        const QList<QByteArray> lines = recorder.readAllStandardError().split('\n');
        QCOMPARE(lines.size(), 2); // one line and its line feed
        QCOMPARE(serialLockFiles(port_), QStringList());
        checkAgreement(dir.path(), rounds);
    }

    void fullDiskFailsWithWholeRounds()
    {
        QTemporaryDir dir;
        QVERIFY(startSim({}));
        QProcess recorder;
        {
            // Inherited by the recorder alone among the processes started
            // here, with SIGXFSZ at its default: the recorder must ignore it.
            FileSizeLimit limit(300000);
            const auto ignored = std::signal(SIGXFSZ, SIG_DFL);
            const auto restore = qScopeGuard([ignored] { std::signal(SIGXFSZ, ignored); });
            recorder.start(program("tx710-record"), QStringList{QStringLiteral("--port"), port_} + outputs(dir.path()));
            QVERIFY(recorder.waitForStarted(5000));
        }
        QVERIFY(recorder.waitForFinished(20000));
        QCOMPARE(recorder.exitCode(), 1);
        const QList<QByteArray> lines = recorder.readAllStandardError().split('\n');
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines[0].endsWith("a.csv: File too large"), lines[0].constData());
        QCOMPARE(serialLockFiles(port_), QStringList());
        checkAgreement(dir.path(), -1);
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
        QTest::newRow("unknown option") << QStringList{"--port", "/dev/null", "--serial", out, txt};
        QTest::newRow("replay of a CSV file") << QStringList{"--replay", "a.csv", out, txt};
        QTest::newRow("realtime from a port") << QStringList{"--port", "/dev/null", "--realtime", out, txt};
    }

    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        QProcess recorder;
        recorder.start(program("tx710-record"), arguments);
        QVERIFY(recorder.waitForFinished(10000));
        QCOMPARE(recorder.exitCode(), 2);
        QVERIFY(recorder.readAllStandardError().contains("Usage: tx710-record"));
    }

    // A text file through an MCAP file and back comes out byte for byte;
    // several saves become one, numbered on.
    void replayRoundTrip()
    {
        QTemporaryDir dir;
        QFile fixture(fixturePath(QStringLiteral("data_file_two_saves.txt")));
        QVERIFY(fixture.open(QIODevice::ReadOnly));
        const QByteArray two_saves = fixture.readAll();
        const QByteArray first_save = two_saves.left(two_saves.indexOf(datafile::headerLine(), 1));
        const QString a = dir.filePath(QStringLiteral("a.txt"));
        const QString b = dir.filePath(QStringLiteral("b.mcap"));
        const QString c = dir.filePath(QStringLiteral("c.txt"));
        const QString d = dir.filePath(QStringLiteral("d.txt"));
        QFile input(a);
        QVERIFY(input.open(QIODevice::WriteOnly) && input.write(first_save) == first_save.size());
        input.close();
        const QString recorder = program("tx710-record");
        QCOMPARE(QProcess::execute(recorder, {"--quiet", "--replay", a, "--out", b}), 0);
        QCOMPARE(QProcess::execute(recorder, {"--quiet", "--replay", b, "--out", c}), 0);
        QFile output(c);
        QVERIFY(output.open(QIODevice::ReadOnly));
        QCOMPARE(output.readAll(), first_save);

        QCOMPARE(QProcess::execute(recorder, {"--quiet", "--replay", fixture.fileName(), "--out", d}), 0);
        datafile::Contents contents;
        datafile::ReadError error;
        QVERIFY(datafile::readFile(d, contents, error));
        QCOMPARE(contents.rounds.back().number, 3);
        QCOMPARE(contents.rounds.back().save, 1);
    }
};

QTEST_GUILESS_MAIN(TestRecorder)
#include "tst_recorder.moc"
