#include "recording/ros2_conversions.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "recording/input_limits.h"
#include "recording/laser_scan_builder.h"
#include "recording/point_coordinates.h"

namespace tx710::ros2 {

namespace {

const char* const kFieldNames[] = {"x", "y", "z", "intensity", "angle", "distance"};

void putFloat(std::uint8_t* at, float value)
{
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, 4);
    for (int i = 0; i < 4; ++i)
        at[i] = std::uint8_t(bits >> (8 * i));
}

float floatAt(const std::uint8_t* at)
{
    std::uint32_t bits = 0;
    for (int i = 0; i < 4; ++i)
        bits |= std::uint32_t(at[i]) << (8 * i);
    float value = 0;
    std::memcpy(&value, &bits, 4);
    return value;
}

std::string figure(double value, const char* format)
{
    char text[48];
    std::snprintf(text, sizeof text, format, std::isfinite(value) ? value : 0.0);
    return text;
}

} // namespace

PointCloud2 pointCloudOf(const ScanRound& round, const ScanOptions& options)
{
    PointCloud2 cloud;
    cloud.header.stamp = rosTime(round.receive_time_ns);
    cloud.header.frame_id = options.frame_id;
    cloud.height = 1;
    cloud.width = std::uint32_t(round.points.size());
    std::uint32_t offset = 0;
    for (const char* name : kFieldNames) {
        cloud.fields.push_back(PointField{name, offset, PointField::FLOAT32, 1});
        offset += 4;
    }
    cloud.is_bigendian = false;
    cloud.point_step = kPointStep;
    cloud.row_step = kPointStep * cloud.width;
    cloud.data.resize(std::size_t(cloud.row_step));
    std::uint8_t* at = cloud.data.data();
    for (const PointRecord& point : round.points) {
        const coordinates::PlanePoint plane = coordinates::fromPolar(point, options);
        const float values[] = {float(plane.x_m), float(plane.y_m), 0.0f, point.intensity, point.angle, point.distance};
        for (float value : values) {
            putFloat(at, value);
            at += 4;
        }
    }
    cloud.is_dense = true;
    return cloud;
}

bool pointsOf(const PointCloud2& cloud, std::vector<PointRecord>& points, std::string& error, bool frame_angles)
{
    bool layout = cloud.fields.size() == 6 && cloud.point_step == kPointStep && !cloud.is_bigendian && cloud.height == 1
        && std::uint64_t(cloud.width) * kPointStep == cloud.data.size() && cloud.row_step == cloud.data.size();
    for (std::size_t i = 0; layout && i < 6; ++i)
        layout = cloud.fields[i].name == kFieldNames[i] && cloud.fields[i].offset == 4 * i
            && cloud.fields[i].datatype == PointField::FLOAT32 && cloud.fields[i].count == 1;
    if (!layout) {
        error = "the point cloud is not x, y, z, intensity, angle, distance in float32, one row";
        return false;
    }
    if (cloud.width > limits::kPointsPerRound) {
        error = "the point cloud has more than " + std::to_string(limits::kPointsPerRound) + " points";
        return false;
    }
    points.clear();
    points.reserve(cloud.width);
    for (std::size_t at = 0; at < cloud.data.size(); at += kPointStep) {
        const std::uint8_t* point = cloud.data.data() + at;
        PointRecord record{floatAt(point + 12), floatAt(point + 20), floatAt(point + 16)};
        if (frame_angles && record.distance > 0)
            record.angle = float(deviceAngleOf(ScanOptions(), std::atan2(floatAt(point + 4), floatAt(point))));
        // What no file of ours can write back is refused, as the other readers do.
        if (!std::isfinite(record.intensity) || !std::isfinite(record.distance) || !std::isfinite(record.angle)) {
            error = "point " + std::to_string(at / kPointStep + 1) + " of the point cloud is not a finite number";
            return false;
        }
        points.push_back(record);
    }
    return true;
}

DiagnosticArray diagnosticsOf(const status::Sample& sample, const status::Sample& previous, const std::string& frame_id)
{
    const double frames = sample.frames_per_second;
    const std::uint64_t rejects =
        sample.crc_rejects >= previous.crc_rejects ? sample.crc_rejects - previous.crc_rejects : sample.crc_rejects;
    const bool receiving = frames > 0;
    const double reject_share = receiving || rejects > 0 ? double(rejects) / (frames + double(rejects)) : 0.0;

    DiagnosticStatus status;
    status.name = "tx710: link";
    status.hardware_id = frame_id;
    const bool link_down = sample.link_down_since_ns != 0;
    if (link_down) {
        status.level = DiagnosticStatus::ERROR;
        status.message = "link lost";
    } else if (!receiving) {
        status.level = DiagnosticStatus::ERROR;
        status.message = "no data";
    } else if (reject_share > 0.01) {
        status.level = DiagnosticStatus::WARN;
        status.message = "CRC rejects above 1 %";
    } else if (!(sample.rpm >= kNormalMinRpm && sample.rpm <= kNormalMaxRpm)) {
        status.level = DiagnosticStatus::WARN;
        status.message = "turning speed out of its normal band";
    } else {
        status.level = DiagnosticStatus::OK;
        status.message = "receiving";
    }
    status.values = {{"frames_per_second", figure(frames, "%.0f")},
                     {"crc_rejects", std::to_string(sample.crc_rejects)},
                     {"crc_rejects_last_second", std::to_string(rejects)},
                     {"rpm", figure(sample.rpm, "%.1f")},
                     {"points_per_second", figure(sample.points_per_second, "%.0f")},
                     {"link",
                      link_down       ? "lost"
                          : receiving ? "receiving"
                                      : "no data"}};
    if (link_down)
        status.values.push_back(
            {"link_down_s", figure(double(sample.time_ns - sample.link_down_since_ns) / 1e9, "%.1f")});
    DiagnosticArray array;
    array.header.stamp = rosTime(sample.time_ns);
    array.header.frame_id = frame_id;
    array.status.push_back(std::move(status));
    return array;
}

double rpmOf(const DiagnosticArray& diagnostics)
{
    for (const DiagnosticStatus& status : diagnostics.status) {
        for (const KeyValue& pair : status.values) {
            if (pair.key != "rpm")
                continue;
            char* end = nullptr;
            const double rpm = std::strtod(pair.value.c_str(), &end);
            return end != pair.value.c_str() && *end == '\0' && std::isfinite(rpm) ? rpm : 0.0;
        }
    }
    return 0.0;
}

TFMessage staticTransformsOf(const DeviceScans& devices, std::int64_t stamp_ns)
{
    TFMessage message;
    for (const ScanOptions& device : devices) {
        TransformStamped transform;
        transform.header.stamp = rosTime(stamp_ns);
        transform.header.frame_id = device.base_frame;
        transform.child_frame_id = device.frame_id;
        transform.transform.translation = Vector3{device.mount.x, device.mount.y, device.mount.z};
        // A turn about z only: (0, 0, sin(yaw/2), cos(yaw/2)).
        const double half_yaw = device.mount.yaw_deg * 3.14159265358979323846 / 360.0;
        transform.transform.rotation = Quaternion{0, 0, std::sin(half_yaw), std::cos(half_yaw)};
        message.transforms.push_back(std::move(transform));
    }
    return message;
}

} // namespace tx710::ros2
