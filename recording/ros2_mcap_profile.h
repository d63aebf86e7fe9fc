#pragma once

// The ROS 2 recording, as rosbag2's MCAP storage writes one: profile "ros2",
// message encoding "cdr", schema encoding "ros2msg", and on every channel the
// offered_qos_profiles the publisher offers on playback (reliable, volatile,
// keep last 10).
//
//   /scan           sensor_msgs/msg/LaserScan        one per round
//   /tx710/points   sensor_msgs/msg/PointCloud2      every raw point of the round
//   /diagnostics    diagnostic_msgs/msg/DiagnosticArray  once a second
//
// Also reads those messages back for replay.

#include <QString>

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

    explicit McapProfile(const DeviceScans& devices);

    QByteArray name() const override { return "ros2"; }
    const std::vector<Channel>& channels() const override;
    void roundMessages(const ScanRound& round, std::vector<Message>& messages) override;
    void statusMessages(const status::Sample& sample, std::vector<Message>& messages) override;

private:
    LaserScanBuilder builder_;
    double last_rpm_ = 0;
    status::Sample previous_;
    std::uint32_t status_sequence_ = 0;
};

// The offered_qos_profiles value of every channel.
const QByteArray& offeredQosProfiles();

// Takes one message of a ROS 2 recording into `contents`: /tx710/points as a
// round, /diagnostics as a speed, /scan checked (every LaserScan as long as
// the first). Other topics are left alone. False with the reason on a
// message that does not decode or breaks those rules.
class McapReplay
{
public:
    bool take(const QByteArray& topic, const QByteArray& schema_name, std::uint32_t sequence, std::uint64_t log_time,
              const QByteArray& data, mcap::Contents& contents, QString& error);

private:
    std::size_t beams_ = 0; // of the first LaserScan
    std::uint64_t scans_ = 0;
};

} // namespace tx710::ros2
