#pragma once

// Where a recording's rounds and status samples go: the files of
// RecordingOutputs, and any live consumer (a server) beside them. The
// recorder hands each completed round and each status sample to every sink.

#include <QString>

#include "recording/scan_round.h"
#include "recording/status_message.h"

namespace tx710 {

class RoundSink
{
public:
    virtual ~RoundSink() = default;
    // False on a failure that ends the recording; errorString() says what and why.
    virtual bool writeRound(const ScanRound& round) = 0;
    virtual bool writeStatus(const status::Sample& sample) = 0;
    // Ends the sink properly (files whole and closed).
    virtual bool close() = 0;
    virtual QString errorString() const = 0;
};

} // namespace tx710
