#include "recording/ros2_mcap_profile.h"

#include "recording/ros2_cdr.h"
#include "recording/ros2_conversions.h"
#include "recording/ros2_schemas.h"

namespace tx710::ros2 {

namespace {

constexpr char kLaserScan[] = "sensor_msgs/msg/LaserScan";
constexpr char kPointCloud2[] = "sensor_msgs/msg/PointCloud2";
constexpr char kDiagnosticArray[] = "diagnostic_msgs/msg/DiagnosticArray";

TopicDescription describe(const QByteArray& topic, const QByteArray& type)
{
    return TopicDescription{
        topic, type, "ros2msg", schemaText(type), "cdr", {{"offered_qos_profiles", offeredQosProfiles()}}};
}

QByteArray bytes(const std::vector<std::uint8_t>& data)
{
    return QByteArray(reinterpret_cast<const char*>(data.data()), int(data.size()));
}

} // namespace

const QByteArray& offeredQosProfiles()
{
    // rosbag2's YAML of one rclcpp QoS profile; infinite durations as
    // RMW_DURATION_INFINITE gives them.
    static const QByteArray yaml = "- history: keep_last\n"
                                   "  depth: 10\n"
                                   "  reliability: reliable\n"
                                   "  durability: volatile\n"
                                   "  deadline:\n"
                                   "    sec: 9223372036\n"
                                   "    nsec: 854775807\n"
                                   "  lifespan:\n"
                                   "    sec: 9223372036\n"
                                   "    nsec: 854775807\n"
                                   "  liveliness: automatic\n"
                                   "  liveliness_lease_duration:\n"
                                   "    sec: 9223372036\n"
                                   "    nsec: 854775807\n"
                                   "  avoid_ros_namespace_conventions: false";
    return yaml;
}

McapProfile::McapProfile(const DeviceScans& devices) : builder_(devices.front()) {}

const std::vector<RecordingProfile::Channel>& McapProfile::channels() const
{
    static const std::vector<Channel> channels{{kScanChannel, describe("/scan", kLaserScan)},
                                               {kPointsChannel, describe("/tx710/points", kPointCloud2)},
                                               {kDiagnosticsChannel, describe("/diagnostics", kDiagnosticArray), true}};
    return channels;
}

void McapProfile::roundMessages(const ScanRound& round, std::vector<Message>& messages)
{
    if (round.speed_rpm > 0)
        last_rpm_ = round.speed_rpm;
    const auto sequence = std::uint32_t(round.number);
    messages.push_back(
        Message{kScanChannel, sequence, round.receive_time_ns, bytes(encode(builder_.build(round, last_rpm_)))});
    messages.push_back(Message{kPointsChannel, sequence, round.receive_time_ns,
                               bytes(encode(pointCloudOf(round, builder_.options())))});
}

void McapProfile::statusMessages(const status::Sample& sample, std::vector<Message>& messages)
{
    if (sample.rpm > 0)
        last_rpm_ = sample.rpm;
    messages.push_back(Message{kDiagnosticsChannel, ++status_sequence_, sample.time_ns,
                               bytes(encode(diagnosticsOf(sample, previous_, builder_.options().frame_id)))});
    previous_ = sample;
}

bool McapReplay::take(const QByteArray& topic, const QByteArray& schema_name, std::uint32_t sequence,
                      std::uint64_t log_time, const QByteArray& data, mcap::Contents& contents, QString& error)
{
    const auto* raw = reinterpret_cast<const std::uint8_t*>(data.constData());
    const auto size = std::size_t(data.size());
    if (topic == "/tx710/points" && schema_name == kPointCloud2) {
        PointCloud2 cloud;
        std::string reason;
        ScanRound round;
        round.number = int(sequence);
        round.receive_time_ns = std::int64_t(log_time);
        if (!decode(raw, size, cloud))
            reason = "the point cloud's CDR bytes are damaged";
        else
            pointsOf(cloud, round.points, reason);
        if (!reason.empty()) {
            error = QStringLiteral("round %1: %2").arg(sequence).arg(QString::fromStdString(reason));
            return false;
        }
        contents.rounds.push_back(std::move(round));
    } else if (topic == "/diagnostics" && schema_name == kDiagnosticArray) {
        DiagnosticArray diagnostics;
        if (!decode(raw, size, diagnostics)) {
            error = QStringLiteral("diagnostics %1: the CDR bytes are damaged").arg(sequence);
            return false;
        }
        ++contents.status_messages;
        const double rpm = rpmOf(diagnostics);
        if (rpm > 0)
            contents.speeds.push_back(mcap::Contents::Speed{std::int64_t(log_time), rpm});
    } else if (topic == "/scan" && schema_name == kLaserScan) {
        LaserScan scan;
        ++scans_;
        if (!decode(raw, size, scan)) {
            error = QStringLiteral("LaserScan %1: the CDR bytes are damaged").arg(sequence);
            return false;
        }
        if (beams_ == 0)
            beams_ = scan.ranges.size();
        if (scan.ranges.size() != beams_ || scan.intensities.size() != beams_ || beams_ == 0) {
            error = QStringLiteral("LaserScan %1 has %2 ranges and %3 intensities, the first scan %4 beams")
                        .arg(sequence)
                        .arg(scan.ranges.size())
                        .arg(scan.intensities.size())
                        .arg(beams_);
            return false;
        }
    }
    return true;
}

} // namespace tx710::ros2
