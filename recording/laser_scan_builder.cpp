#include "recording/laser_scan_builder.h"

#include <cmath>
#include <limits>

namespace tx710 {

namespace {

constexpr double kPi = 3.14159265358979323846;
// Speeds outside this band are taken as a misread, not as the turn's length.
constexpr double kMinRpm = 60;
constexpr double kMaxRpm = 3000;

} // namespace

ros2::Time rosTime(std::int64_t time_ns)
{
    const std::int64_t clamped = time_ns < 0 ? 0 : time_ns;
    return ros2::Time{std::int32_t(clamped / 1000000000), std::uint32_t(clamped % 1000000000)};
}

std::int64_t nanoseconds(const ros2::Time& time)
{
    return std::int64_t(time.sec) * 1000000000 + std::int64_t(time.nanosec);
}

LaserScanBuilder::LaserScanBuilder(const ScanOptions& options) : options_(options)
{
    const int n = options_.beams;
    masked_.resize(std::size_t(n));
    for (int i = 0; i < n; ++i)
        masked_[std::size_t(i)] = isMasked(options_, deviceAngleOf(options_, -kPi + 2 * kPi * i / n));
}

ros2::LaserScan LaserScanBuilder::build(const ScanRound& round, double rpm)
{
    const int n = options_.beams;
    const double increment = 2 * kPi / n;
    if (std::isfinite(rpm) && rpm >= kMinRpm && rpm <= kMaxRpm)
        turn_seconds_ = 60.0 / rpm;

    ros2::LaserScan scan;
    std::int64_t stamp = round.receive_time_ns - std::int64_t(std::llround(turn_seconds_ * 1e9));
    if (last_stamp_ns_ >= 0 && stamp <= last_stamp_ns_)
        stamp = last_stamp_ns_ + 1;
    last_stamp_ns_ = stamp;
    scan.header.stamp = rosTime(stamp);
    scan.header.frame_id = options_.frame_id;
    scan.angle_min = float(-kPi);
    scan.angle_increment = float(increment);
    scan.angle_max = float(-kPi + (n - 1) * increment);
    scan.scan_time = float(turn_seconds_);
    scan.time_increment = float(turn_seconds_ / n);
    scan.range_min = float(options_.range_min);
    scan.range_max = float(options_.range_max);

    constexpr float kInf = std::numeric_limits<float>::infinity();
    scan.ranges.assign(std::size_t(n), kInf);
    scan.intensities.assign(std::size_t(n), 0.0f);
    std::vector<bool> too_close(std::size_t(n), false);
    for (const PointRecord& point : round.points) {
        // Wrapped first: any finite angle, however large, lands on a beam.
        const double bearing = bearingOf(options_, std::fmod(double(point.angle), 360.0));
        const double steps = std::fmod(std::round((bearing + kPi) / increment), double(n));
        if (!std::isfinite(steps))
            continue;
        const auto beam = std::size_t(steps < 0 ? steps + n : steps) % std::size_t(n);
        if (masked_[beam] || !(point.distance > 0))
            continue;
        const double metres = double(point.distance) / 1000.0;
        if (metres < options_.range_min) {
            too_close[beam] = true;
        } else if (metres <= options_.range_max && float(metres) < scan.ranges[beam]) {
            scan.ranges[beam] = float(metres);
            scan.intensities[beam] = point.intensity;
        }
    }
    for (std::size_t beam = 0; beam < std::size_t(n); ++beam) {
        if (too_close[beam] && std::isinf(scan.ranges[beam]))
            scan.ranges[beam] = -kInf;
    }
    return scan;
}

} // namespace tx710
