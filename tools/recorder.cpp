// One recording of tx710-record: a source (the port or a replay) hands rounds
// in, every sink gets each round and each status sample, and the first failure
// or the end asked for stops it.

#include "tools/recorder.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>

#include <unistd.h>

#include "app/unix_signal_watcher.h"

namespace tx710 {

namespace {

constexpr std::int64_t kReplayRoundNs = 100000000; // the device's 10 rounds/s

std::int64_t nowNs()
{
    return QDateTime::currentMSecsSinceEpoch() * 1000000LL;
}

// "PATH: error", unless the error names the path already.
QString withPath(const QString& path, const QString& error)
{
    return error.contains(path) ? error : QStringLiteral("%1: %2").arg(path, error);
}

QString sizeText(std::int64_t bytes)
{
    if (bytes < 10 * 1024)
        return QStringLiteral("%1 B").arg(bytes);
    if (bytes < 10 * 1024 * 1024)
        return QStringLiteral("%1 KiB").arg(bytes / 1024);
    return QStringLiteral("%1 MiB").arg(double(bytes) / (1024.0 * 1024.0), 0, 'f', 1);
}

} // namespace

Recorder::Recorder(const Options& options, RecordingOutputs& outputs)
    : options_(options), outputs_(outputs), device_rounds_(options.devices.size(), 0)
{
    sinks_.push_back(&outputs_);
    progress_ = !options_.quiet && ::isatty(STDERR_FILENO);
}

bool Recorder::start()
{
    elapsed_.start();
    bool started = false;
    try {
        started = options_.ports.isEmpty() ? startReplay() : startPorts();
    } catch (const std::bad_alloc&) {
        fail(QStringLiteral("out of memory"));
    }
    if (!started)
        return false;
    // The time asked for counts from the first data.
    if (options_.duration > 0)
        QTimer::singleShot(int(options_.duration * 1000.0), Qt::PreciseTimer, this, [this] { finish(0); });
    connect(&tick_, &QTimer::timeout, this, &Recorder::tick);
    tick_.start(1000);
    return true;
}

void Recorder::finish(int code)
{
    if (finished_)
        return;
    finished_ = true;
    tick_.stop();
    replay_timer_.stop();
    for (const auto& input : inputs_)
        input->stop();
    for (RoundSink* sink : sinks_) {
        if (!sink->close() && code == 0) {
            code = 1;
            error_ = sink->errorString();
        }
    }
    if (progress_)
        std::fputs("\n", stderr);
    if (code == 1)
        std::fprintf(stderr, "tx710-record: %s\n", qUtf8Printable(error_));
    else if (!options_.quiet)
        std::fprintf(stderr, "tx710-record: %s\n", qUtf8Printable(summary()));
    QCoreApplication::exit(code);
}

void Recorder::fail(const QString& error)
{
    if (finished_)
        return;
    // A signal that cut a wait short is an asked-for end.
    if (UnixSignalWatcher::signalled()) {
        finish(0);
        return;
    }
    error_ = error;
    finish(1);
}

bool Recorder::startPorts()
{
    DeviceInput::Reconnect reconnect{options_.reconnect, options_.reconnect_timeout, [this] {
                                         if (progress_)
                                             std::fputs("\r\x1b[K", stderr);
                                     }};
    // One after the other, each with its 3 s for the first data; one that
    // fails ends the recording of all.
    for (int i = 0; i < options_.ports.size(); ++i) {
        inputs_.push_back(std::make_unique<DeviceInput>(i, options_.ports[i]));
        DeviceInput* input = inputs_.back().get();
        connect(input, &DeviceInput::roundReady, this, [this](const ScanRound& round) { handRound(round); });
        connect(input, &DeviceInput::statusReady, this, &Recorder::handStatus);
        connect(input, &DeviceInput::failed, this, &Recorder::fail);
        if (!input->start(reconnect, &UnixSignalWatcher::signalled))
            return false;
    }
    // The rounds of all start from here, none cut by an overrun meanwhile.
    for (std::size_t i = 0; i + 1 < inputs_.size(); ++i)
        inputs_[i]->dropBacklog();
    return true;
}

bool Recorder::startReplay()
{
    // The same whole rounds, limits and reasons as a replay in the
    // viewer, read one at a time: one round is held, whatever the length.
    QString error;
    replay_start_ns_ = nowNs();
    if (!replay_.open(options_.replay, error, &UnixSignalWatcher::signalled) || !readAhead(error)) {
        fail(withPath(options_.replay, error));
        return false;
    }
    if (!has_next_) {
        fail(withPath(options_.replay, QStringLiteral("the file holds no whole round")));
        return false;
    }
    replay_timer_.setSingleShot(true);
    connect(&replay_timer_, &QTimer::timeout, this, &Recorder::replayNext);
    replay_timer_.start(0);
    return true;
}

bool Recorder::readAhead(QString& error)
{
    replay::Round round;
    replay::RoundPlace place;
    const replay::RoundStream::Item item = replay_.next(round, place, error);
    has_next_ = item == replay::RoundStream::Item::Round;
    // Rounds of several LiDARs would mix in one device's files.
    if (has_next_ && (round.device != 0 || replay_.devices().size() > 1)) {
        has_next_ = false;
        error = QStringLiteral("the recording holds several LiDARs; --replay takes a recording of one");
        return false;
    }
    // No times in a data file: the device's pace from the start on.
    next_ = ScanRound{0, round.has_time ? round.time_ns : replay_start_ns_ + replayed_ * kReplayRoundNs,
                      std::move(round.points), std::isnan(round.speed_rpm) ? 0 : round.speed_rpm};
    return item != replay::RoundStream::Item::Failed;
}

void Recorder::replayNext()
{
    if (!has_next_) {
        finish(0);
        return;
    }
    ScanRound round = std::move(next_);
    ++replayed_;
    QString error;
    const bool read = readAhead(error);
    int wait_ms = 0;
    if (options_.realtime && has_next_)
        wait_ms = int(qBound<std::int64_t>(0, (next_.receive_time_ns - round.receive_time_ns) / 1000000, 60000));
    handRound(std::move(round));
    if (!read) {
        if (!finished_ && !finished_pending_)
            failLater(withPath(options_.replay, error));
        return;
    }
    if (!finished_ && !finished_pending_)
        replay_timer_.start(wait_ms);
}

void Recorder::handRound(ScanRound round)
{
    if (finished_ || finished_pending_)
        return;
    try {
        writeRound(std::move(round));
    } catch (const std::bad_alloc&) {
        // The files keep the rounds before this one and end properly.
        failLater(QStringLiteral("out of memory"));
    }
}

void Recorder::failLater(const QString& error)
{
    for (const auto& input : inputs_)
        input->stopFeed();
    finished_pending_ = true;
    // Not from inside the decoder: the link closes from the event loop.
    QMetaObject::invokeMethod(
        this, [this, error] { fail(error); }, Qt::QueuedConnection);
}

void Recorder::writeRound(ScanRound round)
{
    // Consecutive from 1 in every output, per LiDAR: a replay of several
    // saves becomes one recording.
    long long& device_rounds = device_rounds_.at(std::size_t(round.device));
    if (options_.rounds > 0 && device_rounds >= options_.rounds)
        return; // this one has its rounds; the others go on
    round.number = int(++device_rounds);
    ++rounds_;
    for (RoundSink* sink : sinks_) {
        if (!sink->writeRound(round)) {
            failLater(sink->errorString());
            return;
        }
    }
    if (options_.rounds > 0 && *std::min_element(device_rounds_.begin(), device_rounds_.end()) >= options_.rounds) {
        for (const auto& input : inputs_)
            input->stopFeed();
        finished_pending_ = true;
        QMetaObject::invokeMethod(
            this, [this] { finish(0); }, Qt::QueuedConnection);
    }
}

void Recorder::handStatus(const status::Sample& sample)
{
    if (finished_ || finished_pending_)
        return;
    for (RoundSink* sink : sinks_) {
        if (!sink->writeStatus(sample)) {
            fail(sink->errorString());
            return;
        }
    }
}

void Recorder::tick()
{
    if (progress_ && !finished_ && !finished_pending_)
        std::fprintf(stderr, "\r%s\x1b[K", qUtf8Printable(progressText()));
}

QString Recorder::filesText() const
{
    QStringList parts;
    for (const auto& file : outputs_.sizes())
        parts.append(QStringLiteral("%1 %2").arg(QFileInfo(file.path).fileName(), sizeText(file.bytes)));
    return parts.join(QStringLiteral(", "));
}

QString Recorder::deviceRoundsText() const
{
    QStringList parts;
    for (std::size_t i = 0; i < device_rounds_.size(); ++i)
        parts
            << QStringLiteral("%1 %2").arg(QString::fromStdString(options_.devices[i].frame_id)).arg(device_rounds_[i]);
    return QStringLiteral(" (%1)").arg(parts.join(QStringLiteral(", ")));
}

QString Recorder::progressText() const
{
    QString text = QStringLiteral("rounds %1").arg(rounds_);
    if (inputs_.size() > 1)
        text += deviceRoundsText();
    for (auto input = inputs_.rbegin(); input != inputs_.rend(); ++input)
        if ((*input)->waiting())
            text = (*input)->waitText() + QStringLiteral("  ") + text;
    if (inputs_.size() == 1)
        text += QStringLiteral("  frames/s %1  CRC rejects %2  RPM %3")
                    .arg(inputs_.front()->lastStatus().frames_per_second, 0, 'f', 0)
                    .arg(inputs_.front()->rejects())
                    .arg(inputs_.front()->lastStatus().rpm, 0, 'f', 1);
    else if (!inputs_.empty())
        text += QStringLiteral("  CRC rejects %1").arg(rejects());
    return text + QStringLiteral("  ") + filesText();
}

std::uint64_t Recorder::rejects() const
{
    std::uint64_t count = 0;
    for (const auto& input : inputs_)
        count += input->rejects();
    return count;
}

QString Recorder::summary() const
{
    QString text = QStringLiteral("%1 rounds").arg(rounds_);
    if (inputs_.size() > 1)
        text += deviceRoundsText();
    text += QStringLiteral(" in %1 s").arg(elapsed_.elapsed() / 1000.0, 0, 'f', 1);
    if (!options_.ports.isEmpty())
        text += QStringLiteral(", %1 CRC rejects").arg(rejects());
    const QString files = filesText();
    return files.isEmpty() ? text : text + QStringLiteral(": ") + files;
}

} // namespace tx710
