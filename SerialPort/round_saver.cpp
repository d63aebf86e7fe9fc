#include "SerialPort/round_saver.h"

#include <chrono>
#include <thread>
#include <utility>

#include "app/log.h"
#include "recording/data_file_writer.h"

namespace {
constexpr std::size_t kRoundCapacity = 1024;
}

RoundSaver::RoundSaver()
{
    round_.reserve(kRoundCapacity);
}

RoundSaver::~RoundSaver()
{
    // The writer works on this object.
    recording_ = false;
    request_ = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.clear();
    }
    if (writer_finished_.valid())
        writer_finished_.wait();
}

SaveOutcome RoundSaver::lastOutcome() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return outcome_;
}

void RoundSaver::request()
{
    // A writer that has just made its final report may still be returning.
    if (writer_finished_.valid())
        writer_finished_.wait();
    collected_rounds_ = 0;
    round_.clear();
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.clear(); // a new save starts from an empty queue
    outcome_ = SaveOutcome();
    request_ = true;
}

void RoundSaver::start(const SaveOutcome& target)
{
    setOutcome(target);
    if (!target.ok) {
        endCollection();
        reportProgress(false, 0);
        return;
    }
    round_no_ = 1;
    writer_running_ = true;
    std::promise<void> finished;
    writer_finished_ = finished.get_future().share();
    // The writer gets a string of its own: no reference count shared across threads.
    QString file_name(target.path.constData(), target.path.size());
    std::thread([this, file_name = std::move(file_name), finished = std::move(finished)]() mutable {
        writeRounds(file_name);
        finished.set_value();
    }).detach();
}

void RoundSaver::stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        request_ = false;
        recording_ = false;
    }
    queue_changed_.notify_one();
}

void RoundSaver::roundBoundary()
{
    if (recording_) {
        closeRound();
    } else if (request_) {
        // Both flags change together: the writer never sees both clear while
        // a save is starting.
        std::lock_guard<std::mutex> lock(mutex_);
        recording_ = true;
        request_ = false;
        round_.clear();
    }
}

void RoundSaver::closeRound()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // The writer may have ended the save meanwhile (a failed write).
        if (!recording_)
            return;
        if (!round_.empty()) {
            queue_.push_back(std::move(round_));
            ++collected_rounds_;
        }
        // Queued and ended in one step, or the writer could end before the last round.
        if (collected_rounds_ >= kRoundsPerSave)
            recording_ = false;
    }
    queue_changed_.notify_one();
    round_ = std::vector<PointRecord>();
    round_.reserve(kRoundCapacity);
}

void RoundSaver::endCollection()
{
    std::lock_guard<std::mutex> lock(mutex_);
    request_ = false;
    recording_ = false;
    queue_.clear();
}

void RoundSaver::setOutcome(const SaveOutcome& outcome)
{
    std::lock_guard<std::mutex> lock(mutex_);
    outcome_ = outcome;
}

void RoundSaver::reportProgress(bool ok, int value)
{
    std::lock_guard<std::mutex> lock(callback_mutex_);
    if (progress_callback_)
        progress_callback_(ok, value);
}

void RoundSaver::writeRounds(QString file_name)
{
    tx710::DataFileWriter file(file_name);
    SaveOutcome outcome = lastOutcome();
    for (;;) {
        std::vector<PointRecord> round;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            // Queue and both flags judged under the one lock: the decoder
            // queues the last round and ends the collection in one step.
            const auto finished = [this] { return !request_ && !recording_; };
            queue_changed_.wait_for(lock, std::chrono::milliseconds(10), [&] { return !queue_.empty() || finished(); });
            if (queue_.empty()) {
                if (finished())
                    break;
                continue;
            }
            round = std::move(queue_.front());
            queue_.pop_front();
        }

        // Every save starts its own lines with the header.
        if (!file.appendRound(round_no_, round, round_no_ == 1)) {
            TX_LOG << "file_name_" << file_name << file.errorString();
            endCollection();
            outcome.ok = false;
            outcome.error = file.errorString();
            setOutcome(outcome);
            writer_running_ = false;
            reportProgress(false, 0);
            return;
        }
        outcome.rounds = round_no_;
        setOutcome(outcome);
        reportProgress(true, round_no_);
        ++round_no_;
    }
    // Cleared before the last report so that the next save may start at once.
    writer_running_ = false;
    reportProgress(true, 100);
}
