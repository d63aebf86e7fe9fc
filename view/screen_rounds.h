#pragma once

#include <QVector3D>

#include <optional>
#include <vector>

#include "SerialPort/serial_data.h"
#include "view/shown_rounds.h"

namespace tx710 {

// Which rounds are on screen: the live ones as they complete, or, while held
// or replaying a recording, the ones shown then; the arrays drawn from them;
// and in a round that stands still, the point picked by the hover angle.
class ScreenRounds
{
public:
    ScreenRounds();

    bool held() const { return held_; }
    bool replaying() const { return replaying_; }
    // Held or replaying: the shown round does not follow the live ones.
    bool standsStill() const { return held_ || replaying_; }
    int decayRounds() const { return shown_.front().decayRounds(); }
    void setDecayRounds(int count);
    // The LiDARs a replay shows at once, each in its own colour with its own
    // decay; one (or none) as ever. A new count clears the rounds shown.
    void setDevices(int count);
    int devices() const { return int(shown_.size()); }

    // The decoder's round that has just completed, shown unless standing still.
    void takeLive();
    void setHeld(bool held) { held_ = held; }
    // A replayed round of LiDAR `device`, shown unless held; the first ends the live ones.
    void showRecorded(const std::vector<PointRecord>& points, double speed_rpm, int device = 0);
    // Back to the live rounds.
    void endReplay();

    // The newest round's point at `angle` (degrees) as the read-out shows it,
    // when one is near; it becomes the hover line's end. With several
    // LiDARs, of the newest rounds' points that near the angle the one
    // nearest `distance` (mm, the cursor's from the centre).
    std::optional<ShowData> pick(float angle, float distance = 0);
    // The LiDAR of the last point picked.
    int pickedDevice() const { return picked_device_; }
    // The hover line's end: the decoder's pick, or this class's while standing still.
    HoverPoint hoverPoint() const;

    // While the link is down the rounds on screen are drawn dimmed.
    void setDimmed(bool dimmed);
    // Fills the arrays again when the rounds or the colour map changed; true then.
    bool refresh(bool colour_flag);
    const std::vector<QVector3D>& points() const { return points_; }
    const std::vector<QVector3D>& colors() const { return colors_; }

private:
    std::vector<ShownRounds> shown_; // one per LiDAR; live rounds in the first
    std::vector<QVector3D> points_;
    std::vector<QVector3D> colors_;
    bool dirty_ = true;
    bool drawn_colour_flag_ = false;
    bool dimmed_ = false;
    bool held_ = false;
    bool replaying_ = false;
    std::vector<double> replay_speed_rpm_; // per LiDAR
    int picked_device_ = 0;
    HoverPoint still_hover_;
};

} // namespace tx710
