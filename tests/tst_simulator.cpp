// The simulated LiDAR: frames of the room, recorded-file replay and the tx710-sim program.

#include <QProcess>
#include <QTemporaryFile>
#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <sstream>
#include <unistd.h>

#include "support/fixtures.h"
#include "tools/simulated_lidar.h"

using namespace tx710;

namespace {

struct SimRun {
    QString output;             // what it printed after the port, then "exit <code>"
    QVector<FrameBytes> frames; // those with a correct CRC
};

// Runs tx710-sim and reads its line until the simulator hangs up.
SimRun runSimulator(const QString& arguments)
{
    QProcess sim;
    const QString port = tx710test::startSimulator(sim, arguments.split(' '));
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
    const int length = int(kFrameLength);
    int from = 0, at = 0;
    while ((at = bytes.indexOf(char(kHeaderByte), from)) >= 0 && at + length <= bytes.size()) {
        FrameBytes frame;
        std::copy_n(bytes.begin() + at, length, frame.begin());
        if (frameCrcMatches(frame.data()))
            run.frames.append(frame);
        from = at + length;
    }
    return run;
}

} // namespace

class TestSimulator : public QObject
{
    Q_OBJECT
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
        std::ostringstream text;
        text << "Round angle distance intensity\n";
        for (int i = 0; i < 14; ++i)
            text << "0 " << std::fmod(352.0 + 0.8 * i, 360.0) << ' ' << 1000 + i << ' ' << 200 + i << '\n';
        text << "\n1 10 70000 300\n";
        QTemporaryFile file;
        QVERIFY(file.open());
        QVERIFY(file.write(text.str().c_str()) > 0);
        QVERIFY(file.flush());
        const SimRun run = runSimulator(QStringLiteral("--replay %1 --frames 7").arg(file.fileName()));
        QCOMPARE(run.output, QStringLiteral("frames sent: 7\nframes corrupted: 0\nstray bytes: 0\nexit 0"));
        QCOMPARE(run.frames.size(), 7);
        QVector<int> values;
        for (int i = 0; i < run.frames.size(); ++i) {
            QVERIFY(run.frames[i] == run.frames[i % 3]); // played over again from its start
            const ScanFrameFields f = decodeFrameFields(run.frames[i].data());
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
};

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"
