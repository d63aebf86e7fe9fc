#pragma once

// The live DDS output of --ros2: each round as a LaserScan and a PointCloud2
// of its raw points, each status sample as a DiagnosticArray, the same
// messages the ROS 2 recording holds, handed to the publisher (which never
// blocks). Publishing never fails a recording: what DDS could not take is
// counted by the publisher.

#include <QString>

#include "recording/laser_scan_builder.h"
#include "recording/round_sink.h"
#include "ros2/dds_publisher.h"

namespace tx710 {

class Ros2Sink : public RoundSink
{
public:
    explicit Ros2Sink(const DeviceScans& devices) : builder_(devices.front()) {}

    // Joins the domain; false with the one-line reason in errorString().
    bool start(const QString& ros_namespace);

    bool writeRound(const ScanRound& round) override;
    bool writeStatus(const status::Sample& sample) override;
    bool close() override;
    QString errorString() const override { return error_; }

    // A sink for signals (the viewer's live feed).
    void publishRound(const ScanRound& round) { writeRound(round); }
    void publishStatus(const status::Sample& sample) { writeStatus(sample); }

private:
    LaserScanBuilder builder_;
    double last_rpm_ = 0;
    status::Sample previous_;
    ros2::DdsPublisher publisher_;
    QString error_;
};

} // namespace tx710
