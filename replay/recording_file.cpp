#include "replay/recording_file.h"

#include <algorithm>
#include <cmath>

#include "recording/input_file.h"
#include "recording/input_limits.h"

namespace tx710::replay {

Recording::Recording(std::vector<Round> rounds, std::vector<mcap::DevicePlacement> devices)
    : held_(std::move(rounds)), devices_(std::move(devices))
{}
Recording::Recording(Recording&&) noexcept = default;
Recording& Recording::operator=(Recording&&) noexcept = default;
Recording::~Recording() = default;

std::size_t Recording::indexBytesPerRound()
{
    return sizeof(Entry);
}

bool Recording::open(const QString& path, QString& error, const std::function<bool()>& cancelled)
{
    *this = Recording();
    stream_ = std::make_unique<RoundStream>();
    if (!stream_->open(path, error, cancelled)) {
        stream_.reset();
        return false;
    }
    if (!stream_->seekable()) {
        // Read once only: held whole, within the limit for that.
        QByteArray bytes;
        stream_.reset();
        return inputfile::read(path, limits::kRecordingBytes, bytes, error, cancelled) && openBytes(bytes, path, error);
    }
    return index(error);
}

bool Recording::openBytes(const QByteArray& bytes, const QString& name, QString& error)
{
    *this = Recording();
    stream_ = std::make_unique<RoundStream>();
    if (!stream_->openBytes(bytes, name, error)) {
        stream_.reset();
        return false;
    }
    return index(error);
}

bool Recording::index(QString& error)
{
    // The points of a message are checked when it is shown: finding a
    // round costs a fraction of decoding it.
    if (stream_->isMcap())
        stream_->findRoundsOnly();
    std::vector<mcap::Contents::Speed> speeds;
    Round round;
    RoundPlace place;
    for (;;) {
        const RoundStream::Item item = stream_->next(round, place, error, &speeds);
        if (item == RoundStream::Item::Failed) {
            *this = Recording();
            return false;
        }
        if (item == RoundStream::Item::End)
            break;
        if (entries_.size() == limits::kIndexRounds || speeds.size() > limits::kIndexRounds) {
            error = QStringLiteral("more than %1 rounds").arg(limits::kIndexRounds);
            *this = Recording();
            return false;
        }
        if (round.device < 0 || round.device >= kMaxDevices) {
            error = QStringLiteral("a round of LiDAR %1: more than %2 LiDARs").arg(round.device).arg(kMaxDevices);
            *this = Recording();
            return false;
        }
        entries_.push_back(Entry{place.position, round.device, round.time_ns, place.inner, 0});
    }
    if (entries_.empty()) {
        error = QStringLiteral("the file holds no whole round");
        *this = Recording();
        return false;
    }
    has_time_ = stream_->isMcap();
    devices_ = stream_->devices();
    // Replayed in the order of their receive times; each round turns at the
    // speed of the latest status before it (the first status for the rounds
    // before any).
    const auto byTime = [](const auto& a, const auto& b) { return a.time_ns < b.time_ns; };
    // Sorting takes a copy: not for the files this program writes, in order.
    if (has_time_ && !std::is_sorted(entries_.begin(), entries_.end(), byTime))
        std::stable_sort(entries_.begin(), entries_.end(), byTime);
    if (has_time_)
        std::stable_sort(speeds.begin(), speeds.end(), byTime);
    std::size_t speed = 0;
    for (Entry& entry : entries_) {
        while (speed + 1 < speeds.size() && speeds[speed + 1].time_ns <= entry.time_ns)
            ++speed;
        entry.speed_rpm = speeds.empty() ? std::numeric_limits<float>::quiet_NaN() : float(speeds[speed].rpm);
    }
    entries_.shrink_to_fit();
    return true;
}

bool Recording::hasTime(int index) const
{
    return held_.empty() ? has_time_ : held_.at(std::size_t(index)).has_time;
}

std::int64_t Recording::timeNs(int index) const
{
    return held_.empty() ? entries_.at(std::size_t(index)).time_ns : held_.at(std::size_t(index)).time_ns;
}

int Recording::device(int index) const
{
    return held_.empty() ? int(entries_.at(std::size_t(index)).device) : held_.at(std::size_t(index)).device;
}

bool Recording::read(int index, Round& round, QString& error) const
{
    if (!held_.empty()) {
        round = held_.at(std::size_t(index));
        return true;
    }
    const auto cached =
        std::find_if(cache_.begin(), cache_.end(), [index](const auto& kept) { return kept.first == index; });
    if (cached != cache_.end()) {
        round = cached->second;
        return true;
    }
    const Entry& entry = entries_.at(std::size_t(index));
    if (!stream_->readAt(RoundPlace{entry.position, entry.inner}, round, error))
        return false;
    round.has_time = has_time_;
    round.time_ns = entry.time_ns;
    round.device = int(entry.device);
    if (!std::isnan(entry.speed_rpm))
        round.speed_rpm = double(entry.speed_rpm);
    if (cache_.size() >= kCachedRounds * std::clamp<std::size_t>(devices_.size(), 1, 8))
        cache_.pop_front();
    cache_.emplace_back(index, round);
    return true;
}

namespace {

bool readAll(const Recording& recording, std::vector<Round>& rounds, QString& error)
{
    rounds.resize(std::size_t(recording.count()));
    for (int k = 0; k < recording.count(); ++k) {
        if (!recording.read(k, rounds[std::size_t(k)], error)) {
            rounds.clear();
            return false;
        }
    }
    return true;
}

} // namespace

bool loadRecording(const QString& path, std::vector<Round>& rounds, QString& error,
                   const std::function<bool()>& cancelled)
{
    Recording recording;
    rounds.clear();
    return recording.open(path, error, cancelled) && readAll(recording, rounds, error);
}

bool parseRecording(const QByteArray& bytes, const QString& name, std::vector<Round>& rounds, QString& error)
{
    Recording recording;
    rounds.clear();
    return recording.openBytes(bytes, name, error) && readAll(recording, rounds, error);
}

} // namespace tx710::replay
