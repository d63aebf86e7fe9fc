// The simulated LiDAR: frame stream, room geometry, recorded-file replay and
// the tx710-sim program on a pseudo-terminal.

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <sstream>

#include "SerialPort/frame_protocol.h"
#include "SerialPort/simulated_lidar.h"
#include "support/pty.h"

using tx710::FrameBytes;
using tx710::SimulatedLidar;

namespace {

int angleGap(int from, int to) // hundredths of a degree, forward, 0..35999
{
    return ((to - from) % 36000 + 36000) % 36000;
}

bool crcMatches(const std::uint8_t* frame)
{
    return tx710::crc8(frame, tx710::kCrcOffset) == frame[tx710::kCrcOffset];
}

QString simulatorPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/tx710-sim");
}

struct StreamCounts {
    int intact = 0;
    int corrupted = 0;
    int stray = 0;
    bool stray_header = false;
    bool truncated = false;
};

// Walks a byte stream in which frames follow each other, separated only by
// stray bytes that never hold the header byte.
StreamCounts walkStream(const QByteArray& bytes, QVector<FrameBytes>* frames = nullptr)
{
    StreamCounts counts;
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    int i = 0;
    while (i < bytes.size()) {
        if (data[i] != tx710::kHeaderByte) {
            ++counts.stray;
            ++i;
            continue;
        }
        if (i + int(tx710::kFrameLength) > bytes.size()) {
            counts.truncated = true;
            break;
        }
        if (data[i + 1] != tx710::kCountByte)
            counts.stray_header = true;
        crcMatches(data + i) ? ++counts.intact : ++counts.corrupted;
        if (frames) {
            FrameBytes frame;
            std::copy(data + i, data + i + tx710::kFrameLength, frame.begin());
            frames->append(frame);
        }
        i += int(tx710::kFrameLength);
    }
    return counts;
}

// Runs tx710-sim, reads its pseudo-terminal until it hangs up, and returns
// the bytes and its printed output.
struct SimRun {
    QByteArray line_bytes;
    QString output;
    int exit_code = -1;
    bool hung_up = false;
};

SimRun runSimulator(const QStringList& arguments, int read_timeout_ms = 10000)
{
    SimRun run;
    QProcess sim;
    sim.start(simulatorPath(), arguments);
    if (!sim.waitForStarted(5000))
        return run;
    while (!sim.canReadLine() && sim.waitForReadyRead(5000)) {
    }
    const QString path = QString::fromLocal8Bit(sim.readLine()).trimmed();
    run.line_bytes = tx710test::readUntilHangUp(path, read_timeout_ms, run.hung_up);
    sim.waitForFinished(5000);
    run.output = path + QLatin1Char('\n') + QString::fromLocal8Bit(sim.readAllStandardOutput());
    run.exit_code = sim.exitStatus() == QProcess::NormalExit ? sim.exitCode() : -1;
    return run;
}

} // namespace

class TestSimulator : public QObject
{
    Q_OBJECT
private slots:
    void framesAreIntactAndTurnAtTenRevolutionsPerSecond();
    void roomGeometryAndIntensities();
    void sceneHoldsNoReturnsAndAllIntensityBands();
    void sameSeedGivesSameStream();
    void rateSetsAngularStep();
    void recordedFileIsReadAndPackedIntoFrames();
    void malformedRecordingIsRefused();

    void programHelpAndBadOptions();
    void programStreamsCorruptedAndStrayBytesAsAsked();
    void programReplaysRecording();
    void programHangsUpAndStaysSilent();
};

void TestSimulator::framesAreIntactAndTurnAtTenRevolutionsPerSecond()
{
    SimulatedLidar lidar;
    QCOMPARE(lidar.degreesPerPoint(), 0.8);
    QCOMPARE(lidar.secondsPerFrame(), 12.0 / 4500.0);

    // 750 frames = 2 s of the device: 9000 points, 20 revolutions.
    int rounds = 0;
    int previous_start = -1;
    for (int i = 0; i < 750; ++i) {
        const FrameBytes frame = lidar.nextFrame();
        QVERIFY2(crcMatches(frame.data()), qPrintable(QStringLiteral("frame %1").arg(i)));
        QCOMPARE(frame[0], tx710::kHeaderByte);
        QCOMPARE(frame[1], tx710::kCountByte);
        const tx710::ScanFrameFields fields = tx710::decodeFrameFields(frame.data());
        QCOMPARE(fields.speed, std::uint16_t(3600));
        QVERIFY(fields.start_angle < 36000 && fields.end_angle < 36000);
        // Twelve points 0.8 degree apart: the last is 8.8 degrees on.
        QVERIFY(std::abs(angleGap(fields.start_angle, fields.end_angle) - 880) <= 1);
        if (previous_start >= 0) {
            QVERIFY(std::abs(angleGap(previous_start, fields.start_angle) - 960) <= 1);
            if (fields.start_angle < previous_start)
                ++rounds;
        }
        previous_start = fields.start_angle;
    }
    QCOMPARE(lidar.framesMade(), std::uint64_t(750));
    QCOMPARE(rounds, 19); // 20 revolutions, the first wrap after the first frame of round 2
    QVERIFY(std::abs(lidar.sceneTime() - 2.0) < 1e-9);
}

void TestSimulator::roomGeometryAndIntensities()
{
    SimulatedLidar lidar;
    // Angle 90 looks along -x at the left wall, 3 m away, where the
    // reflector strip is.
    tx710::ScanPoint p = lidar.measure(90.0, 0.0);
    QCOMPARE(int(p.distance), 3000);
    QCOMPARE(int(p.intensity), 255);
    p = lidar.measure(270.0, 0.0); // right wall
    QCOMPARE(int(p.distance), 3500);
    QVERIFY(p.intensity > 0 && p.intensity <= 210);
    p = lidar.measure(180.0, 0.0); // top wall, left of the door
    QCOMPARE(int(p.distance), 2500);
    QVERIFY(p.intensity <= 210);
    // Through the open door (x = 1, y = 2.5): nothing returns.
    const double door = std::atan2(-1.0, -2.5) * 180.0 / M_PI + 360.0;
    p = lidar.measure(door, 0.0);
    QCOMPARE(int(p.distance), 0);
    QCOMPARE(int(p.intensity), 0);
    // At t = 0 the object stands straight below the device, 0.9 m out,
    // radius 0.2 m, facing the beam: strong return.
    p = lidar.measure(0.0, 0.0);
    QCOMPARE(int(p.distance), 700);
    QCOMPARE(int(p.intensity), 255);
    // Two seconds later it has walked aside: the bottom wall shows.
    p = lidar.measure(0.0, 2.0);
    QCOMPARE(int(p.distance), 2000);
    // A glancing hit on the object still lies in the strong band.
    p = lidar.measure(12.0, 0.0);
    QVERIFY(p.distance > 700 && p.distance < 1000);
    QVERIFY(p.intensity >= 211 && p.intensity < 255);
}

void TestSimulator::sceneHoldsNoReturnsAndAllIntensityBands()
{
    SimulatedLidar lidar;
    int no_return = 0, weak = 0, strong = 0, saturated = 0, points = 0;
    int max_distance = 0;
    for (int i = 0; i < 375; ++i) { // one second
        const tx710::ScanFrameFields fields = lidar.nextFrameFields();
        for (const tx710::ScanPoint& point : fields.points) {
            ++points;
            if (point.distance == 0) {
                ++no_return;
                QCOMPARE(int(point.intensity), 0);
                continue;
            }
            max_distance = std::max(max_distance, int(point.distance));
            if (point.intensity == 255)
                ++saturated;
            else if (point.intensity >= 211)
                ++strong;
            else
                ++weak;
        }
    }
    QCOMPARE(points, 4500);
    QVERIFY(no_return > 0);
    QVERIFY(weak > strong);
    QVERIFY(strong > 0);
    QVERIFY(saturated > 0);
    // The far corner lies sqrt(3.5^2 + 2.5^2) = 4.30 m away.
    QVERIFY(max_distance > 4000 && max_distance <= 4310);
}

void TestSimulator::sameSeedGivesSameStream()
{
    SimulatedLidar a(4500, 7), b(4500, 7), c(4500, 8);
    bool differs_from_other_seed = false;
    for (int i = 0; i < 200; ++i) {
        const FrameBytes fa = a.nextFrame();
        QVERIFY(fa == b.nextFrame());
        differs_from_other_seed |= fa != c.nextFrame();
    }
    QVERIFY(differs_from_other_seed);
}

void TestSimulator::rateSetsAngularStep()
{
    SimulatedLidar fast(9000);
    QCOMPARE(fast.degreesPerPoint(), 0.4);
    const auto first = fast.nextFrameFields();
    const auto second = fast.nextFrameFields();
    QCOMPARE(angleGap(first.start_angle, second.start_angle), 480);
    QCOMPARE(first.speed, std::uint16_t(3600)); // still 10 rev/s
    SimulatedLidar fallback(0);
    QCOMPARE(fallback.pointsPerSecond(), 4500.0);
}

void TestSimulator::recordedFileIsReadAndPackedIntoFrames()
{
    std::ostringstream file;
    file << "Round angle distance intensity\n";
    // Round 0: 14 points from 352 degrees on, 0.8 apart (crossing 360).
    for (int i = 0; i < 14; ++i)
        file << "0 " << std::fmod(352.0 + 0.8 * i, 360.0) << ' ' << 1000 + i << ' ' << 200 + i << '\n';
    file << "\n"; // blank lines are tolerated
    file << "1 10 70000 300\n"; // clamped to what the fields carry
    std::istringstream in(file.str());

    std::vector<tx710::RecordedPoint> points;
    std::string error;
    QVERIFY(tx710::readRecordedPoints(in, points, error));
    QCOMPARE(int(points.size()), 15);
    QCOMPARE(points[13].round, 0);
    QCOMPARE(points[14].round, 1);

    const std::vector<FrameBytes> frames = tx710::framesFromRecordedPoints(points);
    QCOMPARE(int(frames.size()), 3); // 12 + 2 of round 0, then 1 of round 1
    for (const FrameBytes& frame : frames)
        QVERIFY(crcMatches(frame.data()));

    const auto full = tx710::decodeFrameFields(frames[0].data());
    QCOMPARE(int(full.start_angle), 35200);
    QCOMPARE(int(full.end_angle), 80); // 352 + 11 * 0.8 - 360
    QCOMPARE(int(full.points[0].distance), 1000);
    QCOMPARE(int(full.points[11].distance), 1011);
    QCOMPARE(int(full.points[11].intensity), 211);

    // The rest of round 0 is padded with no-return points on the same step.
    const auto padded = tx710::decodeFrameFields(frames[1].data());
    QCOMPARE(int(padded.start_angle), 160);
    QCOMPARE(int(padded.end_angle), 160 + 11 * 80);
    QCOMPARE(int(padded.points[1].distance), 1013);
    QCOMPARE(int(padded.points[2].distance), 0);
    QCOMPARE(int(padded.points[11].intensity), 0);

    const auto clamped = tx710::decodeFrameFields(frames[2].data());
    QCOMPARE(int(clamped.start_angle), 1000);
    QCOMPARE(int(clamped.points[0].distance), 65535);
    QCOMPARE(int(clamped.points[0].intensity), 255);
}

void TestSimulator::malformedRecordingIsRefused()
{
    const char* bad_files[] = {
        "Round angle distance intensity\n0 1.0 100 5\n0 2.0 abc 5\n",
        "Round angle distance intensity\n0 1.0 100\n",
        "Round angle distance intensity\n0 1.0 100 5 9\n",
        "Round angle distance intensity\n0 nan 100 5\n",
    };
    for (const char* text : bad_files) {
        std::istringstream in(text);
        std::vector<tx710::RecordedPoint> points;
        std::string error;
        QVERIFY2(!tx710::readRecordedPoints(in, points, error), text);
        QVERIFY2(error.find("line ") == 0, error.c_str());
    }
    std::istringstream second_line("Round angle distance intensity\n0 2.0 abc 5\n");
    std::vector<tx710::RecordedPoint> points;
    std::string error;
    QVERIFY(!tx710::readRecordedPoints(second_line, points, error));
    QVERIFY(error.find("line 2") == 0);
}

void TestSimulator::programHelpAndBadOptions()
{
    QVERIFY2(QFile::exists(simulatorPath()), "tx710-sim is built beside the tests");
    QProcess help;
    help.start(simulatorPath(), {QStringLiteral("--help")});
    QVERIFY(help.waitForFinished(5000));
    QCOMPARE(help.exitCode(), 0);
    const QString text = QString::fromLocal8Bit(help.readAllStandardOutput());
    for (const char* option : {"--device", "--duration", "--frames", "--rate", "--full-rate", "--corrupt-every",
                               "--stray-bytes", "--silent", "--hangup-after", "--replay", "--seed"})
        QVERIFY2(text.contains(QLatin1String(option)), option);

    const QStringList bad_calls[] = {
        {QStringLiteral("--nonsense")},
        {QStringLiteral("--corrupt-every"), QStringLiteral("0")},
        {QStringLiteral("--rate"), QStringLiteral("fast")},
        {QStringLiteral("--replay"), QStringLiteral("/nonexistent/tx710/recording.txt")},
    };
    for (const QStringList& arguments : bad_calls) {
        QProcess sim;
        sim.start(simulatorPath(), arguments);
        QVERIFY(sim.waitForFinished(5000));
        QVERIFY2(sim.exitCode() != 0, qPrintable(arguments.join(' ')));
        QVERIFY(sim.readAllStandardOutput().isEmpty()); // no port was made
    }
}

void TestSimulator::programStreamsCorruptedAndStrayBytesAsAsked()
{
    QVERIFY(QFile::exists(simulatorPath()));
    const SimRun run = runSimulator({QStringLiteral("--frames"), QStringLiteral("120"),
                                     QStringLiteral("--corrupt-every"), QStringLiteral("6"),
                                     QStringLiteral("--stray-bytes"), QStringLiteral("--full-rate")});
    QCOMPARE(run.exit_code, 0);
    QVERIFY(run.hung_up);
    const StreamCounts counts = walkStream(run.line_bytes);
    QCOMPARE(counts.intact, 100);
    QCOMPARE(counts.corrupted, 20);
    QVERIFY(counts.stray > 0);
    QVERIFY(!counts.stray_header);
    QVERIFY(!counts.truncated);
    QVERIFY2(run.output.contains(QStringLiteral("frames sent: 120\n")), qPrintable(run.output));
    QVERIFY2(run.output.contains(QStringLiteral("frames corrupted: 20\n")), qPrintable(run.output));
    QVERIFY2(run.output.contains(QStringLiteral("stray bytes: %1\n").arg(counts.stray)), qPrintable(run.output));
}

void TestSimulator::programReplaysRecording()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("2026_12_06_10_00_00.txt"));
    std::ostringstream text;
    text << "Round angle distance intensity\n";
    for (int round = 0; round < 2; ++round)
        for (int i = 0; i < 24; ++i)
            text << round << ' ' << 15.0 * i << ' ' << 500 + 10 * i << ' ' << 10 * i << '\n';
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray::fromStdString(text.str()));
    file.close();

    std::istringstream in(text.str());
    std::vector<tx710::RecordedPoint> points;
    std::string error;
    QVERIFY(tx710::readRecordedPoints(in, points, error));
    const std::vector<FrameBytes> expected = tx710::framesFromRecordedPoints(points);
    QCOMPARE(int(expected.size()), 4);

    // Six frames: the recording once and then again from its start.
    const SimRun run = runSimulator({QStringLiteral("--replay"), path, QStringLiteral("--frames"), QStringLiteral("6")});
    QCOMPARE(run.exit_code, 0);
    QVector<FrameBytes> frames;
    const StreamCounts counts = walkStream(run.line_bytes, &frames);
    QCOMPARE(counts.intact, 6);
    QCOMPARE(counts.stray, 0);
    for (int i = 0; i < frames.size(); ++i)
        QVERIFY2(frames[i] == expected[std::size_t(i) % expected.size()], qPrintable(QString::number(i)));
}

void TestSimulator::programHangsUpAndStaysSilent()
{
    // Silent: the line opens, nothing arrives, the simulator ends on time.
    SimRun run = runSimulator({QStringLiteral("--silent"), QStringLiteral("--duration"), QStringLiteral("1.5")});
    QCOMPARE(run.exit_code, 0);
    QVERIFY(run.hung_up);
    QVERIFY(run.line_bytes.isEmpty());
    QVERIFY(run.output.contains(QStringLiteral("frames sent: 0\n")));

    // Streaming at the device's pace, then unplugged after 1.5 s.
    run = runSimulator({QStringLiteral("--hangup-after"), QStringLiteral("1.5")});
    QCOMPARE(run.exit_code, 0);
    QVERIFY(run.hung_up);
    const StreamCounts counts = walkStream(run.line_bytes);
    QCOMPARE(counts.corrupted, 0);
    // Paced like the device (375 frames a second, at most 562 here), not
    // poured out at once.
    QVERIFY2(counts.intact > 0 && counts.intact < 650, qPrintable(QString::number(counts.intact)));
}

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"
