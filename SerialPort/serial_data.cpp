#include "SerialPort/serial_data.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>

#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

#include "app/log.h"
#include "recording/data_file_writer.h"
#include "recording/output_folder.h"

using namespace tx710;

namespace {

const QVector3D kWhite(1, 1, 1);
const QVector3D kYellow(1, 1, 0);
const QVector3D kCyan(0, 1, 1);
constexpr float kPi = 3.1415927f;
constexpr float kHoverTolerance = 0.2f; // degrees
constexpr float kFullCircle = 360.0f;
constexpr int kBrightIntensity = 210;    // above: yellow with the colour map
constexpr int kSaturatedIntensity = 255; // cyan with the colour map
constexpr std::size_t kRoundCapacity = 1024;

QString hexText(const std::uint8_t* data, std::size_t length)
{
    return QString::fromStdString(toHex(data, length));
}

} // namespace

SerialData* SerialData::instance()
{
    // Function-local static: created once, safely under concurrent first use,
    // and deliberately never destroyed.
    static SerialData* const decoder = new SerialData;
    return decoder;
}

SerialData::SerialData() : QObject(nullptr)
{
    last_frame_.resize(static_cast<int>(kFrameLength));
    round_points_.reserve(kRoundCapacity);
    round_colors_.reserve(kRoundCapacity);
    next_points_.reserve(kRoundCapacity);
    next_colors_.reserve(kRoundCapacity);
    display_points_.reserve(kRoundCapacity);
    display_colors_.reserve(kRoundCapacity);
    round_record_.reserve(kRoundCapacity);
}

SerialData::~SerialData()
{
    // End the collection, drop what is queued and let the writer finish,
    // since it works on this object.
    recording_ = false;
    record_request_ = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        record_queue_.clear();
    }
    if (writer_finished_.valid())
        writer_finished_.wait();
}

// ---------------------------------------------------------------- frame finder

void SerialData::findFrame(QByteArray bytes)
{
    finder_.feed(reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size()));
}

void SerialData::frameAccepted(const std::uint8_t* frame)
{
    // last_frame_ keeps its storage, so no allocation per frame.
    std::memcpy(last_frame_.data(), frame, kFrameLength);
    parseFrame(last_frame_);
}

void SerialData::frameRejected(const std::uint8_t* frame, const std::uint8_t* kept, std::size_t kept_length)
{
    TX_LOG_PLAIN << logStamp();
    TX_LOG_PLAIN << hexText(frame, kFrameLength);
    TX_LOG_PLAIN << "frame find error";
    if (kept == nullptr)
        TX_LOG_PLAIN << "error";
    else
        TX_LOG_PLAIN << "++++" << hexText(kept, kept_length);
}

// ---------------------------------------------------------------- decoding

void SerialData::parseFrame(const QByteArray& frame)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(frame.constData());
    // Direct callers are not bound by the finder's checks; never read past the frame.
    if (frame.size() < static_cast<int>(kFrameLength) || (bytes[1] & 0x1F) != kPointsPerFrame) {
        TX_LOG << "parseFrame: not a scan frame of 47 bytes and 12 points, ignored, size" << frame.size();
        return;
    }
    decodeFrame(bytes);
}

void SerialData::decodeFrame(const std::uint8_t* frame)
{
    constexpr int count = kPointsPerFrame;
    const ScanFrameFields fields = decodeFrameFields(frame);
    const int speed = fields.speed;
    const float start = fields.start_angle * 0.01f;
    const float end = fields.end_angle * 0.01f;
    // An end angle below the start angle means the frame crosses 0 degrees.
    const float span = end < start ? (kFullCircle - start) + end : end - start;
    spot_counter_ += count;
    const float step = span / (count - 1);

    float angles[count];
    bool wrapped[count];
    bool frame_wraps = false;
    for (int i = 0; i < count; ++i) {
        float angle = static_cast<float>(i) * step + start;
        wrapped[i] = angle > kFullCircle;
        if (wrapped[i])
            angle -= kFullCircle;
        angles[i] = angle;
        frame_wraps = frame_wraps || wrapped[i];
    }

    const bool round_end = start < last_start_angle_;
    // The 0-degree crossing fell between the previous frame and this one.
    if (round_end && !frame_wraps && !last_frame_wrapped_)
        recordRoundBoundary();

    bool boundary_seen = false;
    const float rotating_speed = speed / 6.0f;
    for (int i = 0; i < count; ++i) {
        const std::uint16_t distance = fields.points[i].distance;
        const std::uint8_t intensity = fields.points[i].intensity;
        const float angle = angles[i];

        if (wrapped[i] && !boundary_seen) {
            boundary_seen = true;
            recordRoundBoundary();
        }
        if (recording_.load(std::memory_order_relaxed))
            round_record_.push_back(PointRecord{float(intensity), float(distance), angle});

        if (distance == 0)
            continue;

        const float theta = (angle + 90.0f) / 180.0f * kPi;
        const float r = distance * 0.001f;
        const float x = std::cos(theta) * r;
        const float y = -std::sin(theta) * r;

        const bool next_round = angle < last_start_angle_;
        auto& points = next_round ? next_points_ : round_points_;
        auto& colors = next_round ? next_colors_ : round_colors_;
        points.emplace_back(x, y, 0.0f);

        if (std::fabs(angle - hover_angle_) < kHoverTolerance) {
            hover_point_ = HoverPoint{x, y};
            colors.push_back(kWhite);
            if (show_data_callback_) {
                ShowData data;
                data.angle = angle;
                data.distance = distance;
                data.intensity = intensity;
                data.speed = rotating_speed;
                data.spot_frequency = spot_frequency_;
                show_data_callback_(data);
            }
        } else if (!next_round && color_flag_ && intensity == kSaturatedIntensity) {
            colors.push_back(kCyan);
        } else if (!next_round && color_flag_ && intensity > kBrightIntensity) {
            colors.push_back(kYellow);
        } else {
            colors.push_back(kWhite);
        }
    }

    if (round_end) {
        updateSpotFrequency(speed);
        display_points_.assign(round_points_.begin(), round_points_.end());
        display_colors_.assign(round_colors_.begin(), round_colors_.end());
        if (round_callback_)
            round_callback_();
        round_points_.swap(next_points_);
        round_colors_.swap(next_colors_);
        next_points_.clear();
        next_colors_.clear();
    }
    last_start_angle_ = start;
    last_frame_wrapped_ = frame_wraps;
}

void SerialData::recordRoundBoundary()
{
    if (recording_) {
        closeRecordedRound();
    } else if (record_request_) {
        // Both flags change together: the writer never sees both clear while
        // a save is starting.
        std::lock_guard<std::mutex> lock(mutex_);
        recording_ = true;
        record_request_ = false;
        round_record_.clear();
    }
}

void SerialData::closeRecordedRound()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // The writer may have ended the save meanwhile (a failed write).
        if (!recording_)
            return;
        if (!round_record_.empty()) {
            record_queue_.push_back(std::move(round_record_));
            ++recorded_rounds_;
        }
        // Queued and ended in one step, or the writer could end before the last round.
        if (recorded_rounds_ >= kRoundsPerSave)
            recording_ = false;
    }
    queue_changed_.notify_one();
    round_record_ = std::vector<PointRecord>();
    round_record_.reserve(kRoundCapacity);
}

void SerialData::updateSpotFrequency(int speed)
{
    const std::int64_t frequency = static_cast<std::int64_t>(double(spot_counter_ * speed) / 360.0);
    spot_counter_ = 0;
    frequency_ring_[static_cast<std::size_t>(ring_index_)] = static_cast<float>(frequency);
    ring_index_ = (ring_index_ + 1) % static_cast<int>(frequency_ring_.size());
    std::int64_t sum = 0;
    for (float slot : frequency_ring_)
        sum = static_cast<std::int64_t>(double(sum) + slot);
    const std::int64_t average = static_cast<std::int64_t>(double(sum) / 10.0);
    spot_frequency_ =
        static_cast<std::int32_t>(std::min<std::int64_t>(average, std::numeric_limits<std::int32_t>::max()));
}

// ---------------------------------------------------------------- recording

void SerialData::startSaveData()
{
    if (writer_running_) {
        TX_LOG << "startSaveData: a save is still running, request refused";
        reportSaveProgress(false, 0);
        return;
    }
    // A writer that has just made its final report may still be returning.
    if (writer_finished_.valid())
        writer_finished_.wait();
    recorded_rounds_ = 0;
    round_record_.clear();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        record_queue_.clear(); // a new save starts from an empty queue
        outcome_ = SaveOutcome();
        record_request_ = true;
    }
    saveThread();
}

void SerialData::stopSaveData()
{
    // A save still waiting for its first round ends as well.
    {
        std::lock_guard<std::mutex> lock(mutex_);
        record_request_ = false;
        recording_ = false;
    }
    queue_changed_.notify_one();
}

void SerialData::endCollection()
{
    std::lock_guard<std::mutex> lock(mutex_);
    record_request_ = false;
    recording_ = false;
    record_queue_.clear();
}

SaveOutcome SerialData::lastSaveOutcome() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return outcome_;
}

void SerialData::setOutcome(const SaveOutcome& outcome)
{
    std::lock_guard<std::mutex> lock(mutex_);
    outcome_ = outcome;
}

void SerialData::saveThread()
{
    if (!createSaveFile()) {
        endCollection();
        reportSaveProgress(false, 0);
        return;
    }
    SaveOutcome outcome;
    outcome.path = file_name_;
    outcome.folder_note = folder_note_;
    setOutcome(outcome);
    save_round_no_ = 1;
    writer_running_ = true;
    std::promise<void> finished;
    writer_finished_ = finished.get_future().share();
    // The writer gets a string of its own: no reference count shared across
    // threads with file_name_, which the next save replaces.
    QString file_name(file_name_.constData(), file_name_.size());
    std::thread([this, file_name = std::move(file_name), finished = std::move(finished)]() mutable {
        writeRecordedRounds(file_name);
        finished.set_value();
    }).detach();
}

bool SerialData::createSaveFile()
{
    const QString preferred =
        data_directory_override_.isEmpty() ? besideExecutable(QStringLiteral("data")) : data_directory_override_;
    const OutputFolder folder = prepareOutputFolder(preferred, QStringLiteral("data"));
    if (folder.path.isEmpty()) {
        TX_LOG_LOCATED << "data path create error:" << preferred;
        SaveOutcome outcome;
        outcome.ok = false;
        outcome.error = QStringLiteral("cannot create a data folder: %1").arg(folder.reason);
        setOutcome(outcome);
        return false;
    }
    folder_note_ = folder.fallback ? folder.reason : QString();
    file_name_ = folder.path + QLatin1Char('/')
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyy_MM_dd_hh_mm_ss")) + QStringLiteral(".txt");
    return true;
}

void SerialData::reportSaveProgress(bool ok, int value)
{
    std::lock_guard<std::mutex> lock(callback_mutex_);
    if (save_progress_callback_)
        save_progress_callback_(ok, value);
}

void SerialData::writeRecordedRounds(QString file_name)
{
    DataFileWriter file(file_name);
    SaveOutcome outcome = lastSaveOutcome();
    for (;;) {
        std::vector<PointRecord> round;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            // Queue and both flags judged under the one lock: the decoder
            // queues the last round and ends the collection in one step.
            const auto finished = [this] { return !record_request_ && !recording_; };
            queue_changed_.wait_for(lock, std::chrono::milliseconds(10),
                                    [&] { return !record_queue_.empty() || finished(); });
            if (record_queue_.empty()) {
                if (finished())
                    break;
                continue;
            }
            round = std::move(record_queue_.front());
            record_queue_.pop_front();
        }

        // Every save starts its own lines with the header.
        if (!file.appendRound(save_round_no_, round, save_round_no_ == 1)) {
            TX_LOG << "file_name_" << file_name << file.errorString();
            endCollection();
            outcome.ok = false;
            outcome.error = file.errorString();
            setOutcome(outcome);
            writer_running_ = false;
            reportSaveProgress(false, 0);
            return;
        }
        outcome.rounds = save_round_no_;
        setOutcome(outcome);
        reportSaveProgress(true, save_round_no_);
        ++save_round_no_;
    }
    // Cleared before the last report so that the next save may start at once.
    writer_running_ = false;
    reportSaveProgress(true, 100);
}
