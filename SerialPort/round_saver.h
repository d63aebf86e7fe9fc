#pragma once

#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <vector>

#include "recording/data_file.h"

// How the last save ended, for telling the user.
struct SaveOutcome {
    bool ok = true;
    int rounds = 0;      // whole rounds in the file
    QString path;        // the data file; empty when the save could not start
    QString error;       // what failed and why, when !ok
    QString folder_note; // set when the folder beside the program could not be written
};

// A save of the decoder's rounds: from the next round boundary on, up to 100
// whole rounds are collected on the decoding thread and written to a data file
// by a writer thread of its own, which reports its progress.
class RoundSaver
{
public:
    RoundSaver();
    // Ends the collection, drops what is queued and waits for the writer.
    ~RoundSaver();

    void setProgressCallback(std::function<void(bool, int)> callback)
    {
        // The writer reports through it from its own thread.
        std::lock_guard<std::mutex> lock(callback_mutex_);
        progress_callback_ = std::move(callback);
    }
    // True from the start of a writer until just before its final report.
    bool running() const { return writer_running_; }
    // Complete once running() is false or the final report has come.
    SaveOutcome lastOutcome() const;

    // A save refused (one still runs): a failure report.
    void refuse() { reportProgress(false, 0); }
    // A new save from the next round boundary on, with an empty queue.
    void request();
    // Starts the writer on `target` (path and folder note), or ends the
    // requested save with a failure report when !target.ok.
    void start(const SaveOutcome& target);
    // Ends the collection; a save still waiting for its first round ends too.
    void stop();

    // Decoding thread.
    void addPoint(const PointRecord& point)
    {
        if (recording_.load(std::memory_order_relaxed))
            round_.push_back(point);
    }
    // Where one revolution ends and the next begins.
    void roundBoundary();
    // The line was lost: the round under way is dropped.
    void dropRound() { round_.clear(); }

private:
    void closeRound();
    // Ends the collection and drops what is queued.
    void endCollection();
    void setOutcome(const SaveOutcome& outcome);
    void reportProgress(bool ok, int value);
    void writeRounds(QString file_name);

    std::atomic<bool> request_{false};
    std::atomic<bool> recording_{false};
    std::atomic<bool> writer_running_{false};
    int collected_rounds_ = 0;
    std::vector<PointRecord> round_;
    std::deque<std::vector<PointRecord>> queue_;
    // Guards queue_ and every change of request_ and recording_ on the way to
    // the end of a save, so the writer judges all three at once.
    mutable std::mutex mutex_;
    std::condition_variable queue_changed_;
    SaveOutcome outcome_;       // guarded by mutex_
    int round_no_ = 0;          // writer only, once it runs
    std::mutex callback_mutex_; // guards progress_callback_
    std::function<void(bool, int)> progress_callback_;
    std::shared_future<void> writer_finished_;

    static constexpr int kRoundsPerSave = 100;
};
