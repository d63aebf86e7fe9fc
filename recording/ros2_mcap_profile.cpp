#include "recording/ros2_mcap_profile.h"

#include "recording/ros2_cdr.h"
#include "recording/ros2_conversions.h"
#include "recording/ros2_schemas.h"

namespace tx710::ros2 {

namespace {

constexpr char kLaserScan[] = "sensor_msgs/msg/LaserScan";
constexpr char kPointCloud2[] = "sensor_msgs/msg/PointCloud2";
constexpr char kDiagnosticArray[] = "diagnostic_msgs/msg/DiagnosticArray";
constexpr char kTFMessage[] = "tf2_msgs/msg/TFMessage";

TopicDescription describe(const QByteArray& topic, const QByteArray& type, const QByteArray& qos = offeredQosProfiles())
{
    return TopicDescription{topic, type, "ros2msg", schemaText(type), "cdr", {{"offered_qos_profiles", qos}}};
}

QByteArray bytes(const std::vector<std::uint8_t>& data)
{
    return QByteArray(reinterpret_cast<const char*>(data.data()), int(data.size()));
}

// rosbag2's YAML of one rclcpp QoS profile; infinite durations as
// RMW_DURATION_INFINITE gives them.
QByteArray qosProfile(int depth, const char* durability)
{
    return "- history: keep_last\n"
           "  depth: "
        + QByteArray::number(depth)
        + "\n"
          "  reliability: reliable\n"
          "  durability: "
        + durability
        + "\n"
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
}

bool endsWith(const QByteArray& topic, const char* suffix)
{
    return topic == suffix || topic.endsWith(QByteArray("/") + suffix);
}

} // namespace

const QByteArray& offeredQosProfiles()
{
    static const QByteArray yaml = qosProfile(10, "volatile");
    return yaml;
}

const QByteArray& latchedQosProfiles()
{
    static const QByteArray yaml = qosProfile(1, "transient_local");
    return yaml;
}

std::uint16_t McapProfile::scanChannel(std::size_t device)
{
    return device == 0 ? kScanChannel : std::uint16_t(3 + 2 * device);
}

McapProfile::McapProfile(const DeviceScans& devices) : scans_(devices)
{
    for (std::size_t k = 0; k < devices.size(); ++k) {
        devices_.push_back(Device{LaserScanBuilder(devices[k]), 0, {}});
        const QByteArray prefix = QByteArray::fromStdString(topicPrefix(devices, k));
        channels_.push_back({scanChannel(k), describe(prefix + "/scan", kLaserScan)});
        channels_.push_back({pointsChannel(k), describe(prefix + "/tx710/points", kPointCloud2)});
        if (k == 0)
            channels_.push_back({kDiagnosticsChannel, describe("/diagnostics", kDiagnosticArray), true});
        if (k == 0 && hasTransforms(devices))
            channels_.push_back(
                {kTransformsChannel, describe("/tf_static", kTFMessage, latchedQosProfiles()), false, true});
    }
}

void McapProfile::roundMessages(const ScanRound& round, std::vector<Message>& messages)
{
    if (round.device < 0 || std::size_t(round.device) >= devices_.size())
        return;
    if (!transforms_sent_ && hasTransforms(scans_)) {
        messages.push_back(Message{kTransformsChannel, 1, round.receive_time_ns,
                                   bytes(encode(staticTransformsOf(scans_, round.receive_time_ns)))});
        transforms_sent_ = true;
    }
    Device& device = devices_[std::size_t(round.device)];
    if (round.speed_rpm > 0)
        device.last_rpm = round.speed_rpm;
    const auto sequence = std::uint32_t(round.number);
    messages.push_back(Message{scanChannel(std::size_t(round.device)), sequence, round.receive_time_ns,
                               bytes(encode(device.builder.build(round, device.last_rpm)))});
    messages.push_back(Message{pointsChannel(std::size_t(round.device)), sequence, round.receive_time_ns,
                               bytes(encode(pointCloudOf(round, device.builder.options())))});
}

void McapProfile::statusMessages(const status::Sample& sample, std::vector<Message>& messages)
{
    if (sample.device < 0 || std::size_t(sample.device) >= devices_.size())
        return;
    Device& device = devices_[std::size_t(sample.device)];
    if (sample.rpm > 0)
        device.last_rpm = sample.rpm;
    messages.push_back(
        Message{kDiagnosticsChannel, ++status_sequence_, sample.time_ns,
                bytes(encode(diagnosticsOf(sample, device.previous, device.builder.options().frame_id)))});
    device.previous = sample;
}

bool McapReplay::take(const QByteArray& topic, const QByteArray& schema_name, std::uint32_t sequence,
                      std::uint64_t log_time, const QByteArray& data, ReplayItem& item, QString& error)
{
    item = ReplayItem();
    const auto* raw = reinterpret_cast<const std::uint8_t*>(data.constData());
    const auto size = std::size_t(data.size());
    if (endsWith(topic, "tx710/points") && schema_name == kPointCloud2) {
        PointCloud2 cloud;
        std::string reason;
        item.round.number = int(sequence);
        item.round.receive_time_ns = std::int64_t(log_time);
        if (!decode(raw, size, cloud))
            reason = "the point cloud's CDR bytes are damaged";
        else
            pointsOf(cloud, item.round.points, reason, topic != "/tx710/points"); // several LiDARs
        if (!reason.empty()) {
            error = QStringLiteral("round %1: %2").arg(sequence).arg(QString::fromStdString(reason));
            return false;
        }
        item.kind = ReplayItem::Kind::Round;
    } else if (topic == "/diagnostics" && schema_name == kDiagnosticArray) {
        DiagnosticArray diagnostics;
        if (!decode(raw, size, diagnostics)) {
            error = QStringLiteral("diagnostics %1: the CDR bytes are damaged").arg(sequence);
            return false;
        }
        item.status = true;
        const double rpm = rpmOf(diagnostics);
        if (rpm > 0) {
            item.kind = ReplayItem::Kind::Speed;
            item.speed = mcap::Contents::Speed{std::int64_t(log_time), rpm};
            item.status_frame = QString::fromStdString(diagnostics.header.frame_id);
        }
    } else if (topic == "/tf_static" && schema_name == kTFMessage) {
        TFMessage transforms;
        if (!decode(raw, size, transforms)) {
            error = QStringLiteral("/tf_static %1: the CDR bytes are damaged").arg(sequence);
            return false;
        }
        item.kind = ReplayItem::Kind::Transforms;
        item.transforms = std::move(transforms.transforms);
    } else if (endsWith(topic, "scan") && schema_name == kLaserScan) {
        LaserScan scan;
        if (!decode(raw, size, scan)) {
            error = QStringLiteral("LaserScan %1: the CDR bytes are damaged").arg(sequence);
            return false;
        }
        std::size_t& beams = beams_[topic];
        if (beams == 0)
            beams = scan.ranges.size();
        if (scan.ranges.size() != beams || scan.intensities.size() != beams || beams == 0) {
            error = QStringLiteral("LaserScan %1 has %2 ranges and %3 intensities, the first scan %4 beams")
                        .arg(sequence)
                        .arg(scan.ranges.size())
                        .arg(scan.intensities.size())
                        .arg(beams);
            return false;
        }
    }
    return true;
}

} // namespace tx710::ros2
