#pragma once

// A recording opened for replay: the viewer's text data files (every save in
// the file, rounds in order) and MCAP files (rounds with their receive times,
// and the turning speed when the file has status messages). Told apart by
// their content, then by their extension.

#include <QString>

#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

#include "recording/data_file.h"

namespace tx710::replay {

struct Round {
    std::vector<PointRecord> points;
    bool has_time = false;
    std::int64_t time_ns = 0;                                    // since the Unix epoch, when has_time
    double speed_rpm = std::numeric_limits<double>::quiet_NaN(); // NaN: not recorded
};

// Loads every whole round of `path`; false with the reason in `error` (the
// line and what is wrong with it, for a text file) when the file cannot be
// read, is malformed, is over the limits of recording/input_limits.h or holds
// no round. A wait for data (a FIFO) asks `cancelled` every 100 ms.
bool loadRecording(const QString& path, std::vector<Round>& rounds, QString& error,
                   const std::function<bool()>& cancelled = {});

// The same for bytes already read; `name` only decides the format when the
// content does not (a ".mcap" name without MCAP content is refused).
bool parseRecording(const QByteArray& bytes, const QString& name, std::vector<Round>& rounds, QString& error);

} // namespace tx710::replay
