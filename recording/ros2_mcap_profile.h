#pragma once

// The ROS 2 recording, as rosbag2's MCAP storage writes one: profile "ros2",
// message encoding "cdr", schema encoding "ros2msg", and on every channel the
// offered_qos_profiles the publisher offers on playback (reliable, volatile,
// keep last 10; /tf_static transient local, keep last 1, as ROS 2's static
// broadcaster offers it, so that rosbag2 plays it back latched).
//
//   id  topic                   type
//   1   <prefix>/scan           sensor_msgs/msg/LaserScan        one per round   (the first device)
//   2   <prefix>/tx710/points   sensor_msgs/msg/PointCloud2      every raw point of the round
//   3   /diagnostics            diagnostic_msgs/msg/DiagnosticArray  once a second per device
//   4   /tf_static              tf2_msgs/msg/TFMessage           once, before the first round (with transforms)
//   3+2k, 4+2k                  /scan and /tx710/points of device k >= 1
//
// One device without a mount: ids 1 to 3, unprefixed, exactly as ever.
// Also reads those messages back for replay.

#include <QString>

#include <map>

#include "recording/laser_scan_builder.h"
#include "recording/mcap_reader.h"
#include "recording/recording_profile.h"

namespace tx710::ros2 {

class McapProfile : public RecordingProfile
{
public:
    static constexpr std::uint16_t kScanChannel = 1;
    static constexpr std::uint16_t kPointsChannel = 2;
    static constexpr std::uint16_t kDiagnosticsChannel = 3;
    static constexpr std::uint16_t kTransformsChannel = 4;
    static std::uint16_t scanChannel(std::size_t device);
    static std::uint16_t pointsChannel(std::size_t device) { return std::uint16_t(scanChannel(device) + 1); }

    explicit McapProfile(const DeviceScans& devices);

    QByteArray name() const override { return "ros2"; }
    const std::vector<Channel>& channels() const override { return channels_; }
    void roundMessages(const ScanRound& round, std::vector<Message>& messages) override;
    void statusMessages(const status::Sample& sample, std::vector<Message>& messages) override;

private:
    struct Device {
        LaserScanBuilder builder;
        double last_rpm = 0;
        status::Sample previous;
    };
    DeviceScans scans_;
    std::vector<Device> devices_;
    std::vector<Channel> channels_;
    std::uint32_t status_sequence_ = 0;
    bool transforms_sent_ = false;
};

// The offered_qos_profiles value of every channel but /tf_static's.
const QByteArray& offeredQosProfiles();
// ... and of /tf_static: transient local, keep last 1.
const QByteArray& latchedQosProfiles();

// What one message of a ROS 2 recording gives for replay.
struct ReplayItem {
    enum class Kind { Nothing, Round, Speed, Transforms };
    Kind kind = Kind::Nothing;
    bool status = false;                      // a /diagnostics message (with or without a speed)
    ScanRound round;                          // Round: its points, number and receive time
    mcap::Contents::Speed speed;              // Speed: a positive rpm
    QString status_frame;                     // Speed: the frame (hardware id) of the status
    std::vector<TransformStamped> transforms; // Transforms: of /tf_static, unchecked
};

// Takes one message of a ROS 2 recording: <prefix>/tx710/points as a round,
// /diagnostics as a speed, /tf_static as transforms, <prefix>/scan checked
// (every LaserScan of a topic as long as its first). Other topics are left
// alone. False with the reason on a message that does not decode or breaks
// those rules.
class McapReplay
{
public:
    bool take(const QByteArray& topic, const QByteArray& schema_name, std::uint32_t sequence, std::uint64_t log_time,
              const QByteArray& data, ReplayItem& item, QString& error);

private:
    std::map<QByteArray, std::size_t> beams_; // of each topic's first LaserScan
};

} // namespace tx710::ros2
