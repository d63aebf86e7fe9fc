#pragma once

// The points of a LiDAR placed on the robot, as seen from the robot's base
// frame: what the viewer draws when a recording holds several LiDARs.

#include <vector>

#include "recording/data_file.h"
#include "recording/mcap_reader.h"

namespace tx710::replay {

// `points` (angles in the device's frame, clockwise degrees as the device's
// own, and millimetres: a recording of several gives them so)
// turned and moved by `placement` into the base frame, each given as seen
// from the base frame's origin in the same convention: the view draws and
// picks them as it does one device's. Points without a return stay so; an
// unplaced device stands at the origin, unturned.
void placeInBaseFrame(std::vector<PointRecord>& points, const mcap::DevicePlacement& placement);

} // namespace tx710::replay
