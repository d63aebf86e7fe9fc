#include "replay/replay_player.h"

#include <algorithm>

#include "replay/base_frame.h"

namespace tx710::replay {

ReplayPlayer::ReplayPlayer(QObject* parent) : QObject(parent)
{
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &ReplayPlayer::advance);
}

void ReplayPlayer::load(Recording recording)
{
    timer_.stop();
    playing_ = false;
    recording_ = std::move(recording);
    index_ = -1;
    if (count() > 0)
        show(0);
    emit stateChanged();
}

void ReplayPlayer::clear()
{
    timer_.stop();
    playing_ = false;
    recording_ = Recording();
    index_ = -1;
    emit stateChanged();
}

Round ReplayPlayer::round(int index) const
{
    Round round;
    QString error;
    if (!recording_.read(index, round, error))
        qWarning("replay: round %d cannot be read: %s", index + 1, qUtf8Printable(error));
    round.device = recording_.device(index);
    if (devices().size() > 1 && std::size_t(round.device) < devices().size())
        placeInBaseFrame(round.points, devices()[std::size_t(round.device)]);
    return round;
}

std::vector<int> ReplayPlayer::roundsShownAt(int index, int decay) const
{
    // Back from `index` until each LiDAR has its rounds, or the first round.
    const std::size_t lidars = std::max<std::size_t>(devices().size(), 1);
    std::vector<int> wanted(mcap::kMaxDevices, decay);
    std::size_t complete = 0;
    std::vector<int> shown;
    for (int k = index; k >= 0 && complete < lidars; --k) {
        const int device = lidars > 1 ? recording_.device(k) : 0;
        int& left = wanted[std::size_t(device)];
        if (left == 0)
            continue;
        shown.push_back(k);
        if (--left == 0 && std::size_t(device) < lidars)
            ++complete;
    }
    std::reverse(shown.begin(), shown.end());
    return shown;
}

void ReplayPlayer::play()
{
    if (count() == 0 || playing_)
        return;
    playing_ = true;
    if (index_ == count() - 1)
        show(0);
    scheduleNext();
    emit stateChanged();
}

void ReplayPlayer::pause()
{
    if (!playing_)
        return;
    playing_ = false;
    timer_.stop();
    emit stateChanged();
}

void ReplayPlayer::togglePlay()
{
    playing_ ? pause() : play();
}

void ReplayPlayer::stepForward()
{
    pause();
    if (index_ + 1 < count())
        show(index_ + 1);
}

void ReplayPlayer::stepBack()
{
    pause();
    if (index_ > 0)
        show(index_ - 1);
}

void ReplayPlayer::seek(int index)
{
    if (count() == 0)
        return;
    index = std::clamp(index, 0, count() - 1);
    if (index != index_)
        show(index);
    if (playing_)
        scheduleNext();
}

void ReplayPlayer::setPace(Pace pace)
{
    if (pace == pace_)
        return;
    pace_ = pace;
    if (playing_)
        scheduleNext();
    emit stateChanged();
}

void ReplayPlayer::show(int index)
{
    index_ = index;
    emit roundChanged(index);
}

void ReplayPlayer::advance()
{
    if (!playing_)
        return;
    if (index_ + 1 < count())
        show(index_ + 1);
    scheduleNext();
}

void ReplayPlayer::scheduleNext()
{
    if (index_ + 1 >= count()) { // the end: stays on the last round
        playing_ = false;
        timer_.stop();
        emit stateChanged();
        return;
    }
    if (pace_ == Pace::PerRepaint) {
        timer_.stop();
        awaiting_frame_ = true;
        return;
    }
    awaiting_frame_ = false;
    timer_.start(recording_.hasTime(index_) && recording_.hasTime(index_ + 1) ? int(std::clamp<std::int64_t>(
                     (recording_.timeNs(index_ + 1) - recording_.timeNs(index_)) / 1000000, 0, kLongestIntervalMs))
                                                                              : kNominalIntervalMs);
}

void ReplayPlayer::frameDrawn()
{
    if (!awaiting_frame_ || !playing_ || pace_ != Pace::PerRepaint)
        return;
    awaiting_frame_ = false;
    advance();
}

} // namespace tx710::replay
