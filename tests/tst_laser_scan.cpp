// The regular LaserScan of a round and the ROS 2 recording around it: beams at
// the seams of the turn, nearer points, masks, mounting, speeds; bad option
// values; ROS 2 recordings read back for replay; diagnostics.

#include <QtTest>

#include <cmath>
#include <cstring>
#include <limits>

#include "recording/csv_writer.h"
#include "recording/laser_scan_builder.h"
#include "recording/mcap_chunk.h"
#include "recording/mcap_reader.h"
#include "recording/mcap_writer.h"
#include "recording/point_cloud_message.h"
#include "recording/ros2_cdr.h"
#include "recording/ros2_conversions.h"
#include "recording/ros2_mcap_profile.h"
#include "support/fixtures.h"

using namespace tx710;

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr std::int64_t kSecond = 1000000000;

// A test round's words: scan options ("name=value" or "name") and "angle:distance:intensity" points.
bool isOption(const QString& word)
{
    return word.contains('=') || !word.contains(':');
}

ScanOptions optionsOf(const QString& words)
{
    ScanOptions options;
    for (const QString& word : words.split(' ', Qt::SkipEmptyParts)) {
        const QStringList parts = word.split('=');
        std::string error;
        const QByteArray value = parts.value(1).toUtf8();
        if (isOption(word)
            && !parseScanOption(parts[0].toStdString(), parts.size() > 1 ? value.constData() : nullptr, options, error))
            qFatal("bad test option %s: %s", qPrintable(word), error.c_str());
    }
    return options;
}

ScanRound roundOf(const QString& words, std::int64_t receive_ns = 100 * kSecond)
{
    ScanRound round{1, receive_ns, {}};
    for (const QString& word : words.split(' ', Qt::SkipEmptyParts)) {
        const QStringList v = word.split(':');
        if (!isOption(word))
            round.points.push_back(PointRecord{v[2].toFloat(), v[1].toFloat(), v[0].toFloat()});
    }
    return round;
}

QByteArray bytesOf(const std::vector<std::uint8_t>& data)
{
    return QByteArray(reinterpret_cast<const char*>(data.data()), int(data.size()));
}

QByteArray ros2Recording(const QString& path, int rounds, int chunk_bytes, double rpm)
{
    mcap::WriterOptions options;
    options.sync_chunks = false;
    options.chunk_bytes = chunk_bytes;
    mcap::Writer writer(options);
    writer.open(path);
    for (int i = 1; i <= rounds; ++i) {
        writer.writeStatus(status::Sample{i * kSecond / 10, 375, 0, rpm, 4500});
        ScanRound round = roundOf(QStringLiteral("10:1500:40 200.5:820:9"), i * kSecond / 10 + 1);
        round.number = i;
        writer.writeRound(round);
    }
    writer.close();
    return tx710test::fileBytes(path);
}

// The /scan LaserScans (channel 1) of an MCAP file of ours, chunk by chunk.
std::vector<ros2::LaserScan> laserScansOf(const QByteArray& file)
{
    std::vector<ros2::LaserScan> scans;
    for (mcap::Cursor top(file.constData() + 8, std::uint64_t(file.size() - 8)); top.left() > 8;) {
        const auto opcode = top.get<std::uint8_t>();
        const QByteArray content = top.bytes(top.get<std::uint64_t>());
        QByteArray records;
        QString error;
        if (opcode != 0x06 || !mcap::unpackChunk(content, records, error))
            continue;
        for (mcap::Cursor record(records.constData(), std::uint64_t(records.size())); record.left() > 0;) {
            const bool message = record.get<std::uint8_t>() == 0x05;
            const QByteArray data = record.bytes(record.get<std::uint64_t>());
            ros2::LaserScan scan;
            if (message && qFromLittleEndian<quint16>(data.data()) == 1
                && ros2::decode(reinterpret_cast<const std::uint8_t*>(data.data()) + 22, std::size_t(data.size() - 22),
                                scan))
                scans.push_back(scan);
        }
    }
    return scans;
}

} // namespace

class TestLaserScan : public QObject
{
    Q_OBJECT

private slots:
    void beams_data()
    {
        QTest::addColumn<QString>("round");
        QTest::addColumn<int>("beam");
        QTest::addColumn<float>("range");
        QTest::addColumn<float>("intensity");
        // 450 beams from -180 degrees, 0.8 apart: bearing 0 is beam 225, 180 beam 0.
        QTest::newRow("0 and 360 meet in the forward beam, the nearer wins")
            << "0.1:1000:7 359.9:2000:5" << 225 << 1.0f << 7.0f;
        QTest::newRow("359.9 alone: the forward beam") << "359.9:2000:5" << 225 << 2.0f << 5.0f;
        QTest::newRow("just past 180 wraps to the first beam") << "180.3:3000:9" << 0 << 3.0f << 9.0f;
        QTest::newRow("two points in one beam: the nearer")
            << "90.4:1200:2 90.6:1500:1 90.2:0:3" << 112 << 1.2f << 2.0f;
        QTest::newRow("empty beam: +Inf, intensity 0") << "90.4:1500:1" << 113 << kInf << 0.0f;
        QTest::newRow("only points without a return: +Inf") << "90.4:0:50" << 112 << kInf << 0.0f;
        QTest::newRow("nearer than range_min: -Inf") << "range-min=0.5 90.4:300:50" << 112 << -kInf << 0.0f;
        QTest::newRow("beyond range_max: +Inf") << "range-max=2 90.4:2500:50" << 112 << kInf << 0.0f;
        QTest::newRow("a mask wrapping past 360 holds 0") << "mask=350:10 0:1000:5" << 225 << kInf << 0.0f;
        QTest::newRow("... and not 20") << "mask=350:10 20:1000:5" << 200 << 1.0f << 5.0f;
        QTest::newRow("several masks") << "mask=350:10 mask=80:100 90.4:1000:5" << 112 << kInf << 0.0f;
        QTest::newRow("upside down mirrors: 90 is left") << "upside-down 89.6:1000:5" << 337 << 1.0f << 5.0f;
        QTest::newRow("yaw 90: 0 points left") << "yaw=90 0.4:1000:5" << 337 << 1.0f << 5.0f;
        QTest::newRow("masks stay in the device's angles") << "yaw=90 mask=355:5 0.4:1000:5" << 337 << kInf << 0.0f;
        QTest::newRow("900 beams") << "beams=900 90:1000:5" << 225 << 1.0f << 5.0f;
    }
    void beams()
    {
        QFETCH(QString, round);
        QFETCH(int, beam);
        QFETCH(float, range);
        QFETCH(float, intensity);
        LaserScanBuilder builder(optionsOf(round));
        const ros2::LaserScan scan = builder.build(roundOf(round), 600);
        QCOMPARE(scan.ranges.at(std::size_t(beam)), range);
        QCOMPARE(scan.intensities.at(std::size_t(beam)), intensity);
    }

    void timing_data()
    {
        QTest::addColumn<double>("rpm");
        QTest::addColumn<double>("turn");
        QTest::newRow("5 rev/s") << 300.0 << 0.2;
        QTest::newRow("10 rev/s") << 600.0 << 0.1;
        QTest::newRow("15 rev/s") << 900.0 << 1.0 / 15;
        QTest::newRow("no speed known: 10 rev/s") << 0.0 << 0.1;
    }
    // The beams' angles and sizes are checked by tests/interop.
    void timing()
    {
        QFETCH(double, rpm);
        QFETCH(double, turn);
        // The device's 4500 points/s: more points a turn when it turns slower.
        QString points;
        const int count = int(4500 * turn);
        for (int i = 0; i < count; ++i)
            points += QStringLiteral("%1:1000:1 ").arg(360.0 * i / count);
        LaserScanBuilder builder;
        const ros2::LaserScan scan = builder.build(roundOf(points, 100 * kSecond), rpm);
        QCOMPARE(scan.scan_time, float(turn));
        QCOMPARE(scan.time_increment, float(turn / 450));
        QCOMPARE(nanoseconds(scan.header.stamp), 100 * kSecond - std::llround(turn * 1e9));
    }

    void stampsStrictlyIncrease()
    {
        LaserScanBuilder builder;
        const auto first = nanoseconds(builder.build(roundOf("", 10 * kSecond), 900).header.stamp);
        // Slower now: one turn back from the next receive time lies before the first stamp.
        const auto second = nanoseconds(builder.build(roundOf("", 10 * kSecond + 50000000), 300).header.stamp);
        QCOMPARE(second, first + 1);
    }

    // One frame for every x and y of a recording; the raw columns stay as measured.
    void mountingShapesEveryXAndY_data()
    {
        QTest::addColumn<QString>("round");
        QTest::addColumn<QByteArray>("csv"); // the CSV row after the time
        QTest::newRow("as mounted") << "90:2000:7" << QByteArray("90.000,2000,7,0.000000,-2.000000");
        QTest::newRow("yaw 90: 0 is left") << "yaw=90 0:2000:7" << QByteArray("0.000,2000,7,0.000000,2.000000");
        QTest::newRow("upside down: 90 is left")
            << "upside-down 90:2000:7" << QByteArray("90.000,2000,7,0.000000,2.000000");
    }
    void mountingShapesEveryXAndY()
    {
        QFETCH(QString, round);
        QFETCH(QByteArray, csv);
        const ScanOptions mounting = optionsOf(round);
        const ScanRound points = roundOf(round);
        QByteArray row;
        csv::appendRound(row, points, mounting);
        QCOMPARE(row.mid(row.indexOf(',', row.indexOf(',') + 1) + 1), csv + '\n');
        const QList<QByteArray> xy = csv.split(',').mid(3);
        const auto firstXY = [](const void* data) {
            float xy[2];
            std::memcpy(xy, data, sizeof xy);
            return QByteArray::number(xy[0], 'f', 6) + ',' + QByteArray::number(xy[1], 'f', 6);
        };
        QCOMPARE(firstXY(ros2::pointCloudOf(points, mounting).data.data()), xy.join(','));
        const QJsonObject foxglove = QJsonDocument::fromJson(pointcloud::encode(points, mounting)).object();
        QCOMPARE(firstXY(QByteArray::fromBase64(foxglove.value("data").toString().toLatin1()).constData()),
                 xy.join(','));
    }

    void badOption_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("error");
        QTest::newRow("beams below 90") << "beams" << QByteArray("89") << "--beams needs a whole number";
        QTest::newRow("beams not whole") << "beams" << QByteArray("450.5") << "'450.5'";
        QTest::newRow("beams with a tail") << "beams" << QByteArray("450x") << "'450x'";
        QTest::newRow("range not a number") << "range-max" << QByteArray("nan") << "--range-max needs metres";
        QTest::newRow("negative range") << "range-min" << QByteArray("-1") << "'-1'";
        QTest::newRow("mask without TO") << "mask" << QByteArray("10") << "--mask needs FROM:TO";
        QTest::newRow("mask past 360") << "mask" << QByteArray("10:361") << "'10:361'";
        QTest::newRow("empty mask") << "mask" << QByteArray("10:10") << "--mask needs FROM:TO";
        QTest::newRow("yaw not a number") << "yaw" << QByteArray("east") << "--yaw needs degrees";
        QTest::newRow("frame id with a blank") << "frame-id" << QByteArray("base link") << "--frame-id needs";
        QTest::newRow("control bytes escaped") << "frame-id" << QByteArray("a\x1b[2J") << "'a\\x1B[2J'";
        QTest::newRow("a long value shortened")
            << "yaw" << QByteArray(200, '9') << QString("'%1...'").arg(QString(40, '9'));
        QTest::newRow("unknown profile") << "mcap-profile" << QByteArray("ros1") << "ros2 or foxglove";
    }
    void badOption()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, value);
        QFETCH(QString, error);
        ScanOptions options;
        std::string message;
        QVERIFY(!parseScanOption(name.toStdString(), value.constData(), options, message));
        QVERIFY2(QString::fromStdString(message).contains(error), message.c_str());
    }

    // One chunk per message: a cut can fall anywhere, and the rounds before it come back whole.
    // Replayed whole, the recording keeps its turning speed in the LaserScans written.
    void ros2RecordingReadsBack_data()
    {
        QTest::addColumn<double>("share");
        QTest::newRow("whole") << 1.0;
        QTest::newRow("a tenth") << 0.1;
        QTest::newRow("half") << 0.5;
        QTest::newRow("all but the last byte") << -1.0;
    }
    void ros2RecordingReadsBack()
    {
        QFETCH(double, share);
        QTemporaryDir dir;
        const QString recording = dir.filePath(QStringLiteral("a.mcap")), replayed = dir.filePath("b.mcap");
        const QByteArray whole = ros2Recording(recording, 10, 1, 300);
        mcap::Contents contents;
        QString error;
        QVERIFY2(mcap::parse(whole.left(share < 0 ? whole.size() - 1 : int(whole.size() * share)), contents, error),
                 qPrintable(error));
        QCOMPARE(contents.complete, share == 1.0);
        QVERIFY(contents.rounds.size() < 10 || share >= 1.0 || share < 0);
        for (const ScanRound& round : contents.rounds)
            QCOMPARE(round.points.size(), std::size_t(2));
        if (share < 1.0)
            return;
        QCOMPARE(contents.rounds.size(), std::size_t(10));
        const ScanRound& third = contents.rounds[2];
        QCOMPARE(QStringLiteral("%1 %2 %3:%4:%5 %6")
                     .arg(third.number)
                     .arg(third.receive_time_ns)
                     .arg(third.points[1].angle)
                     .arg(third.points[1].distance)
                     .arg(third.points[1].intensity)
                     .arg(third.speed_rpm),
                 QStringLiteral("3 300000001 200.5:820:9 300"));
        QCOMPARE(contents.status_messages, std::size_t(10));
        QCOMPARE(QProcess::execute(tx710test::programPath("tx710-record"),
                                   {"--quiet", "--replay", recording, "--out", replayed}),
                 0);
        const std::vector<ros2::LaserScan> scans = laserScansOf(tx710test::fileBytes(replayed));
        QCOMPARE(scans.size(), std::size_t(10));
        QCOMPARE(scans.back().scan_time, 0.2f); // 300 rpm: 5 turns a second
    }

    // After a first LaserScan of 450 beams, a second message that replay refuses.
    void replayRefuses_data()
    {
        QTest::addColumn<QByteArray>("topic");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("error");
        const QByteArray scan = bytesOf(ros2::encode(LaserScanBuilder().build(roundOf(""), 600)));
        const auto cloud = [](int points, float distance) {
            ScanRound round = roundOf(QString());
            round.points.assign(std::size_t(points), PointRecord{5.0f, distance, 90.0f});
            return bytesOf(ros2::encode(ros2::pointCloudOf(round, ScanOptions())));
        };
        const QString not_finite = QStringLiteral("round 2: point 1 of the point cloud is not a finite number");
        QTest::newRow("LaserScan of another length")
            << QByteArray("/scan")
            << bytesOf(ros2::encode(LaserScanBuilder(optionsOf("beams=300")).build(roundOf(""), 600)))
            << "LaserScan 2 has 300 ranges and 300 intensities, the first scan 450 beams";
        QTest::newRow("LaserScan cut short")
            << QByteArray("/scan") << scan.left(scan.size() - 9) << "LaserScan 2: the CDR bytes are damaged";
        QTest::newRow("more points than a round holds") << QByteArray("/tx710/points") << cloud(100001, 1000)
                                                        << "round 2: the point cloud has more than 100000 points";
        QTest::newRow("not a number") << QByteArray("/tx710/points")
                                      << cloud(2, std::numeric_limits<float>::quiet_NaN()) << not_finite;
        QTest::newRow("infinite") << QByteArray("/tx710/points") << cloud(2, kInf) << not_finite;
    }
    void replayRefuses()
    {
        QFETCH(QByteArray, topic);
        QFETCH(QByteArray, data);
        QFETCH(QString, error);
        ros2::McapReplay replay;
        ros2::ReplayItem item;
        QString message;
        QVERIFY(replay.take("/scan", "sensor_msgs/msg/LaserScan", 1, 0,
                            bytesOf(ros2::encode(LaserScanBuilder().build(roundOf(""), 600))), item, message));
        const QByteArray type = topic == "/scan" ? "sensor_msgs/msg/LaserScan" : "sensor_msgs/msg/PointCloud2";
        QVERIFY(!replay.take(topic, type, 2, 0, data, item, message));
        QCOMPARE(message, error);
    }

    // /diagnostics tells a lost link from a silent one.
    void diagnosticsLevels_data()
    {
        QTest::addColumn<qint64>("down_since_s");
        QTest::addColumn<QString>("status"); // level, message, the last value
        QTest::newRow("silent") << qint64(0) << "2 no data link=no data";
        QTest::newRow("link lost 2.5 s ago") << qint64(8) << "2 link lost link_down_s=2.5";
    }
    void diagnosticsLevels()
    {
        QFETCH(qint64, down_since_s);
        QFETCH(QString, status);
        status::Sample sample{10 * kSecond + kSecond / 2, 0, 0, 600, 0};
        sample.link_down_since_ns = down_since_s * kSecond;
        const ros2::DiagnosticStatus got = ros2::diagnosticsOf(sample, status::Sample(), "front").status.at(0);
        QCOMPARE(QStringLiteral("%1 %2 %3=%4")
                     .arg(got.level)
                     .arg(QString::fromStdString(got.message), QString::fromStdString(got.values.back().key),
                          QString::fromStdString(got.values.back().value)),
                 status);
    }
};

QTEST_GUILESS_MAIN(TestLaserScan)
#include "tst_laser_scan.moc"
