#include "view/screen_rounds.h"

#include <cmath>

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

ScreenRounds::ScreenRounds()
{
    // The round completed before the view existed, if any.
    if (!SerialData::instance()->display_points_.empty())
        shown_.add(liveRound());
}

void ScreenRounds::setDecayRounds(int count)
{
    shown_.setDecayRounds(count);
    dirty_ = true;
}

void ScreenRounds::takeLive()
{
    if (standsStill())
        return;
    shown_.add(liveRound());
    dirty_ = true;
}

void ScreenRounds::showRecorded(const std::vector<PointRecord>& points, double speed_rpm)
{
    if (!replaying_) {
        replaying_ = true;
        shown_.clear(); // no live round among the replayed ones
    }
    replay_speed_rpm_ = speed_rpm;
    if (held_)
        return;
    shown_.add(ShownRounds::fromRecords(points, SerialData::instance()->colorFlag()));
    dirty_ = true;
}

void ScreenRounds::endReplay()
{
    replaying_ = false;
    shown_.clear();
    if (!SerialData::instance()->display_points_.empty())
        shown_.add(liveRound());
    dirty_ = true;
}

std::optional<ShowData> ScreenRounds::pick(float angle)
{
    const int index = shown_.pick(angle, kPickTolerance);
    if (index < 0)
        return std::nullopt;
    const ShownRound& round = shown_.newest();
    const PointRecord& record = round.records[std::size_t(index)];
    const QVector3D& position = round.points[std::size_t(index)];
    still_hover_ = HoverPoint{position.x(), position.y()};
    ShowData data;
    data.angle = record.angle;
    data.distance = record.distance;
    data.intensity = record.intensity;
    if (replaying_) {
        data.speed = static_cast<float>(replay_speed_rpm_);
        // Points a second from the round's points and the turning speed.
        data.spot_frequency = std::isnan(replay_speed_rpm_)
            ? -1
            : static_cast<std::int32_t>(double(round.records.size()) * replay_speed_rpm_ / 60.0);
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
    shown_.drawArrays(colour_flag, points_, colors_);
    if (dimmed_)
        for (QVector3D& colour : colors_)
            colour *= kDimmedBrightness;
    drawn_colour_flag_ = colour_flag;
    dirty_ = false;
    return true;
}

} // namespace tx710
