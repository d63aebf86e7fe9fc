#pragma once

// Publishes the scan, the raw points and the diagnostics on DDS the way ROS 2
// names them, so that every ROS 2 node on the domain hears them:
//   rt/<ns>/scan          sensor_msgs::msg::dds_::LaserScan_
//   rt/<ns>/tx710/points  sensor_msgs::msg::dds_::PointCloud2_
//   rt/<ns>/diagnostics   diagnostic_msgs::msg::dds_::DiagnosticArray_
// Writers are reliable, volatile, keep last 10. publish() only queues the
// message: a thread of the publisher writes it, so a slow or stalled
// subscriber never slows the caller; when the queue is full the oldest
// message goes (counted in dropped()).
//
// In a build without DDS, start() fails with the reason.

#include <cstdint>
#include <memory>
#include <string>

#include "recording/ros2_messages.h"

namespace tx710::ros2 {

class DdsPublisher
{
public:
    DdsPublisher();
    ~DdsPublisher();
    DdsPublisher(const DdsPublisher&) = delete;
    DdsPublisher& operator=(const DdsPublisher&) = delete;

    // Whether this build publishes on DDS at all.
    static bool supported();

    // Joins the domain of the environment (see dds_names.h; CYCLONEDDS_URI is
    // honoured) and creates the writers under the namespace, which must be
    // qualified already ("" or "/robot1"). False with a one-line reason.
    bool start(const std::string& qualified_namespace, std::string& error);

    void publish(LaserScan scan);
    void publish(PointCloud2 cloud);
    void publish(DiagnosticArray diagnostics);

    // Messages not written: pushed out of a full queue or refused by DDS.
    std::uint64_t dropped() const;

    // Writes what is queued and leaves the domain (also on destruction).
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace tx710::ros2
