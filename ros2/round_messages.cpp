#include "ros2/round_messages.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "recording/point_coordinates.h"

namespace tx710::ros2 {

namespace {

constexpr int kBeams = 450;
constexpr double kPi = 3.14159265358979323846;

Header headerAt(std::int64_t time_ns)
{
    Header header;
    header.stamp.sec = std::int32_t(time_ns / 1000000000);
    header.stamp.nanosec = std::uint32_t(time_ns % 1000000000);
    header.frame_id = "tx710";
    return header;
}

} // namespace

LaserScan scanOf(const ScanRound& round)
{
    LaserScan scan;
    scan.header = headerAt(round.receive_time_ns);
    scan.angle_increment = float(2 * kPi / kBeams);
    scan.angle_min = float(-kPi);
    scan.angle_max = scan.angle_min + (kBeams - 1) * scan.angle_increment;
    scan.scan_time = 0.1f;
    scan.time_increment = scan.scan_time / kBeams;
    scan.range_min = 0.02f;
    scan.range_max = 12.0f;
    scan.ranges.assign(kBeams, std::numeric_limits<float>::infinity());
    scan.intensities.assign(kBeams, 0.0f);
    for (const PointRecord& point : round.points) {
        if (point.distance <= 0)
            continue;
        const coordinates::PlanePoint plane = coordinates::fromPolar(point);
        const double bearing = std::atan2(plane.y_m, plane.x_m);
        const int beam = int(std::lround((bearing - scan.angle_min) / scan.angle_increment)) % kBeams;
        const float range = point.distance / 1000.0f;
        if (range < scan.ranges[beam]) {
            scan.ranges[beam] = range;
            scan.intensities[beam] = point.intensity;
        }
    }
    return scan;
}

PointCloud2 pointsOf(const ScanRound& round)
{
    PointCloud2 cloud;
    cloud.header = headerAt(round.receive_time_ns);
    const char* names[] = {"x", "y", "z", "intensity", "angle", "distance"};
    for (std::uint32_t i = 0; i < 6; ++i)
        cloud.fields.push_back({names[i], i * 4, PointField::FLOAT32, 1});
    cloud.height = 1;
    cloud.width = std::uint32_t(round.points.size());
    cloud.point_step = 24;
    cloud.row_step = cloud.point_step * cloud.width;
    cloud.data.resize(cloud.row_step);
    std::uint8_t* out = cloud.data.data();
    for (const PointRecord& point : round.points) {
        const coordinates::PlanePoint plane = coordinates::fromPolar(point);
        const float values[6] = {float(plane.x_m), float(plane.y_m), 0, point.intensity, point.angle, point.distance};
        std::memcpy(out, values, sizeof values);
        out += sizeof values;
    }
    cloud.is_dense = true;
    return cloud;
}

DiagnosticArray diagnosticsOf(const status::Sample& sample)
{
    DiagnosticArray array;
    array.header = headerAt(sample.time_ns);
    DiagnosticStatus status;
    status.name = "tx710: LiDAR";
    status.hardware_id = "tx710";
    status.message = "OK";
    status.values = {{"frames/s", std::to_string(sample.frames_per_second)},
                     {"CRC rejects", std::to_string(sample.crc_rejects)},
                     {"RPM", std::to_string(sample.rpm)},
                     {"points/s", std::to_string(sample.points_per_second)}};
    array.status.push_back(status);
    return array;
}

} // namespace tx710::ros2
