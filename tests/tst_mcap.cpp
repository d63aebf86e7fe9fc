// The recording formats: the point cloud message, the CSV rows, the MCAP
// file's chunks, damaged files and a full disk; several LiDARs and their
// transforms in both profiles, read back, and hostile ones. Files through MCAP and back
// are checked byte for byte by the recorder's tests.

#include <QtTest>

#include "recording/csv_writer.h"
#include "recording/frame_transform.h"
#include "recording/mcap_reader.h"
#include "recording/mcap_writer.h"
#include "recording/point_cloud_message.h"
#include "recording/ros2_cdr.h"
#include "recording/ros2_conversions.h"
#include "replay/recording_file.h"
#include "support/device_scans.h"
#include "support/fixtures.h"

using namespace tx710;
using tx710test::devicesOf;

namespace {

constexpr std::int64_t kStartNs = 1780000000123456789LL;

ScanRound tinyRound()
{
    return ScanRound{7, kStartNs, {{200, 1000, 90}, {0, 0, 0.8f}, {17, 2500.5f, 180}}};
}

// Rounds of 450 points that compress about as badly as real ones.
ScanRound busyRound(int number)
{
    ScanRound round{number, kStartNs + number * 100000000LL, {}};
    for (int i = 0; i < 450; ++i)
        round.points.push_back(
            PointRecord{float((i * 37 + number) % 256), float(300 + (i * 7919 + number) % 9000), float(i * 0.8)});
    return round;
}

QByteArray writtenMcap(const QString& path, const std::vector<ScanRound>& rounds, int chunk_bytes = 1 << 20)
{
    mcap::WriterOptions options;
    options.chunk_bytes = chunk_bytes;
    mcap::Writer writer(options);
    writer.open(path);
    for (const ScanRound& round : rounds)
        writer.writeRound(round);
    writer.close();
    return tx710test::fileBytes(path);
}

// Offsets of the top-level records with `opcode`, after the magic.
std::vector<int> recordOffsets(const QByteArray& file, std::uint8_t opcode)
{
    std::vector<int> offsets;
    for (int at = 8; at + 9 <= file.size(); at += 9 + int(qFromLittleEndian<quint64>(file.constData() + at + 1))) {
        if (std::uint8_t(file[at]) == opcode)
            offsets.push_back(at);
    }
    return offsets;
}

QByteArray patched(QByteArray bytes, int at, const QByteArray& with)
{
    return bytes.replace(at, with.size(), with);
}

QByteArray littleEndian64(quint64 value)
{
    QByteArray bytes(8, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

// Four rounds of each device in turn, each followed by a status of device k
// at 300 * (k + 1) rpm, 0 (not known) after its second round, 20 more after its third.
QByteArray devicesRecording(const QString& path, const DeviceScans& devices)
{
    mcap::WriterOptions options;
    options.sync_chunks = false;
    options.devices = devices;
    mcap::Writer writer(options);
    writer.open(path);
    const int count = int(devices.size());
    for (int i = 0; i < 4 * count; ++i) {
        const int device = i % count, round = i / count;
        writer.writeRound(ScanRound{round + 1, kStartNs + 2 * i, tinyRound().points, 0, device});
        const double rpm = round == 1 ? 0 : 300 * (device + 1) + 10 * round;
        writer.writeStatus(status::Sample{kStartNs + 2 * i + 1, 375, 0, rpm, 4500, device});
    }
    writer.close();
    return tx710test::fileBytes(path);
}

QString placementsOf(const QString& base_frame, const std::vector<mcap::DevicePlacement>& devices)
{
    QString text = base_frame;
    for (const mcap::DevicePlacement& d : devices)
        text += QStringLiteral(" %1:%2,%3,%4,%5").arg(d.frame_id).arg(d.x).arg(d.y).arg(d.z).arg(std::round(d.yaw_deg));
    return text;
}

} // namespace

class TestMcap : public QObject
{
    Q_OBJECT
private slots:
    void tinyRoundAsPointCloudAndCsv()
    {
        QCOMPARE(pointcloud::encode(tinyRound()),
                 tx710test::fileBytes(tx710test::fixturePath(QStringLiteral("point_cloud_tiny_round.json"))).trimmed());
        QByteArray text = csv::headerLine();
        csv::appendRound(text, tinyRound());
        QCOMPARE(text,
                 QByteArray("round,time,angle_deg,distance_mm,intensity,x_m,y_m\n"
                            "7,1780000000.123456,90.000,1000,200,0.000000,-1.000000\n"
                            "7,1780000000.123456,0.800,0,0,0.000000,0.000000\n"
                            "7,1780000000.123456,180.000,2500.5,17,-2.500500,0.000000\n"));
    }

    // A power cut loses at most the last second: each chunk, of at most a
    // second of rounds even when they do not fall on the second, is on disk
    // before close(), and a file without its end still reads.
    void chunksOfASecondReachTheDisk()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("a.mcap"));
        mcap::Writer writer;
        QVERIFY(writer.open(path));
        for (int number = 1; number <= 12; ++number) {
            ScanRound round = busyRound(number);
            round.receive_time_ns = kStartNs + number * 300000000LL;
            QVERIFY(writer.writeRound(round));
        }
        mcap::Contents contents;
        QString error;
        QVERIFY2(mcap::parse(tx710test::fileBytes(path), contents, error), qPrintable(error));
        QCOMPARE(contents.rounds.size(), std::size_t(8)); // two chunks: rounds 1-4 and 5-8
        QVERIFY(!contents.complete);
        QVERIFY(writer.close());
        const QByteArray file = tx710test::fileBytes(path);
        quint64 longest = 0;
        for (const int chunk : recordOffsets(file, 0x06)) {
            const quint64 start = qFromLittleEndian<quint64>(file.constData() + chunk + 9);
            longest = std::max(longest, qFromLittleEndian<quint64>(file.constData() + chunk + 17) - start);
        }
        QCOMPARE(longest, quint64(900000000));
    }

    void damagedFiles_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason"); // empty: reads, but incomplete
        QTemporaryDir folder;
        std::vector<ScanRound> rounds;
        for (int number = 1; number <= 8; ++number)
            rounds.push_back(busyRound(number));
        const QByteArray good = writtenMcap(folder.filePath(QStringLiteral("a.mcap")), rounds, 40000);
        const int chunk = recordOffsets(good, 0x06).at(0);
        QTest::newRow("empty") << QByteArray() << "no magic";
        QTest::newRow("no magic") << patched(good, 0, "\x88") << "no magic";
        QTest::newRow("no header") << patched(good, 8, "\x05") << "header";
        QTest::newRow("data section changed") << patched(good, 30, "X") << "data section's checksum";
        QTest::newRow("chunk checksum") << patched(good, chunk + 9 + 24, "XXXX") << "checksum";
        QTest::newRow("compressed bytes damaged") << patched(good, chunk + 80, "XXXXXXXX") << "chunk";
        QTest::newRow("chunk of 100 MB") << patched(good, chunk + 9 + 16, littleEndian64(100000000)) << "claims";
        QTest::newRow("record past the end")
            << patched(good, chunk + 1, littleEndian64(quint64(1) << 40)) << "past the end";
        QTest::newRow("cut in a chunk") << good.left(chunk + 100) << QString();
        QTest::newRow("magic only") << good.left(8) << QString();
    }
    void damagedFiles()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        mcap::Contents contents;
        QString error;
        QCOMPARE(mcap::parse(bytes, contents, error), reason.isEmpty());
        QVERIFY2(error.contains(reason), qPrintable(error));
        QVERIFY(!contents.complete);
    }

    void malformedPointClouds_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("error");
        ScanRound not_finite = tinyRound(), too_many = tinyRound();
        not_finite.points[1].distance = std::numeric_limits<float>::infinity();
        too_many.points.resize(100001);
        QTest::newRow("JSON array") << QByteArray("[1]") << "point cloud is not a JSON object";
        QTest::newRow("not JSON") << QByteArray("{1") << "point cloud is not JSON: unterminated object at byte 2";
        QTest::newRow("not a finite number")
            << pointcloud::encode(not_finite) << "point 2 of the point cloud is not a finite number";
        QTest::newRow("too many points") << pointcloud::encode(too_many) << "point cloud has more than 100000 points";
    }
    void malformedPointClouds()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, error);
        ScanRound round;
        QString reason;
        QVERIFY(!pointcloud::decode(json, round, reason));
        QCOMPARE(reason, error);
    }

    // The transforms in CDR are the official serializer's bytes (tests/interop wrote the fixture).
    void staticTransformsAsTheOfficialSerializer()
    {
        const QByteArray official = tx710test::hexFixture("tf_static_two_devices.hex");
        const auto cdr =
            ros2::encode(ros2::staticTransformsOf(devicesOf("front:0.2,0,0.3,0 rear:-0.2,0,0.3,180"), kStartNs));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(cdr.data()), int(cdr.size())), official);
        ros2::TFMessage decoded;
        QVERIFY(ros2::decode(reinterpret_cast<const std::uint8_t*>(official.data()), std::size_t(official.size()),
                             decoded));
        QCOMPARE(decoded.transforms.at(1).transform.rotation.z, 1.0);
    }

    // Several LiDARs, or one mounted: their topics, /tf_static once before the
    // first round (the channels of the first two rounds' messages), and every
    // round read back with its device, the placements, and the speed of its
    // device's latest status before it (a speed not known left out, the first
    // status for the round before any).
    void devicesRecordAndReadBack_data()
    {
        QTest::addColumn<bool>("ros2");
        QTest::addColumn<QString>("devices");
        QTest::addColumn<QString>("written"); // the topics | the channels of the first round | of the second
        const auto row = [](const char* tag, bool ros2, const QString& devices, const QString& written) {
            QTest::newRow(tag) << ros2 << devices << written;
        };
        const QString two = "front:0.2,0,0.3,0 rear:-0.2,0,0.3,180";
        row("ros2, one device: as ever", true, "tx710", "/scan /tx710/points /diagnostics | 1 2 | 1 2");
        row("ros2, one mounted", true, "tx710:0.1,0,0.2,90",
            "/scan /tx710/points /diagnostics /tf_static | 4 1 2 | 1 2");
        row("ros2, two", true, two,
            "/front/scan /front/tx710/points /diagnostics /tf_static /rear/scan /rear/tx710/points | 4 1 2 | 5 6");
        row("foxglove, one device: as ever", false, "tx710", "/scan /tx710/status | 1 | 1");
        row("foxglove, two", false, two,
            "/front/scan /front/tx710/status /tf_static /rear/scan /rear/tx710/status | 3 3 1 | 4");
    }
    void devicesRecordAndReadBack()
    {
        QFETCH(bool, ros2);
        QFETCH(QString, devices);
        QFETCH(QString, written);
        DeviceScans scans = devicesOf(devices, ros2);
        // A LiDAR's own turn: the raw angle (90) read back of one LiDAR, the frame's (270) of several.
        scans.back().upside_down = true;
        const QString placements = hasTransforms(scans) ? "base_link " + devices : QString(); // as given
        const auto profile = makeRecordingProfile(scans);
        QStringList got;
        for (const RecordingProfile::Channel& channel : profile->channels())
            got << QString::fromUtf8(channel.topic.topic);
        for (int k = 0; k < 2; ++k) {
            std::vector<RecordingProfile::Message> messages;
            profile->roundMessages(ScanRound{1, kStartNs, {}, 0, k % int(scans.size())}, messages);
            got << "|";
            for (const RecordingProfile::Message& message : messages)
                got << QString::number(message.channel);
        }
        QCOMPARE(got.join(' '), written);

        QTemporaryDir dir;
        const QByteArray file = devicesRecording(dir.filePath("a.mcap"), scans);
        mcap::Contents contents;
        replay::Recording recording;
        QString error;
        QVERIFY2(mcap::parse(file, contents, error) && recording.openBytes(file, "a.mcap", error), qPrintable(error));
        QStringList expected, read, replayed;
        for (std::size_t i = 0; i < 4 * scans.size(); ++i)
            expected << QStringLiteral("%1:%2:%3")
                            .arg(i % scans.size())
                            .arg(300 * (i % scans.size() + 1) + (i / scans.size() == 3 ? 20 : 0))
                            .arg(scans.size() > 1 && i % 2 == 1 ? 270 : 90);
        for (const ScanRound& round : contents.rounds)
            read << QStringLiteral("%1:%2:%3")
                        .arg(round.device)
                        .arg(round.speed_rpm)
                        .arg(std::lround(round.points[0].angle));
        for (int i = 0; i < recording.count(); ++i) {
            replay::Round round;
            recording.read(i, round, error);
            replayed << QStringLiteral("%1:%2:%3")
                            .arg(round.device)
                            .arg(round.speed_rpm)
                            .arg(std::lround(round.points[0].angle));
        }
        QCOMPARE(read, expected);
        QCOMPARE(replayed, expected);
        QCOMPARE(placementsOf(contents.base_frame, contents.devices), placements);
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
        const auto row = [](const char* tag, const QString& devices, const QString& outcome) {
            QTest::newRow(tag) << devices << outcome;
        };
        row("sixteen devices", seventeen.mid(1).join(' '), "64 rounds");
        row("seventeen devices", seventeen.join(' '), "more than 16 devices");
        row("far away", "front rear:5000,0,0,0",
            "/tf_static: the transform to 'rear' lies 5000 m away, more than 1000 m");
        row("not finite", "front rear:nan,0,0,0", "/tf_static: the transform to 'rear' is not finite");
        row("frame id too long", "front " + QString(65, 'r'),
            "/tf_static: a transform from 'base_link' to '" + QString(40, 'r')
                + "...': frame ids have 1 to 64 characters");
        row("a frame that is no topic token", "front a-b", "4 rounds");
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
        ros2::TransformStamped transform{{{}, "base_link"}, "front", {{}, {0, 0, 0, 2}}};
        mcap::DevicePlacement placement;
        QString error;
        QVERIFY(!frametransform::placementOf(transform, placement, error));
        QCOMPARE(error, QStringLiteral("the transform to 'front' turns by a quaternion of length 2, not 1"));
    }

    void openFailureNamesPathAndReason()
    {
        QTemporaryDir folder;
        QFile blocker(folder.filePath(QStringLiteral("file")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        const QString path = folder.filePath(QStringLiteral("file/a.mcap"));
        mcap::Writer writer;
        QVERIFY(!writer.open(path));
        QCOMPARE(writer.errorString(), QStringLiteral("cannot create %1: Not a directory").arg(path));
    }

    // The disk fills up mid-recording (a file size limit): the writer reports
    // path and reason, the file still reads up to the last whole chunk. (The
    // CSV's whole rounds: tst_recorder.)
    void fullDisk()
    {
        QTemporaryDir folder;
        const QString mcap_path = folder.filePath(QStringLiteral("a.mcap"));
        std::vector<ScanRound> rounds;
        for (int number = 1; number <= 40; ++number)
            rounds.push_back(busyRound(number));
        // Room for two chunks and the summary, not for the third chunk.
        const QByteArray reference = writtenMcap(folder.filePath(QStringLiteral("reference.mcap")), rounds, 100000);
        const std::vector<int> chunks = recordOffsets(reference, 0x06);
        QVERIFY(chunks.size() > 3);
        QVERIFY(chunks[3] - chunks[2] > 12000);
        const rlim_t size_limit = rlim_t(chunks[2]) + 12000;
        mcap::Contents expected;
        QString error;
        QVERIFY(mcap::parse(reference.left(chunks[2]), expected, error));
        mcap::WriterOptions options;
        options.chunk_bytes = 100000;
        mcap::Writer mcap(options);
        {
            const tx710test::FileSizeLimit full_disk(size_limit);
            QVERIFY(mcap.open(mcap_path));
            for (const ScanRound& round : rounds)
                mcap.writeRound(round);
            QVERIFY(!mcap.close());
        }
        QCOMPARE(mcap.errorString(), QStringLiteral("cannot write %1: File too large").arg(mcap_path));

        mcap::Contents contents;
        QVERIFY2(mcap::readFile(mcap_path, contents, error), qPrintable(error));
        QVERIFY(contents.complete);
        QCOMPARE(contents.rounds.size(), expected.rounds.size());
    }
};

QTEST_GUILESS_MAIN(TestMcap)
#include "tst_mcap.moc"
