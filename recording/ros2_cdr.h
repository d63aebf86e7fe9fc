#pragma once

// The one owner of the ROS 2 messages' CDR form, field by field in the
// official order (recording/ros2_messages.h). Decoding refuses damaged bytes
// (false), never reads outside them, and checks that the message ends where
// its fields do (up to CDR's padding). Qt-free.

#include <cstdint>
#include <vector>

#include "recording/ros2_messages.h"

namespace tx710::ros2 {

std::vector<std::uint8_t> encode(const LaserScan& scan);
std::vector<std::uint8_t> encode(const PointCloud2& cloud);
std::vector<std::uint8_t> encode(const DiagnosticArray& diagnostics);
std::vector<std::uint8_t> encode(const TFMessage& transforms);

bool decode(const std::uint8_t* data, std::size_t size, LaserScan& scan);
bool decode(const std::uint8_t* data, std::size_t size, PointCloud2& cloud);
bool decode(const std::uint8_t* data, std::size_t size, DiagnosticArray& diagnostics);
bool decode(const std::uint8_t* data, std::size_t size, TFMessage& transforms);

} // namespace tx710::ros2
