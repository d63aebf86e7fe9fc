#pragma once

// A round and a status sample as the ROS 2 messages DDS carries.

#include "recording/ros2_messages.h"
#include "recording/scan_round.h"
#include "recording/status_message.h"

namespace tx710::ros2 {

LaserScan scanOf(const ScanRound& round);
PointCloud2 pointsOf(const ScanRound& round);
DiagnosticArray diagnosticsOf(const status::Sample& sample);

} // namespace tx710::ros2
