#pragma once

// Where a point lies in the device frame, x forward, y left, z up (metres).
// The device measures angles clockwise seen from above with 0 forward, hence
// the sign of y. Both values are rounded to the micrometre so that the CSV's
// decimals and the MCAP file's floats name the same number.

#include "recording/data_file.h"
#include "recording/scan_options.h"

namespace tx710::coordinates {

struct PlanePoint {
    double x_m = 0;
    double y_m = 0;
};

// A point without a return (distance 0) lies at the origin.
PlanePoint fromPolar(const PointRecord& point);
// The same for a LiDAR mounted as `mounting` says (--upside-down, --yaw).
PlanePoint fromPolar(const PointRecord& point, const ScanOptions& mounting);

} // namespace tx710::coordinates
