#pragma once

#include <QVector3D>

#include <deque>
#include <optional>
#include <vector>

#include "recording/data_file.h"

namespace tx710 {

// One round as the view draws it: positions, colours, and what each point is.
struct ShownRound {
    std::vector<QVector3D> points;
    std::vector<QVector3D> colors;
    std::vector<PointRecord> records; // one per point
    // Live rounds keep the colours they were decoded with; recorded ones
    // follow the colour map as it is now.
    bool follows_colour_map = false;
};

// The rounds on screen: the newest, and with decay the ones before it, each
// older round dimmer. Live and replayed rounds come through here alike.
class ShownRounds
{
public:
    static constexpr int kMaxDecayRounds = 50;

    // How many rounds are shown together, 1..50; older ones are dropped.
    void setDecayRounds(int count);
    int decayRounds() const { return decay_rounds_; }

    void add(ShownRound round);
    void clear() { rounds_.clear(); }
    bool empty() const { return rounds_.empty(); }
    const ShownRound& newest() const { return rounds_.front(); }
    // One LiDAR of several: all its points in `colour`, in place of the
    // colour map; none: the colour map.
    void setColour(std::optional<QVector3D> colour) { colour_ = colour; }

    // Appends what to draw, newest round first (of points at one depth the
    // first drawn wins). A live newest round keeps its own colours; every
    // other takes the colour map's colour of its intensity (or the LiDAR's
    // colour), older ones dimmed by age.
    void drawArrays(bool color_flag, std::vector<QVector3D>& points, std::vector<QVector3D>& colors) const;

    // Index of the newest round's point nearest to `angle` (degrees) within
    // `tolerance`; -1 when none is that near. Given `distance` (mm), of the
    // points that near the one nearest that distance.
    int pick(float angle, float tolerance, std::optional<float> distance = std::nullopt) const;

    // A recorded round as drawn: points without a distance are left out.
    static ShownRound fromRecords(const std::vector<PointRecord>& records, bool color_flag);

private:
    std::deque<ShownRound> rounds_; // newest first
    int decay_rounds_ = 1;
    std::optional<QVector3D> colour_;
};

// The colour of a LiDAR of several, by its place in the recording: distinct
// from the colour map's, the grid's and the figures' colours.
QVector3D deviceColour(int device);

} // namespace tx710
