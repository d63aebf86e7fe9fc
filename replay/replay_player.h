#pragma once

// Plays an opened recording round by round: play and pause, one round back or
// forward, a jump to any round, at the recording's own pace or one round per
// repaint. Holds the replay's whole state; the playback bar only presents it.

#include <QObject>
#include <QTimer>

#include "replay/recording_file.h"

namespace tx710::replay {

class ReplayPlayer : public QObject
{
    Q_OBJECT
public:
    enum class Pace {
        Recorded,  // the recorded time between rounds; 10 rounds a second when not recorded
        PerRepaint // the next round as soon as the view has drawn this one
    };
    static constexpr int kNominalIntervalMs = 100;
    // A longer pause in a recording (the device stopped) is not waited out.
    static constexpr int kLongestIntervalMs = 1000;

    explicit ReplayPlayer(QObject* parent = nullptr);

    // Takes a new recording and shows its first round, paused.
    void load(Recording recording);
    // Forgets the recording and stops.
    void clear();

    int count() const { return recording_.count(); }
    int index() const { return index_; } // -1 without a recording
    // Read from the recording; a round that can no longer be read (the file
    // changed) is logged and shown empty. With several LiDARs, its points are
    // placed in the base frame (see placeInBaseFrame).
    Round round(int index) const;
    // The LiDARs of a recording of several (see Recording::devices).
    const std::vector<mcap::DevicePlacement>& devices() const { return recording_.devices(); }
    // What shows round `index` with `decay` rounds a LiDAR, after a jump: of
    // each LiDAR its last `decay` rounds up to `index`, oldest first.
    std::vector<int> roundsShownAt(int index, int decay) const;
    bool isPlaying() const { return playing_; }
    Pace pace() const { return pace_; }
    // Milliseconds until the next round while playing at the recorded pace,
    // -1 otherwise.
    int nextIntervalMs() const { return timer_.isActive() ? timer_.interval() : -1; }

public slots:
    // From the last round, play starts over at the first.
    void play();
    void pause();
    void togglePlay();
    // Stepping pauses.
    void stepForward();
    void stepBack();
    // Clamped to the recording; keeps playing if it was.
    void seek(int index);
    void setPace(tx710::replay::ReplayPlayer::Pace pace);
    // The view has drawn a frame: at one round per repaint, the next round.
    void frameDrawn();

signals:
    // The round to show now.
    void roundChanged(int index);
    // Playing, paused, pace or recording changed.
    void stateChanged();

private:
    void show(int index);
    void advance();
    void scheduleNext();

    Recording recording_;
    int index_ = -1;
    bool playing_ = false;
    Pace pace_ = Pace::Recorded;
    QTimer timer_;
    bool awaiting_frame_ = false; // one round per repaint: the shown round is not drawn yet
};

} // namespace tx710::replay
