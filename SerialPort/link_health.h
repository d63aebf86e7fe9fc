#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

namespace tx710 {

// The link's counters as read at one moment.
struct LinkSample {
    std::int64_t time_ms = 0;         // monotonic
    std::uint64_t accepted = 0;       // frames with a correct CRC, since start-up
    std::uint64_t rejected = 0;       // frames refused by the CRC check, since start-up
    double rpm = 0;                   // the last frame's turning speed
    std::size_t points_per_round = 0; // points of the last complete round
    std::int64_t last_data_ms = -1;   // when data last arrived; -1 never
};

// What the health line shows.
struct LinkHealth {
    double rpm = 0;
    double frames_per_second = 0;
    std::size_t points_per_round = 0;
    std::uint64_t recent_rejects = 0; // over the last 10 s
    double recent_reject_percent = 0; // of the frames over the last 10 s
    // Whole seconds without data, once data has stopped for more than a
    // second after having come; 0 otherwise.
    int silent_seconds = 0;
};

// Turns samples taken about once a second into rates over the last 10 s.
class LinkHealthMonitor
{
public:
    static constexpr std::int64_t kRejectWindowMs = 10000;
    static constexpr std::int64_t kSilenceMs = 1000;

    void addSample(const LinkSample& sample);
    LinkHealth health() const;

private:
    std::deque<LinkSample> samples_; // oldest first, spanning the last 10 s
};

} // namespace tx710
