#pragma once

// A recording opened for replay in the viewer: an index of its rounds (where
// each lies, its time, speed and LiDAR) built in one pass that checks the
// whole file (an MCAP message's points only when it is read), and the rounds
// read back from the file when asked for, the last few kept. A recording is
// held whole only when it cannot be read again (a FIFO: at most
// limits::kRecordingBytes) or when it is given as rounds. The rounds of every
// LiDAR of a recording of several are in one list, in time order.

#include <QString>

#include <deque>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "replay/round_stream.h"

namespace tx710::replay {

class Recording
{
public:
    // Rounds already in memory.
    Recording(std::vector<Round> rounds = {});
    Recording(Recording&&) noexcept;
    Recording& operator=(Recording&&) noexcept;
    ~Recording();

    // Indexes every whole round of `path`; false with the reason in `error`
    // (the line and what is wrong with it, for a text file) when the file
    // cannot be read, is malformed, is over the limits of
    // recording/input_limits.h or holds no round. A wait for data (a FIFO)
    // asks `cancelled` every 100 ms.
    bool open(const QString& path, QString& error, const std::function<bool()>& cancelled = {});
    // The same for bytes already read; `name` only decides the format when the
    // content does not.
    bool openBytes(const QByteArray& bytes, const QString& name, QString& error);

    int count() const { return int(held_.empty() ? entries_.size() : held_.size()); }
    bool hasTime(int index) const;
    // The devices of a recording of several (see RoundStream::devices()) and
    // the base frame their placements are in.
    const std::vector<mcap::DevicePlacement>& devices() const { return devices_; }
    const QString& baseFrame() const { return base_frame_; }
    std::int64_t timeNs(int index) const;
    // The LiDAR of the round at `index`: its place in devices().
    int device(int index) const;
    // The round at `index`; false with the reason when the file can no
    // longer be read (it changed or went away).
    bool read(int index, Round& round, QString& error) const;

    // Enough for the oldest round the view's decay shows, per LiDAR.
    static constexpr std::size_t kCachedRounds = 64;
    // The index's memory per round, in bytes.
    static std::size_t indexBytesPerRound();

private:
    struct Entry {
        std::int64_t position = 0;
        std::int64_t time_ns = 0;
        // The place in a chunk (at most limits::kChunkBytes < 2^28; kTopLevel
        // as kInnerTopLevel) and the device (< mcap::kMaxDevices), in 4 bytes.
        std::uint32_t inner : 28;
        std::uint32_t device : 4;
        float speed_rpm = 0; // NaN: not recorded
    };
    static constexpr std::uint32_t kInnerTopLevel = (1u << 28) - 1;
    bool index(QString& error);

    std::vector<Round> held_;
    // Grows without copying: at most kIndexRounds entries, never twice.
    std::deque<Entry> entries_;
    bool has_time_ = false;
    std::vector<mcap::DevicePlacement> devices_;
    QString base_frame_;
    std::unique_ptr<RoundStream> stream_;
    mutable std::deque<std::pair<int, Round>> cache_;
};

// Every whole round of `path`, or of `bytes` named `name` (as Recording
// opens them), in replay order.
bool loadRecording(const QString& path, std::vector<Round>& rounds, QString& error,
                   const std::function<bool()>& cancelled = {});
bool parseRecording(const QByteArray& bytes, const QString& name, std::vector<Round>& rounds, QString& error);

} // namespace tx710::replay
