// The programs as processes: the simulated LiDAR (frames of the room, recorded-file replay, the
// tx710-sim program and its options); the viewer, which SIGINT, SIGTERM and SIGHUP end like a normal
// quit, with exit code 0 and its serial port closed, and whose --serve streams its rounds.

#include <QNetworkRequest>
#include <QProcess>
#include <QTemporaryFile>
#include <QWebSocket>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include "recording/ros2_cdr.h"
#include "support/fixtures.h"
#include "support/pty.h"
#include "tools/simulated_lidar.h"

using namespace tx710;
using namespace tx710test;

namespace {

struct SimRun {
    QString output;        // what it printed after the port, then "exit <code>"
    QByteArrayList frames; // those with a correct CRC
};

// Runs tx710-sim and reads its line until the simulator hangs up.
SimRun runSimulator(const QString& arguments)
{
    QProcess sim;
    const QString port = startSimulator(sim, arguments.split(' '));
    const int line = port.isEmpty() ? -1 : ::open(port.toLocal8Bit().constData(), O_RDONLY | O_NOCTTY);
    QByteArray bytes;
    char chunk[4096];
    for (ssize_t n = 0; line >= 0 && ((n = ::read(line, chunk, sizeof chunk)) > 0 || (n < 0 && errno == EINTR));)
        bytes.append(chunk, int(std::max<ssize_t>(n, 0))); // ends on EOF or EIO: the simulator hung up
    if (line >= 0)
        ::close(line);
    sim.waitForFinished(5000);
    SimRun run;
    run.output = QString::fromLocal8Bit(sim.readAllStandardOutput()) + QStringLiteral("exit %1").arg(sim.exitCode());
    for (int at = 0; (at = bytes.indexOf(char(kHeaderByte), at)) >= 0 && at + 47 <= bytes.size(); at += 47)
        if (frameCrcMatches(reinterpret_cast<const std::uint8_t*>(bytes.constData() + at)))
            run.frames << bytes.mid(at, 47);
    return run;
}

// The first message of the viewer's /scan channel, as a client subscribed with id 7 receives it.
QByteArray firstScan(const QString& ws_port)
{
    QWebSocket client;
    QNetworkRequest request(QUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(ws_port)));
    request.setRawHeader("Sec-WebSocket-Protocol", "foxglove.websocket.v1");
    QByteArray scan;
    QObject::connect(&client, &QWebSocket::textMessageReceived, &client, [&client](const QString& text) {
        if (text.contains(QStringLiteral("\"advertise\"")))
            client.sendTextMessage(QStringLiteral(R"({"op":"subscribe","subscriptions":[{"id":7,"channelId":1}]})"));
    });
    QObject::connect(&client, &QWebSocket::binaryMessageReceived, &client, [&scan](const QByteArray& data) {
        if (scan.isEmpty())
            scan = data;
    });
    client.open(request);
    return QTest::qWaitFor([&scan] { return !scan.isEmpty(); }, 10000) ? scan : QByteArray();
}

} // namespace

class TestProcesses : public QObject
{
    Q_OBJECT
    // The main window's tool bar makes Screenshots/ beside the program.
    const FolderCleanup screenshots_{programPath("Screenshots")};

private slots:
    void framesTurnAtTenRevolutionsPerSecondOverTheRoom()
    {
        SimulatedLidar lidar, same;
        const int step = 960; // 0.01 degree between frames: 12 points 0.8 degree apart
        auto gap = [](int from, int to) { return ((to - from) % 36000 + 36000) % 36000; };
        int wraps = 0, previous = -1, no_return = 0, weak = 0, strong = 0, saturated = 0;
        for (int i = 0; i < 750; ++i) { // two seconds of 4500 points a second
            const FrameBytes frame = lidar.nextFrame();
            QVERIFY(frame == same.nextFrame()); // the same seed gives the same stream
            const ScanFrameFields fields = decodeFrameFields(frame.data());
            QVERIFY(frameCrcMatches(frame.data())); // made by encodeFrame: header and count byte too
            QCOMPARE(fields.speed, std::uint16_t(3600));
            QVERIFY(std::abs(gap(fields.start_angle, fields.end_angle) - step * 11 / 12) <= 1);
            if (previous >= 0)
                QVERIFY(std::abs(gap(previous, fields.start_angle) - step) <= 1);
            wraps += fields.start_angle < previous;
            previous = fields.start_angle;
            for (const ScanPoint& point : fields.points) {
                if (point.distance == 0)
                    QCOMPARE(point.intensity, std::uint8_t(0));
                no_return += point.distance == 0;
                (point.intensity == 255 ? saturated : point.intensity >= 211 ? strong : weak) += point.distance > 0;
            }
        }
        QCOMPARE(wraps, 19); // 20 revolutions
        // Every intensity band.
        QVERIFY(no_return > 0);
        QVERIFY(saturated > 0);
        QVERIFY(strong > 0);
        QVERIFY(weak > strong);
        QVERIFY(lidar.measure(0, 0).distance < lidar.measure(0, 2).distance); // the object walks aside
    }

    void replayPacksTheRecordingIntoFrames()
    {
        // Round 0: 14 points from 352 degrees on, 0.8 apart, across 360; then a
        // blank line and round 1: one point beyond what the fields carry.
        QByteArray text = "Round angle distance intensity\n";
        for (int i = 0; i < 14; ++i)
            text += QString::asprintf("0 %g %d %d\n", std::fmod(352.0 + 0.8 * i, 360.0), 1000 + i, 200 + i).toUtf8();
        QTemporaryFile file;
        QVERIFY(file.open() && file.write(text + "\n1 10 70000 300\n") > 0 && file.flush());
        const SimRun run = runSimulator(QStringLiteral("--replay %1 --frames 7").arg(file.fileName()));
        QCOMPARE(run.output, QStringLiteral("frames sent: 7\nframes corrupted: 0\nstray bytes: 0\nexit 0"));
        QCOMPARE(run.frames.size(), 7);
        QVector<int> values;
        for (int i = 0; i < run.frames.size(); ++i) {
            QVERIFY(run.frames[i] == run.frames[i % 3]); // played over again from its start
            const ScanFrameFields f =
                decodeFrameFields(reinterpret_cast<const std::uint8_t*>(run.frames[i].constData()));
            values << f.start_angle << f.end_angle << f.points[0].distance << f.points[0].intensity
                   << f.points[11].distance;
        }
        // The rest of round 0 is padded with no-return points on the same step.
        const QVector<int> expected = {35200, 80, 1000, 200, 1011, 160, 1040, 1012, 212, 0, 1000, 1880, 65535, 255, 0};
        QCOMPARE(values.mid(0, expected.size()), expected);
    }

    // What the stream options make of it (also used by the recorder's tests: silent and unplugged
    // ports), and bad options that make no port at all.
    void optionsShapeTheStream_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("output"); // a regular expression
        QTest::addColumn<int>("good_frames");
        QTest::newRow("corrupted and stray bytes")
            << "--frames 20 --corrupt-every 10 --stray-bytes --full-rate"
            << "frames sent: 20\nframes corrupted: 2\nstray bytes: [1-9]\\d*\nexit 0" << 18;
        for (const char* bad : {"--nonsense", "--corrupt-every 0", "--rate fast", "--replay /nonexistent.txt"})
            QTest::newRow(bad) << bad << "exit [1-9]" << 0;
    }
    void optionsShapeTheStream()
    {
        QFETCH(QString, arguments);
        QFETCH(QString, output);
        const SimRun run = runSimulator(arguments);
        QVERIFY2(QRegularExpression('^' + output + '$').match(run.output).hasMatch(), qPrintable(run.output));
        QTEST(run.frames.size(), "good_frames");
    }

    void signalQuitsWithZero_data()
    {
        QTest::addColumn<int>("signal_number");
        QTest::addColumn<bool>("main_window"); // else at the port dialog
        QTest::newRow("SIGINT at the port dialog") << SIGINT << false;
        QTest::newRow("SIGTERM at the port dialog") << SIGTERM << false;
        QTest::newRow("SIGHUP at the port dialog") << SIGHUP << false;
        QTest::newRow("SIGTERM with the main window, serving") << SIGTERM << true;
    }
    // With the main window up, the round the viewer shows reaches a Foxglove client on /scan.
    void signalQuitsWithZero()
    {
        QFETCH(int, signal_number);
        QFETCH(bool, main_window);
        QProcess sim;
        const QString port = main_window ? startSimulator(sim, {}) : QString();
        QVERIFY2(!main_window || !port.isEmpty(), "tx710-sim prints its port");
        QProcess viewer;
        viewer.start(programPath("TX710Viewer"),
                     main_window ? QStringList{"--port", port, "--serve", "0"} : QStringList());
        QVERIFY(viewer.waitForStarted(5000));
        // Up: the dialog logs its callback; the main window its server, then the view its font.
        const QRegularExpression ready(
            main_window ? "serving on \"ws://127\\.0\\.0\\.1:(\\d+)\"[\\s\\S]*FT_New_Face error" : "setCallback");
        QByteArray log;
        QRegularExpressionMatch up;
        const bool is_up = QTest::qWaitFor(
            [&] { return (up = ready.match(QString::fromLocal8Bit(log += viewer.readAllStandardError()))).hasMatch(); },
            10000);
        QVERIFY2(is_up, log.constData());
        QCOMPARE(serialLockFiles(port).size(), main_window ? 1 : 0);
        if (main_window) {
            const QByteArray scan = firstScan(up.captured(1));
            QCOMPARE(scan.left(5), QByteArray::fromHex("0107000000")); // message data of subscription 7
            // The default profile's /scan: a LaserScan in CDR.
            tx710::ros2::LaserScan laser;
            QVERIFY(tx710::ros2::decode(reinterpret_cast<const std::uint8_t*>(scan.constData()) + 13,
                                        std::size_t(scan.size() - 13), laser));
            QCOMPARE(laser.header.frame_id, std::string("tx710"));
            QCOMPARE(laser.ranges.size(), std::size_t(450));
        }
        ::kill(viewer.processId(), signal_number);
        QVERIFY(viewer.waitForFinished(15000));
        QCOMPARE(viewer.exitStatus(), QProcess::NormalExit);
        QCOMPARE(viewer.exitCode(), 0);
        if (main_window) {
            QCOMPARE(serialLockFiles(port), QStringList());
            sim.terminate();
            QVERIFY(sim.waitForFinished(5000));
        }
    }
};

QTEST_GUILESS_MAIN(TestProcesses)
#include "tst_processes.moc"
