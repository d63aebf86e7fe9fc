#include "SerialPort/link_health.h"

namespace tx710 {

void LinkHealthMonitor::addSample(const LinkSample& sample)
{
    samples_.push_back(sample);
    // Keep one sample at or beyond the window's start, as its base.
    while (samples_.size() > 2 && sample.time_ms - samples_[1].time_ms >= kRejectWindowMs)
        samples_.pop_front();
}

LinkHealth LinkHealthMonitor::health() const
{
    LinkHealth health;
    if (samples_.empty())
        return health;
    const LinkSample& now = samples_.back();
    health.rpm = now.rpm;
    health.points_per_round = now.points_per_round;
    if (samples_.size() >= 2) {
        const LinkSample& before = samples_[samples_.size() - 2];
        const std::int64_t span = now.time_ms - before.time_ms;
        if (span > 0)
            health.frames_per_second = double(now.accepted - before.accepted) * 1000.0 / double(span);
        const LinkSample& base = samples_.front();
        health.recent_rejects = now.rejected - base.rejected;
        const std::uint64_t frames = health.recent_rejects + (now.accepted - base.accepted);
        if (frames > 0)
            health.recent_reject_percent = 100.0 * double(health.recent_rejects) / double(frames);
    }
    const std::int64_t silent_ms = now.time_ms - now.last_data_ms;
    if (now.last_data_ms >= 0 && silent_ms > kSilenceMs)
        health.silent_seconds = static_cast<int>(silent_ms / 1000);
    return health;
}

} // namespace tx710
