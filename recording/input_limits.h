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
// Rounds a replay in the viewer indexes: 10 million (11 days at 10 a second).
// The index takes 24 bytes a round (240 MB at the limit, 7 MB for a day);
// the rounds themselves are read from the file when shown.
constexpr std::size_t kIndexRounds = 10000000;
// A recording read whole: one that cannot be read twice (a FIFO) for the
// viewer, and the data files the simulator replays.
constexpr std::int64_t kRecordingBytes = std::int64_t(1) << 30;

} // namespace tx710::limits
