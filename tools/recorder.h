// One recording of tx710-record: a source (the ports or a replay) hands rounds
// in, every sink gets each round and each status sample of every LiDAR, and
// the first failure (of any LiDAR) or the end asked for stops it.

#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <vector>

#include <memory>

#include "recording/recording_outputs.h"
#include "replay/round_stream.h"
#include "tools/device_input.h"
#include "tools/record_options.h"

namespace tx710 {

class Recorder : public QObject
{
public:
    Recorder(const Options& options, RecordingOutputs& outputs);

    // Another consumer of every round and status sample (a live server).
    void addSink(RoundSink* sink) { sinks_.push_back(sink); }

    // Starts the source; false when it failed at once (reported already).
    bool start();
    void finish(int code);
    void fail(const QString& error);

private:
    bool startPorts();
    bool startReplay();
    // The round after the one to hand on now; false on a read failure.
    bool readAhead(QString& error);
    // One round per turn of the event loop, so that signals are seen.
    void replayNext();
    void handRound(ScanRound round);
    void failLater(const QString& error);
    void writeRound(ScanRound round);
    void handStatus(const status::Sample& sample);
    void tick();
    QString filesText() const;
    QString progressText() const;
    QString summary() const;

    const Options& options_;
    RecordingOutputs& outputs_;
    std::vector<RoundSink*> sinks_;
    std::vector<std::unique_ptr<DeviceInput>> inputs_;
    QTimer tick_;
    QTimer replay_timer_;
    QElapsedTimer elapsed_;
    replay::RoundStream replay_;
    ScanRound next_;
    bool has_next_ = false;
    std::int64_t replay_start_ns_ = 0;
    std::int64_t replayed_ = 0;
    long long rounds_ = 0;                 // of every LiDAR
    std::vector<long long> device_rounds_; // of each
    QString deviceRoundsText() const;
    std::uint64_t rejects() const;
    bool progress_ = false;
    bool finished_ = false;
    bool finished_pending_ = false;
    QString error_;
};

} // namespace tx710
