#pragma once

// Publishes the scans, the raw points, the diagnostics and the static
// transforms on DDS the way ROS 2 names them, so that every ROS 2 node on the
// domain hears them. Per device (prefix "" for one, "/front" for several):
//   rt/<ns><prefix>/scan          sensor_msgs::msg::dds_::LaserScan_
//   rt/<ns><prefix>/tx710/points  sensor_msgs::msg::dds_::PointCloud2_
// and once for all:
//   rt/<ns>/diagnostics           diagnostic_msgs::msg::dds_::DiagnosticArray_
//   rt/tf_static                  tf2_msgs::msg::dds_::TFMessage_ (when given)
// These writers are reliable, volatile, keep last 10. publish() only queues
// the message: a thread of the publisher writes it, so a slow or stalled
// subscriber never slows the caller; when the queue is full the oldest
// message goes (counted in dropped()).
//
// /tf_static is the absolute name tf2's static broadcaster and every tf2
// listener use, so a namespace does not move it. Its writer is reliable,
// transient-local, keep last 1, as that broadcaster's: the transforms are
// written once, in start() before any queue exists, and DDS hands them to
// every subscriber that joins later.
//
// In a build without DDS, start() fails with the reason.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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
    // qualified already ("" or "/robot1"): a scan and a points writer per
    // entry of `device_prefixes`, and /tf_static with `static_transforms`
    // when that is given. False with a one-line reason.
    bool start(const std::string& qualified_namespace, const std::vector<std::string>& device_prefixes,
               const TFMessage* static_transforms, std::string& error);

    // `device`: the index in start()'s device_prefixes; others are not written.
    void publish(std::size_t device, LaserScan scan);
    void publish(std::size_t device, PointCloud2 cloud);
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
