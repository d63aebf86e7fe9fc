#include "replay/replay_player.h"

#include <algorithm>

namespace tx710::replay {

ReplayPlayer::ReplayPlayer(QObject* parent) : QObject(parent)
{
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &ReplayPlayer::advance);
}

void ReplayPlayer::load(std::vector<Round> rounds)
{
    timer_.stop();
    playing_ = false;
    rounds_ = std::move(rounds);
    index_ = -1;
    if (!rounds_.empty())
        show(0);
    emit stateChanged();
}

void ReplayPlayer::clear()
{
    timer_.stop();
    playing_ = false;
    rounds_.clear();
    index_ = -1;
    emit stateChanged();
}

void ReplayPlayer::play()
{
    if (rounds_.empty() || playing_)
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
    if (rounds_.empty())
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
    const Round& now = rounds_[std::size_t(index_)];
    const Round& next = rounds_[std::size_t(index_ + 1)];
    timer_.start(now.has_time && next.has_time
                     ? int(std::clamp<std::int64_t>((next.time_ns - now.time_ns) / 1000000, 0, kLongestIntervalMs))
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
