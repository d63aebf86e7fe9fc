// The regular LaserScan of a round and the ROS 2 recording around it: beams at
// the seams of the turn, nearer points, masks, mounting, speeds; bad option
// values; ROS 2 recordings read back for replay; several LiDARs and their
// transforms in both profiles, and hostile ones.

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <cstring>
#include <limits>
#include <zstd.h>

#include "recording/csv_writer.h"
#include "recording/frame_transform.h"
#include "recording/laser_scan_builder.h"
#include "recording/mcap_reader.h"
#include "recording/mcap_writer.h"
#include "recording/point_cloud_message.h"
#include "recording/ros2_cdr.h"
#include "recording/ros2_conversions.h"
#include "recording/ros2_mcap_profile.h"
#include "replay/recording_file.h"
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

// "frame" or "frame@x,y,z,yaw" per device, blank-separated.
DeviceScans devicesOf(const QString& words, ScanOptions::Profile profile = ScanOptions::Profile::Ros2)
{
    DeviceScans devices;
    for (const QString& word : words.split(' ', Qt::SkipEmptyParts)) {
        ScanOptions device;
        device.profile = profile;
        device.frame_id = word.section('@', 0, 0).toStdString();
        const QStringList mount = word.section('@', 1).split(',', Qt::SkipEmptyParts);
        device.mounted = mount.size() == 4;
        if (device.mounted)
            device.mount =
                ScanOptions::Mount{mount[0].toDouble(), mount[1].toDouble(), mount[2].toDouble(), mount[3].toDouble()};
        devices.push_back(device);
    }
    return devices;
}

// Three rounds and statuses of each device, in turn; device k turns at 300 * (k + 1) rpm.
QByteArray devicesRecording(const QString& path, const DeviceScans& devices)
{
    mcap::WriterOptions options;
    options.sync_chunks = false;
    options.devices = devices;
    mcap::Writer writer(options);
    writer.open(path);
    for (int i = 1; i <= 3; ++i) {
        for (int k = 0; k < int(devices.size()); ++k) {
            const std::int64_t at = i * kSecond + k * kSecond / 100;
            status::Sample sample{at, 375, 0, 300.0 * (k + 1), 4500};
            sample.device = k;
            writer.writeStatus(sample);
            ScanRound round = roundOf(QStringLiteral("10:1500:40"), at + 1);
            round.number = i;
            round.device = k;
            writer.writeRound(round);
        }
    }
    writer.close();
    return tx710test::fileBytes(path);
}

QString placementsOf(const QString& base_frame, const std::vector<mcap::DevicePlacement>& devices)
{
    QStringList placed;
    for (const mcap::DevicePlacement& device : devices)
        placed << (device.placed ? QStringLiteral("%1@%2,%3,%4,%5")
                                       .arg(device.frame_id)
                                       .arg(device.x)
                                       .arg(device.y)
                                       .arg(device.z)
                                       .arg(std::round(device.yaw_deg * 1000) / 1000)
                                 : device.frame_id + '?');
    return devices.empty() ? base_frame : base_frame + ": " + placed.join(' ');
}

// The /scan LaserScans (channel 1) of an MCAP file of ours, chunk by chunk.
std::vector<ros2::LaserScan> laserScansOf(const QByteArray& file)
{
    const auto size = [](const QByteArray& bytes, int at) {
        return int(qFromLittleEndian<quint64>(bytes.data() + at));
    };
    std::vector<ros2::LaserScan> scans;
    for (int at = 8; at + 9 <= file.size(); at += 9 + size(file, at + 1)) {
        if (file.at(at) != 0x06)
            continue;
        const QByteArray chunk = file.mid(at + 9, size(file, at + 1));
        const QByteArray stored = chunk.mid(40 + qFromLittleEndian<qint32>(chunk.data() + 28));
        QByteArray records(size(chunk, 16), Qt::Uninitialized);
        ZSTD_decompress(records.data(), std::size_t(records.size()), stored.data(), std::size_t(stored.size()));
        for (int r = 0; r + 9 <= records.size(); r += 9 + size(records, r + 1)) {
            const QByteArray message = records.mid(r + 9, size(records, r + 1));
            ros2::LaserScan scan;
            if (records.at(r) == 0x05 && qFromLittleEndian<quint16>(message.data()) == 1
                && ros2::decode(reinterpret_cast<const std::uint8_t*>(message.data()) + 22,
                                std::size_t(message.size() - 22), scan))
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
        QCOMPARE(scan.ranges.size(), std::size_t(450));
        QCOMPARE(scan.intensities.size(), std::size_t(450));
        QCOMPARE(scan.scan_time, float(turn));
        QCOMPARE(scan.time_increment, float(turn / 450));
        QCOMPARE(nanoseconds(scan.header.stamp), 100 * kSecond - std::llround(turn * 1e9));
        QCOMPARE(scan.angle_min, float(-M_PI));
        QCOMPARE(scan.angle_increment, float(2 * M_PI / 450));
        QVERIFY(std::abs(scan.angle_max - (scan.angle_min + 449 * scan.angle_increment)) < 1e-5f);
        QCOMPARE(scan.header.frame_id, std::string("tx710"));
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
        QCOMPARE(contents.rounds[2].number, 3);
        QCOMPARE(contents.rounds[2].receive_time_ns, 3 * kSecond / 10 + 1);
        QCOMPARE(contents.rounds[2].points[1].angle, 200.5f);
        QCOMPARE(contents.rounds[2].points[1].distance, 820.0f);
        QCOMPARE(contents.rounds[2].points[1].intensity, 9.0f);
        QCOMPARE(contents.rounds[2].speed_rpm, 300.0);
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
        QTest::addColumn<double>("frames");
        QTest::addColumn<qint64>("down_since_s");
        QTest::addColumn<QString>("status"); // level, message, link, link_down_s
        QTest::newRow("receiving") << 375.0 << qint64(0) << "0 receiving receiving -";
        QTest::newRow("silent") << 0.0 << qint64(0) << "2 no data no data -";
        QTest::newRow("link lost 2.5 s ago") << 0.0 << qint64(8) << "2 link lost lost 2.5";
    }
    void diagnosticsLevels()
    {
        QFETCH(double, frames);
        QFETCH(qint64, down_since_s);
        QFETCH(QString, status);
        status::Sample sample{10 * kSecond + kSecond / 2, frames, 0, 600, frames * 12};
        sample.link_down_since_ns = down_since_s * kSecond;
        const ros2::DiagnosticStatus got = ros2::diagnosticsOf(sample, status::Sample(), "front").status.at(0);
        std::map<std::string, std::string> values{{"link_down_s", "-"}};
        for (const ros2::KeyValue& pair : got.values)
            values[pair.key] = pair.value;
        QCOMPARE(QStringLiteral("%1 %2 %3 %4")
                     .arg(got.level)
                     .arg(QString::fromStdString(got.message), QString::fromStdString(values["link"]),
                          QString::fromStdString(values["link_down_s"])),
                 status);
    }

    // The transforms in CDR are the official serializer's bytes (tests/interop wrote the fixture).
    void staticTransformsAsTheOfficialSerializer()
    {
        const QByteArray official = tx710test::hexFixture("tf_static_two_devices.hex");
        const auto transforms =
            ros2::staticTransformsOf(devicesOf("front@0.2,0,0.3,0 rear@-0.2,0,0.3,180"), 1780000000123456789LL);
        QCOMPARE(bytesOf(ros2::encode(transforms)), official);
        ros2::TFMessage decoded;
        QVERIFY(ros2::decode(reinterpret_cast<const std::uint8_t*>(official.data()), std::size_t(official.size()),
                             decoded));
        QCOMPARE(bytesOf(ros2::encode(decoded)), official);
    }

    // Several LiDARs, or one mounted: their topics, /tf_static once before the
    // first round, and every round read back with its device, speed and placement.
    void devicesRecordAndReadBack_data()
    {
        QTest::addColumn<bool>("ros2");
        QTest::addColumn<QString>("devices");
        QTest::addColumn<QString>("topics");
        QTest::addColumn<QString>("first_channels"); // of the first two rounds' messages
        QTest::addColumn<QString>("placements");
        const QString two = "front@0.2,0,0.3,0 rear@-0.2,0,0.3,180";
        const QString placed = "base_link: front@0.2,0,0.3,0 rear@-0.2,0,0.3,180";
        QTest::newRow("ros2, one device: as ever") << true << "tx710"
                                                   << "/scan /tx710/points /diagnostics"
                                                   << "1 2 | 1 2"
                                                   << "";
        QTest::newRow("ros2, one mounted") << true << "tx710@0.1,0,0.2,90"
                                           << "/scan /tx710/points /diagnostics /tf_static"
                                           << "4 1 2 | 1 2"
                                           << "base_link: tx710@0.1,0,0.2,90";
        QTest::newRow("ros2, two") << true << two
                                   << "/front/scan /front/tx710/points /diagnostics /tf_static /rear/scan "
                                      "/rear/tx710/points"
                                   << "4 1 2 | 5 6" << placed;
        QTest::newRow("ros2, two, one at the origin") << true << "front rear@-0.2,0,0.3,180"
                                                      << "/front/scan /front/tx710/points /diagnostics /tf_static "
                                                         "/rear/scan /rear/tx710/points"
                                                      << "4 1 2 | 5 6"
                                                      << "base_link: front@0,0,0,0 rear@-0.2,0,0.3,180";
        QTest::newRow("foxglove, one device: as ever") << false << "tx710"
                                                       << "/scan /tx710/status"
                                                       << "1 | 1"
                                                       << "";
        QTest::newRow("foxglove, two") << false << two
                                       << "/front/scan /front/tx710/status /tf_static /rear/scan /rear/tx710/status"
                                       << "3 3 1 | 4" << placed;
    }
    void devicesRecordAndReadBack()
    {
        QFETCH(bool, ros2);
        QFETCH(QString, devices);
        QFETCH(QString, topics);
        QFETCH(QString, first_channels);
        QFETCH(QString, placements);
        const DeviceScans scans =
            devicesOf(devices, ros2 ? ScanOptions::Profile::Ros2 : ScanOptions::Profile::Foxglove);
        const auto profile = makeRecordingProfile(scans);
        QStringList channel_topics, channels;
        for (const RecordingProfile::Channel& channel : profile->channels())
            channel_topics << QString::fromUtf8(channel.topic.topic);
        QCOMPARE(channel_topics.join(' '), topics);
        for (int k = 0; k < 2; ++k) {
            ScanRound round = roundOf(QStringLiteral("10:1500:40"));
            round.device = k % int(scans.size());
            std::vector<RecordingProfile::Message> messages;
            profile->roundMessages(round, messages);
            for (const RecordingProfile::Message& message : messages)
                channels << QString::number(message.channel);
            channels << "|";
        }
        channels.removeLast();
        QCOMPARE(channels.join(' '), first_channels);

        QTemporaryDir dir;
        const QByteArray file = devicesRecording(dir.filePath("a.mcap"), scans);
        mcap::Contents contents;
        QString error;
        QVERIFY2(mcap::parse(file, contents, error), qPrintable(error));
        QCOMPARE(placementsOf(contents.base_frame, contents.devices), placements);
        QStringList expected, read, replayed;
        for (int i = 0; i < 3 * int(scans.size()); ++i)
            expected << QStringLiteral("%1:%2").arg(i % scans.size()).arg(300 * (i % scans.size() + 1));
        for (const ScanRound& round : contents.rounds)
            read << QStringLiteral("%1:%2").arg(round.device).arg(round.speed_rpm);
        QCOMPARE(read, expected);
        replay::Recording recording;
        QVERIFY2(recording.openBytes(file, "a.mcap", error), qPrintable(error));
        for (int i = 0; i < recording.count(); ++i) {
            replay::Round round;
            QVERIFY2(recording.read(i, round, error), qPrintable(error));
            replayed << QStringLiteral("%1:%2").arg(round.device).arg(round.speed_rpm);
        }
        QCOMPARE(replayed, expected);
        QCOMPARE(placementsOf(recording.baseFrame(), recording.devices()), placements);
    }

    // Transforms no LiDAR can have, too many devices, frames too long: a
    // short reason, never a crash; a device whose topics are no frame's is left alone.
    void hostileDevices_data()
    {
        QTest::addColumn<QString>("devices");
        QTest::addColumn<QString>("outcome"); // the rounds read, or the error
        QStringList seventeen;
        for (int k = 0; k < 17; ++k)
            seventeen << QStringLiteral("d%1").arg(k);
        QTest::newRow("sixteen devices") << seventeen.mid(1).join(' ') << "48 rounds";
        QTest::newRow("seventeen devices") << seventeen.join(' ') << "more than 16 devices";
        QTest::newRow("far away") << "front rear@5000,0,0,0"
                                  << "/tf_static: the transform to 'rear' lies 5000 m away, more than 1000 m";
        QTest::newRow("not finite") << "front rear@nan,0,0,0"
                                    << "/tf_static: the transform to 'rear' is not finite";
        QTest::newRow("frame id too long") << "front " + QString(65, 'r')
                                           << "/tf_static: a transform from 'base_link' to '" + QString(40, 'r')
                + "...': frame ids have 1 to 64 characters";
        QTest::newRow("a frame that is no topic token") << "front a-b"
                                                        << "3 rounds";
    }
    void hostileDevices()
    {
        QFETCH(QString, devices);
        QFETCH(QString, outcome);
        QTemporaryDir dir;
        mcap::Contents contents;
        QString error;
        const bool read = mcap::parse(devicesRecording(dir.filePath("a.mcap"), devicesOf(devices)), contents, error);
        QCOMPARE(read ? QStringLiteral("%1 rounds").arg(contents.rounds.size()) : error, outcome);
    }

    void unitQuaternionsOnly()
    {
        ros2::TransformStamped transform;
        transform.header.frame_id = "base_link";
        transform.child_frame_id = "front";
        transform.transform.rotation.w = 2;
        mcap::DevicePlacement placement;
        QString error;
        QVERIFY(!frametransform::placementOf(transform, placement, error));
        QCOMPARE(error, QStringLiteral("the transform to 'front' turns by a quaternion of length 2, not 1"));
    }
};

QTEST_GUILESS_MAIN(TestLaserScan)
#include "tst_laser_scan.moc"
