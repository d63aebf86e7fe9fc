#include "tools/simulated_lidar.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tx710 {

namespace {

constexpr double kPi = 3.14159265358979323846;

// The room around the device, in metres of the scan plane (device at 0,0).
constexpr double kRoomLeft = -3.0;
constexpr double kRoomRight = 3.5;
constexpr double kRoomBottom = -2.0;
constexpr double kRoomTop = 2.5;
// An open door in the top wall: the beam leaves the room and nothing returns.
constexpr double kDoorFrom = 0.5;
constexpr double kDoorTo = 1.5;
// A reflector strip on the left wall saturates the receiver.
constexpr double kReflectorFrom = -0.15;
constexpr double kReflectorTo = 0.15;
// A round object walking through the lower half of the room.
constexpr double kObjectRadius = 0.2;
// Share of points randomly lost (dark or glancing surfaces).
constexpr double kDropOutRate = 0.015;

struct Hit {
    double range = std::numeric_limits<double>::infinity();
    double cos_incidence = 1.0; // between beam and surface normal
    enum Kind { None, Wall, Door, Reflector, Object } kind = None;
};

Hit wallHit(double dx, double dy)
{
    Hit hit;
    auto consider = [&](double t, Hit::Kind kind, double cos_incidence) {
        if (t > 0 && t < hit.range) {
            hit.range = t;
            hit.kind = kind;
            hit.cos_incidence = cos_incidence;
        }
    };
    if (dx > 0)
        consider(kRoomRight / dx, Hit::Wall, dx);
    if (dx < 0)
        consider(kRoomLeft / dx, Hit::Wall, -dx);
    if (dy > 0)
        consider(kRoomTop / dy, Hit::Wall, dy);
    if (dy < 0)
        consider(kRoomBottom / dy, Hit::Wall, -dy);

    const double x = dx * hit.range;
    const double y = dy * hit.range;
    if (dy > 0 && std::abs(y - kRoomTop) < 1e-9 && x >= kDoorFrom && x <= kDoorTo)
        hit.kind = Hit::Door;
    if (dx < 0 && std::abs(x - kRoomLeft) < 1e-9 && y >= kReflectorFrom && y <= kReflectorTo)
        hit.kind = Hit::Reflector;
    return hit;
}

void objectCentre(double seconds, double& cx, double& cy)
{
    cx = 1.5 * std::sin(2 * kPi * seconds / 8.0);
    cy = -1.2 + 0.3 * std::cos(2 * kPi * seconds / 5.0);
}

std::uint8_t clampByte(double value)
{
    return static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

std::uint16_t clampU16(double value)
{
    return static_cast<std::uint16_t>(std::clamp(std::lround(value), 0L, 65535L));
}

std::uint16_t angleField(double degrees)
{
    long hundredths = std::lround(degrees * 100.0) % 36000;
    if (hundredths < 0)
        hundredths += 36000;
    return static_cast<std::uint16_t>(hundredths);
}

} // namespace

SimulatedLidar::SimulatedLidar(double points_per_second, std::uint32_t seed)
    : points_per_second_(points_per_second > 0 ? points_per_second : kDevicePointsPerSecond),
      degrees_per_point_(360.0 * kDeviceRevolutionsPerSecond / points_per_second_), random_(seed)
{}

ScanPoint SimulatedLidar::measure(double angle, double seconds) const
{
    const double radians = angle * kPi / 180.0;
    const double dx = -std::sin(radians);
    const double dy = -std::cos(radians);

    Hit hit = wallHit(dx, dy);

    double cx = 0, cy = 0;
    objectCentre(seconds, cx, cy);
    const double along = dx * cx + dy * cy;
    const double disc = along * along - (cx * cx + cy * cy) + kObjectRadius * kObjectRadius;
    if (disc >= 0) {
        const double t = along - std::sqrt(disc);
        if (t > 0 && t < hit.range) {
            const double nx = (dx * t - cx) / kObjectRadius;
            const double ny = (dy * t - cy) / kObjectRadius;
            hit.range = t;
            hit.kind = Hit::Object;
            hit.cos_incidence = std::abs(nx * dx + ny * dy);
        }
    }

    ScanPoint point;
    switch (hit.kind) {
    case Hit::None:
    case Hit::Door:
        return point; // no return
    case Hit::Reflector:
        point.intensity = 255;
        break;
    case Hit::Object:
        // Retro-reflective coat: always in the strong band 211..255.
        point.intensity = clampByte(211.0 + 44.0 * hit.cos_incidence);
        break;
    case Hit::Wall: {
        // Matte walls: weaker with distance and at glancing angles, 0..210.
        const double falloff = 1.0 / (1.0 + 0.25 * hit.range);
        point.intensity = clampByte(210.0 * hit.cos_incidence * falloff * 1.6);
        if (point.intensity > 210)
            point.intensity = 210;
        break;
    }
    }
    point.distance = clampU16(hit.range * 1000.0);
    return point;
}

ScanFrameFields SimulatedLidar::nextFrameFields()
{
    ScanFrameFields fields;
    fields.speed = kDeviceSpeedField;
    const double start = next_angle_;
    const double first_time = sceneTime();
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::uniform_int_distribution<int> noise(-4, 4);
    for (int i = 0; i < kPointsPerFrame; ++i) {
        const double angle = std::fmod(start + i * degrees_per_point_, 360.0);
        ScanPoint point = measure(angle, first_time + i / points_per_second_);
        if (unit(random_) < kDropOutRate) {
            point = ScanPoint{};
        } else if (point.distance != 0) {
            point.distance = clampU16(point.distance + noise(random_));
        }
        fields.points[static_cast<std::size_t>(i)] = point;
    }
    fields.start_angle = angleField(start);
    fields.end_angle = angleField(start + (kPointsPerFrame - 1) * degrees_per_point_);
    next_angle_ = std::fmod(start + kPointsPerFrame * degrees_per_point_, 360.0);
    ++frames_made_;
    return fields;
}

FrameBytes SimulatedLidar::nextFrame()
{
    return encodeFrame(nextFrameFields());
}

std::vector<FrameBytes> framesFromRecordedRounds(const std::vector<datafile::RecordedRound>& rounds,
                                                 std::uint16_t speed)
{
    std::vector<FrameBytes> frames;
    for (const datafile::RecordedRound& round : rounds) {
        const std::vector<PointRecord>& points = round.points;
        // A frame never spans two rounds.
        for (std::size_t begin = 0; begin < points.size(); begin += kPointsPerFrame) {
            const std::size_t count = std::min(points.size() - begin, std::size_t(kPointsPerFrame));
            double step = 360.0 * SimulatedLidar::kDeviceRevolutionsPerSecond / SimulatedLidar::kDevicePointsPerSecond;
            if (count >= 2) {
                double span = double(points[begin + count - 1].angle) - points[begin].angle;
                if (span < 0)
                    span += 360.0;
                step = span / static_cast<double>(count - 1);
            }
            ScanFrameFields fields;
            fields.speed = speed;
            fields.start_angle = angleField(points[begin].angle);
            for (std::size_t i = 0; i < count; ++i) {
                fields.points[i].distance = clampU16(points[begin + i].distance);
                fields.points[i].intensity = clampByte(points[begin + i].intensity);
            }
            fields.end_angle = angleField(points[begin].angle + step * (kPointsPerFrame - 1));
            frames.push_back(encodeFrame(fields));
        }
    }
    return frames;
}

} // namespace tx710
