#pragma once

// Reads back what the MCAP writer writes: the rounds in log-time order (the
// /scan point clouds of the Foxglove profile, /tx710/points of the ROS 2
// one), for replay. Reads the file front to back, so a recording cut short (no
// summary, a torn last record) still gives every whole chunk before the cut.
// Malformed input gives an error, never a read outside the bytes.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

#include "recording/scan_round.h"

namespace tx710::mcap {

struct Contents {
    std::vector<ScanRound> rounds; // number = the message's sequence; speed_rpm from the statuses
    std::size_t status_messages = 0;
    // The turning speed each /tx710/status message gives, in log-time order;
    // a status without a readable positive rpm is left out.
    struct Speed {
        std::int64_t time_ns = 0;
        double rpm = 0;
    };
    std::vector<Speed> speeds;
    // False when the file stops before its footer and closing magic.
    bool complete = false;
};

bool parse(const QByteArray& bytes, Contents& contents, QString& error);
bool readFile(const QString& path, Contents& contents, QString& error);

} // namespace tx710::mcap
