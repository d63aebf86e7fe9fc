#include "replay/recording_file.h"

#include <algorithm>
#include <cmath>

#include "recording/input_file.h"
#include "recording/input_limits.h"

namespace tx710::replay {

Recording::Recording(std::vector<Round> rounds) : held_(std::move(rounds)) {}
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
        Entry entry{place.position, round.time_ns, 0, 0, 0};
        entry.inner = place.inner == mcap::MessagePlace::kTopLevel ? kInnerTopLevel : place.inner;
        entry.device = std::uint32_t(round.device);
        entries_.push_back(entry);
    }
    if (entries_.empty()) {
        error = QStringLiteral("the file holds no whole round");
        *this = Recording();
        return false;
    }
    has_time_ = stream_->isMcap();
    // Replayed in the order of their receive times; each round turns at the
    // speed of its device's latest status before it (the first status for the rounds
    // before any).
    const auto byTime = [](const auto& a, const auto& b) { return a.time_ns < b.time_ns; };
    // Sorting takes a copy: not for the files this program writes, in order.
    if (has_time_ && !std::is_sorted(entries_.begin(), entries_.end(), byTime))
        std::stable_sort(entries_.begin(), entries_.end(), byTime);
    if (has_time_)
        std::stable_sort(speeds.begin(), speeds.end(), byTime);
    mcap::SpeedsByDevice by_device(speeds);
    for (Entry& entry : entries_) {
        const double rpm = by_device.at(int(entry.device), entry.time_ns);
        entry.speed_rpm = rpm > 0 ? float(rpm) : std::numeric_limits<float>::quiet_NaN();
    }
    entries_.shrink_to_fit();
    devices_ = stream_->devices();
    base_frame_ = stream_->baseFrame();
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
    const std::uint32_t inner = entry.inner == kInnerTopLevel ? mcap::MessagePlace::kTopLevel : entry.inner;
    if (!stream_->readAt(RoundPlace{entry.position, inner}, round, error))
        return false;
    round.has_time = has_time_;
    round.time_ns = entry.time_ns;
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
