#pragma once

// Sizes no real recording reaches, checked before anything is allocated for
// them: a file over one is refused as damaged or hostile. The README lists
// them for users.

#include <cstddef>
#include <cstdint>

namespace tx710::limits {

// Points of one round: the device gives at most a few thousand.
constexpr std::size_t kPointsPerRound = 100000;
// A data file line ("100 359.512 1519 201") is some twenty bytes.
constexpr int kLineBytes = 1000;
// An MCAP chunk, uncompressed: the writer closes its chunks at 1 MiB.
constexpr std::uint64_t kChunkBytes = 32u << 20;
// One message: a round of kPointsPerRound points in JSON, with room to spare.
constexpr std::uint64_t kMessageBytes = 8u << 20;
// What a replay holds at once: 200 000 rounds (5.5 hours at 10 a second) and
// 40 million points (about 2.5 hours at 4500 points a second, 480 MB).
constexpr std::size_t kReplayRounds = 200000;
constexpr std::size_t kReplayPoints = 40000000;
// A recording file read for replay.
constexpr std::int64_t kRecordingBytes = std::int64_t(1) << 30;

} // namespace tx710::limits
