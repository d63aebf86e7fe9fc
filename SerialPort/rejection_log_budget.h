#pragma once

#include <QTimer>

#include <cstdint>
#include <functional>

namespace tx710 {

// Bounds the frame finder's rejection log: the lines of at most kPerSecond
// rejected frames are written in each second; the rest are counted and one
// summary line per second reports how many were not shown. A garbage stream
// at line rate would otherwise write megabytes a second.
class RejectionLogBudget
{
public:
    // Monotonic milliseconds.
    using Clock = std::function<std::int64_t()>;

    static constexpr int kPerSecond = 100;
    static constexpr std::int64_t kWindowMs = 1000;

    // Without a clock, the steady clock is used.
    explicit RejectionLogBudget(Clock clock = Clock());

    // One rejected frame: true when its lines are to be written. Writes the
    // summary of an ended second first.
    bool admit();
    // Writes the summary of the ended second, if any frames went unshown in
    // it. The timer calls it, so the last summary is not lost when
    // rejections stop.
    void flush();

    // Frames counted but not shown in the current second.
    std::uint64_t unshown() const { return unshown_; }

private:
    void armTimer();

    Clock clock_;
    std::int64_t window_start_ = 0;
    bool window_open_ = false;
    int shown_ = 0;
    std::uint64_t unshown_ = 0;
    QTimer flush_timer_;
};

} // namespace tx710
