#pragma once

// A round and a status sample as the other ROS 2 messages of a recording,
// and back for replay. Qt-free.
//
// /tx710/points: every raw point of the round, unordered (height 1), six
// little-endian float32 fields x, y, z (metres, after the mounting of
// ScanOptions), intensity, angle (degrees), distance (mm) as measured.
//
// /diagnostics: one status "tx710: link" with the figures of the last second;
// WARN when the CRC rejects pass 1 % of the frames or the speed leaves its
// normal band, ERROR while no frame arrives, and ERROR "link lost" with the
// seconds so far ("link_down_s") while the device is away.

#include <string>

#include "recording/ros2_messages.h"
#include "recording/scan_options.h"
#include "recording/scan_round.h"
#include "recording/status_message.h"

namespace tx710::ros2 {

constexpr int kPointStep = 24;
// The device's normal turning speed: 5 to 15 rev/s.
constexpr double kNormalMinRpm = 300;
constexpr double kNormalMaxRpm = 900;

PointCloud2 pointCloudOf(const ScanRound& round, const ScanOptions& options);
// The raw points of a cloud pointCloudOf() made; false with the reason when
// its layout is not that one. With `frame_angles`, a point's angle is its
// bearing in the cloud's frame from x and y (clockwise degrees, as the
// device's own), so the LiDAR's own turn is in it: for placing it on the robot.
bool pointsOf(const PointCloud2& cloud, std::vector<PointRecord>& points, std::string& error,
              bool frame_angles = false);

// `previous`: the sample a second before (for the rejects of that second);
// a default Sample for the first.
DiagnosticArray diagnosticsOf(const status::Sample& sample, const status::Sample& previous,
                              const std::string& frame_id);
// The "rpm" value of our status; 0 when it has none.
double rpmOf(const DiagnosticArray& diagnostics);

// /tf_static: base frame -> each device's frame, as its mount places it
// (a device without --mount sits at the origin), stamped `stamp_ns`.
TFMessage staticTransformsOf(const DeviceScans& devices, std::int64_t stamp_ns);

} // namespace tx710::ros2
