#pragma once

// One regular sensor_msgs/LaserScan per round, the shape SLAM and navigation
// take: the same N beams in every scan, a full counter-clockwise turn from
// -pi (angle_increment = 2 pi / N), each point in the beam nearest its
// bearing (the nearer point when two share a beam), ranges in metres.
//
// Beams without a valid range follow REP 117: +Inf for no return (no point,
// only points without a return, points beyond range_max, masked sectors),
// -Inf when the only detections were nearer than range_min. Intensities are
// the chosen point's, 0 where the range is not finite.
//
// Timing: the round is stamped with its first ray, one turn (at the round's
// speed) before the round was received; stamps strictly increase over the
// scans of one builder.

#include <cstdint>
#include <vector>

#include "recording/ros2_messages.h"
#include "recording/scan_options.h"
#include "recording/scan_round.h"

namespace tx710 {

class LaserScanBuilder
{
public:
    explicit LaserScanBuilder(const ScanOptions& options = ScanOptions());

    // `rpm`: the round's turning speed; when not a plausible speed, the last
    // one that was (10 rev/s before any).
    ros2::LaserScan build(const ScanRound& round, double rpm);

    const ScanOptions& options() const { return options_; }

private:
    ScanOptions options_;
    std::vector<bool> masked_; // per beam
    double turn_seconds_ = 0.1;
    std::int64_t last_stamp_ns_ = -1;
};

// A time in nanoseconds since the Unix epoch as a ROS 2 time (negative: 0).
ros2::Time rosTime(std::int64_t time_ns);
std::int64_t nanoseconds(const ros2::Time& time);

} // namespace tx710
