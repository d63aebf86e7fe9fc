#include "SerialPort/rejection_log_budget.h"

#include <chrono>

#include "app/log.h"

namespace tx710 {

namespace {

std::int64_t steadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

RejectionLogBudget::RejectionLogBudget(Clock clock) : clock_(clock ? std::move(clock) : Clock(steadyMs))
{
    flush_timer_.setSingleShot(true);
    flush_timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&flush_timer_, &QTimer::timeout, [this] {
        flush();
        if (unshown_ > 0)
            armTimer(); // fired before the second ended
    });
}

void RejectionLogBudget::armTimer()
{
    const std::int64_t left = window_start_ + kWindowMs - clock_();
    flush_timer_.start(int(left > 0 ? left : 0));
}

bool RejectionLogBudget::admit()
{
    flush();
    const std::int64_t now = clock_();
    if (!window_open_) {
        window_open_ = true;
        window_start_ = now;
        shown_ = 0;
    }
    if (shown_ < kPerSecond) {
        ++shown_;
        return true;
    }
    if (unshown_++ == 0)
        armTimer();
    return false;
}

void RejectionLogBudget::flush()
{
    if (!window_open_ || clock_() - window_start_ < kWindowMs)
        return;
    window_open_ = false;
    if (unshown_ == 0)
        return;
    TX_LOG << "frame finder:" << qulonglong(unshown_) << "rejected frames not shown (at most" << kPerSecond
           << "a second are logged)";
    unshown_ = 0;
    flush_timer_.stop();
}

} // namespace tx710
