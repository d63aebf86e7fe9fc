#include "view/shown_rounds.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "SerialPort/point_display.h"

namespace tx710 {

namespace {

std::uint8_t intensityByte(float intensity)
{
    return static_cast<std::uint8_t>(std::clamp(intensity, 0.0f, 255.0f));
}

// Angular distance on the circle, degrees.
float angleGap(float a, float b)
{
    const float gap = std::fabs(a - b);
    return std::min(gap, 360.0f - gap);
}

} // namespace

void ShownRounds::setDecayRounds(int count)
{
    decay_rounds_ = std::clamp(count, 1, kMaxDecayRounds);
    while (static_cast<int>(rounds_.size()) > decay_rounds_)
        rounds_.pop_back();
}

void ShownRounds::add(ShownRound round)
{
    rounds_.push_front(std::move(round));
    while (static_cast<int>(rounds_.size()) > decay_rounds_)
        rounds_.pop_back();
}

void ShownRounds::drawArrays(bool color_flag, std::vector<QVector3D>& points, std::vector<QVector3D>& colors) const
{
    for (std::size_t age = 0; age < rounds_.size(); ++age) {
        const ShownRound& round = rounds_[age];
        points.insert(points.end(), round.points.begin(), round.points.end());
        const float brightness = 1.0f - static_cast<float>(age) / static_cast<float>(decay_rounds_);
        if (colour_) {
            colors.resize(points.size(), *colour_ * brightness);
            continue;
        }
        if (age == 0 && !round.follows_colour_map) {
            colors.insert(colors.end(), round.colors.begin(), round.colors.end());
            colors.resize(points.size(), QVector3D(1, 1, 1));
            continue;
        }
        for (const PointRecord& record : round.records)
            colors.push_back(pointColour(intensityByte(record.intensity), false, color_flag) * brightness);
        colors.resize(points.size(), QVector3D(brightness, brightness, brightness));
    }
}

int ShownRounds::pick(float angle, float tolerance, std::optional<float> distance) const
{
    if (rounds_.empty())
        return -1;
    int best = -1;
    float best_gap = distance ? std::numeric_limits<float>::infinity() : tolerance;
    const std::vector<PointRecord>& records = rounds_.front().records;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const float angle_gap = angleGap(records[i].angle, angle);
        const float gap = distance ? std::fabs(records[i].distance - *distance) : angle_gap;
        if (angle_gap < tolerance && gap < best_gap) {
            best_gap = gap;
            best = static_cast<int>(i);
        }
    }
    return best;
}

ShownRound ShownRounds::fromRecords(const std::vector<PointRecord>& records, bool color_flag)
{
    ShownRound round;
    round.points.reserve(records.size());
    round.colors.reserve(records.size());
    round.records.reserve(records.size());
    for (const PointRecord& record : records) {
        if (record.distance <= 0.0f)
            continue; // no return: neither drawn nor picked, as live
        round.points.push_back(scanPlanePosition(record.angle, record.distance));
        round.colors.push_back(pointColour(intensityByte(record.intensity), false, color_flag));
        round.records.push_back(record);
    }
    round.follows_colour_map = true;
    return round;
}

QVector3D deviceColour(int device)
{
    static const QVector3D palette[] = {
        {1.0f, 0.55f, 0.15f}, // orange
        {0.35f, 0.6f, 1.0f},  // blue
        {1.0f, 0.3f, 0.3f},   // red
        {0.6f, 1.0f, 0.3f},   // lime
        {0.65f, 0.45f, 1.0f}, // violet
        {0.2f, 0.85f, 0.7f},  // teal
        {0.85f, 0.7f, 0.4f},  // sand
        {1.0f, 0.55f, 0.75f}, // pink
    };
    constexpr int count = int(sizeof(palette) / sizeof(palette[0]));
    return palette[((device % count) + count) % count];
}

} // namespace tx710
