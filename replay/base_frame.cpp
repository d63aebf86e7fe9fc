#include "replay/base_frame.h"

#include <cmath>

#include "recording/scan_options.h"

namespace tx710::replay {

namespace {

constexpr double kPi = 3.14159265358979323846;

} // namespace

void placeInBaseFrame(std::vector<PointRecord>& points, const mcap::DevicePlacement& placement)
{
    // The bearing of a device angle by the recorder's own rule (REP 103:
    // counter-clockwise, 0 forward), then the mount's yaw and offset.
    const ScanOptions unturned;
    const double yaw = placement.yaw_deg * kPi / 180.0;
    for (PointRecord& point : points) {
        if (point.distance <= 0.0f)
            continue;
        const double bearing = bearingOf(unturned, double(point.angle)) + yaw;
        const double x = placement.x * 1000.0 + double(point.distance) * std::cos(bearing);
        const double y = placement.y * 1000.0 + double(point.distance) * std::sin(bearing);
        const float angle = float(-std::atan2(y, x) * 180.0 / kPi);
        point.angle = angle < 0.0f ? angle + 360.0f : angle;
        if (point.angle >= 360.0f) // a tiny negative angle rounded up
            point.angle = 0.0f;
        point.distance = float(std::hypot(x, y));
    }
}

} // namespace tx710::replay
