#pragma once

#include <QElapsedTimer>
#include <QTimer>

#include <functional>

#include "SerialPort/link_health.h"

namespace tx710 {

// Reads the decoder's link counters once a second, and at once when asked,
// and hands the health over the last 10 s on.
class HealthSampler
{
public:
    explicit HealthSampler(std::function<void(const LinkHealth&)> sampled);
    // A live round has just completed.
    void noteRound() { last_round_ms_ = clock_.elapsed(); }
    void sample();

private:
    std::function<void(const LinkHealth&)> sampled_;
    LinkHealthMonitor monitor_;
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_round_ms_ = -1;
};

} // namespace tx710
