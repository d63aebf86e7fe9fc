#pragma once

// The live DDS output of --ros2: each round as a LaserScan and a PointCloud2
// of its raw points on its device's topics, each status sample as its
// device's DiagnosticArray, and, for several devices or a mounted one, the
// static transforms once at the start: the same messages the ROS 2 recording
// holds, handed to the publisher (which never blocks). Publishing never fails
// a recording: what DDS could not take is counted by the publisher.

#include <QString>

#include <vector>

#include "recording/laser_scan_builder.h"
#include "recording/round_sink.h"
#include "recording/status_message.h"
#include "ros2/dds_publisher.h"

namespace tx710 {

class Ros2Sink : public RoundSink
{
public:
    explicit Ros2Sink(const DeviceScans& devices);

    // Joins the domain and publishes /tf_static stamped now when there are
    // transforms; false with the one-line reason in errorString().
    bool start(const QString& ros_namespace);

    // False for a device the list does not have.
    bool writeRound(const ScanRound& round) override;
    bool writeStatus(const status::Sample& sample) override;
    bool close() override;
    QString errorString() const override { return error_; }

    // A sink for signals (the viewer's live feed).
    void publishRound(const ScanRound& round) { writeRound(round); }
    void publishStatus(const status::Sample& sample) { writeStatus(sample); }

private:
    struct Device {
        LaserScanBuilder builder;
        double last_rpm = 0;
        status::Sample previous;
    };
    bool knows(int device);

    DeviceScans options_;
    std::vector<Device> devices_;
    ros2::DdsPublisher publisher_;
    QString error_;
};

} // namespace tx710
