#include "view/screen_rounds.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tx710 {

namespace {

constexpr float kPickTolerance = 0.2f;     // degrees, as the decoder picks
constexpr float kDimmedBrightness = 0.35f; // the rounds on screen while the link is down

// The decoder's last complete round, as the view draws it.
ShownRound liveRound()
{
    const SerialData* decoder = SerialData::instance();
    return ShownRound{decoder->display_points_, decoder->display_colors_, decoder->displayRecords()};
}

} // namespace

ScreenRounds::ScreenRounds() : shown_(1), replay_speed_rpm_(1)
{
    // The round completed before the view existed, if any.
    if (!SerialData::instance()->display_points_.empty())
        shown_.front().add(liveRound());
}

void ScreenRounds::setDecayRounds(int count)
{
    for (ShownRounds& rounds : shown_)
        rounds.setDecayRounds(count);
    dirty_ = true;
}

void ScreenRounds::setDevices(int count)
{
    if (std::max(count, 1) == devices())
        return; // held rounds stay held
    const int decay = decayRounds();
    shown_.assign(std::size_t(std::max(count, 1)), ShownRounds());
    replay_speed_rpm_.assign(shown_.size(), 0);
    for (std::size_t device = 0; device < shown_.size(); ++device) {
        shown_[device].setDecayRounds(decay);
        if (count > 1)
            shown_[device].setColour(deviceColour(int(device)));
    }
    picked_device_ = 0;
    dirty_ = true;
}

void ScreenRounds::takeLive()
{
    if (standsStill())
        return;
    shown_.front().add(liveRound());
    dirty_ = true;
}

void ScreenRounds::showRecorded(const std::vector<PointRecord>& points, double speed_rpm, int device)
{
    if (!replaying_) {
        replaying_ = true;
        for (ShownRounds& rounds : shown_)
            rounds.clear(); // no live round among the replayed ones
    }
    const std::size_t lidar = std::size_t(std::clamp(device, 0, devices() - 1));
    replay_speed_rpm_[lidar] = speed_rpm;
    if (held_)
        return;
    shown_[lidar].add(ShownRounds::fromRecords(points, SerialData::instance()->colorFlag()));
    dirty_ = true;
}

void ScreenRounds::endReplay()
{
    replaying_ = false;
    for (ShownRounds& rounds : shown_)
        rounds.clear();
    if (!SerialData::instance()->display_points_.empty())
        shown_.front().add(liveRound());
    dirty_ = true;
}

std::optional<ShowData> ScreenRounds::pick(float angle, float distance)
{
    int index = -1;
    std::size_t lidar = 0;
    if (shown_.size() == 1) {
        index = shown_.front().pick(angle, kPickTolerance);
    } else {
        float best = std::numeric_limits<float>::infinity();
        for (std::size_t device = 0; device < shown_.size(); ++device) {
            const int found = shown_[device].pick(angle, kPickTolerance, distance);
            const float gap =
                found < 0 ? best : std::fabs(shown_[device].newest().records[std::size_t(found)].distance - distance);
            if (gap < best) {
                best = gap;
                index = found;
                lidar = device;
            }
        }
    }
    if (index < 0)
        return std::nullopt;
    picked_device_ = int(lidar);
    const double replay_speed_rpm = replay_speed_rpm_[lidar];
    const ShownRound& round = shown_[lidar].newest();
    const PointRecord& record = round.records[std::size_t(index)];
    const QVector3D& position = round.points[std::size_t(index)];
    still_hover_ = HoverPoint{position.x(), position.y()};
    ShowData data;
    data.angle = record.angle;
    data.distance = record.distance;
    data.intensity = record.intensity;
    if (replaying_) {
        data.speed = static_cast<float>(replay_speed_rpm);
        // Points a second from the round's points and the turning speed.
        data.spot_frequency = std::isnan(replay_speed_rpm)
            ? -1
            : static_cast<std::int32_t>(double(round.records.size()) * replay_speed_rpm / 60.0);
    } else {
        const SerialData* decoder = SerialData::instance();
        data.speed = static_cast<float>(decoder->lastSpeedRpm());
        data.spot_frequency = decoder->spotFrequency();
    }
    return data;
}

void ScreenRounds::setDimmed(bool dimmed)
{
    dirty_ = dirty_ || dimmed != dimmed_;
    dimmed_ = dimmed;
}

HoverPoint ScreenRounds::hoverPoint() const
{
    return standsStill() ? still_hover_ : SerialData::instance()->hoverPoint();
}

bool ScreenRounds::refresh(bool colour_flag)
{
    if (!dirty_ && colour_flag == drawn_colour_flag_)
        return false;
    points_.clear();
    colors_.clear();
    for (const ShownRounds& rounds : shown_)
        rounds.drawArrays(colour_flag, points_, colors_);
    if (dimmed_)
        for (QVector3D& colour : colors_)
            colour *= kDimmedBrightness;
    drawn_colour_flag_ = colour_flag;
    dirty_ = false;
    return true;
}

} // namespace tx710
