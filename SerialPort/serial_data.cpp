#include "SerialPort/serial_data.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>

#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "SerialPort/point_display.h"
#include "app/log.h"
#include "recording/output_folder.h"

using namespace tx710;

namespace {

const QVector3D kWhite(1, 1, 1);
constexpr float kHoverTolerance = 0.2f; // degrees
constexpr float kFullCircle = 360.0f;
constexpr std::size_t kRoundCapacity = 1024;

// The twelve point angles of a frame, degrees.
struct FrameAngles {
    float start = 0;
    float step = 0; // between two points
    float angle[kPointsPerFrame] = {};
    bool wrapped[kPointsPerFrame] = {}; // past 360, moved to just above 0
    bool any_wrapped = false;
};

FrameAngles pointAngles(const ScanFrameFields& fields)
{
    FrameAngles angles;
    angles.start = fields.start_angle * 0.01f;
    const float end = fields.end_angle * 0.01f;
    // An end angle below the start angle means the frame crosses 0 degrees.
    const float span = end < angles.start ? (kFullCircle - angles.start) + end : end - angles.start;
    const float step = span / (kPointsPerFrame - 1);
    angles.step = step;
    for (int i = 0; i < kPointsPerFrame; ++i) {
        float angle = static_cast<float>(i) * step + angles.start;
        angles.wrapped[i] = angle > kFullCircle;
        if (angles.wrapped[i])
            angle -= kFullCircle;
        angles.angle[i] = angle;
        angles.any_wrapped = angles.any_wrapped || angles.wrapped[i];
    }
    return angles;
}

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

std::unique_ptr<SerialData> SerialData::create()
{
    return std::unique_ptr<SerialData>(new SerialData);
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
    round_records_.reserve(kRoundCapacity);
    next_records_.reserve(kRoundCapacity);
    display_records_.reserve(kRoundCapacity);
}

SerialData::~SerialData() = default;

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
    if (!rejection_log_budget_.admit())
        return;
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
    const ScanFrameFields fields = decodeFrameFields(frame);
    const FrameAngles angles = pointAngles(fields);
    last_speed_ = fields.speed;
    const bool round_end = angles.start < last_start_angle_;
    // Back after a lost line with the first frame of a revolution: no frame
    // before it says so, its own first point does.
    if (std::exchange(resuming_, false) && !angles.any_wrapped && angles.start - angles.step < 0)
        streamRoundBoundary();
    // The 0-degree crossing fell between the previous frame and this one.
    if (round_end && !angles.any_wrapped && !last_frame_wrapped_)
        recordRoundBoundary();
    spot_counter_ += kPointsPerFrame;

    bool boundary_seen = false;
    for (int i = 0; i < kPointsPerFrame; ++i) {
        const ScanPoint point = fields.points[std::size_t(i)];
        const float angle = angles.angle[i];
        if (angles.wrapped[i] && !boundary_seen) {
            boundary_seen = true;
            recordRoundBoundary();
        }
        recordPoint(point, angle);
        if (point.distance == 0)
            continue; // recorded, but neither drawn nor picked
        const QVector3D position = scanPlanePosition(angle, point.distance);
        const bool next_round = angle < last_start_angle_;
        const bool picked = std::fabs(angle - hover_angle_) < kHoverTolerance;
        if (picked)
            pickPoint(point, angle, position, fields.speed);
        const QVector3D& colour = picked ? kWhite : pointColour(point.intensity, next_round, color_flag_);
        addDisplayPoint(next_round, position, colour,
                        PointRecord{float(point.intensity), float(point.distance), angle});
    }

    if (round_end)
        publishRound(fields.speed);
    last_start_angle_ = angles.start;
    last_frame_wrapped_ = angles.any_wrapped;
    last_end_angle_ = angles.angle[kPointsPerFrame - 1];
    last_frame_ends_turn_ = !angles.any_wrapped && angles.angle[kPointsPerFrame - 1] + angles.step >= kFullCircle;
}

inline void SerialData::recordPoint(ScanPoint point, float angle)
{
    saver_.addPoint(PointRecord{float(point.intensity), float(point.distance), angle});
    if (stream_started_)
        stream_record_.push_back(PointRecord{float(point.intensity), float(point.distance), angle});
}

void SerialData::pickPoint(ScanPoint point, float angle, const QVector3D& position, int speed)
{
    hover_point_ = HoverPoint{position.x(), position.y()};
    if (!show_data_callback_)
        return;
    ShowData data;
    data.angle = angle;
    data.distance = point.distance;
    data.intensity = point.intensity;
    data.speed = speed / 6.0f;
    data.spot_frequency = spot_frequency_;
    show_data_callback_(data);
}

inline void SerialData::addDisplayPoint(bool next_round, const QVector3D& position, const QVector3D& colour,
                                        const PointRecord& record)
{
    if (next_round) {
        next_points_.push_back(position);
        next_colors_.push_back(colour);
        next_records_.push_back(record);
    } else {
        round_points_.push_back(position);
        round_colors_.push_back(colour);
        round_records_.push_back(record);
    }
}

void SerialData::publishRound(int speed)
{
    updateSpotFrequency(speed);
    display_points_.assign(round_points_.begin(), round_points_.end());
    display_colors_.assign(round_colors_.begin(), round_colors_.end());
    display_records_.assign(round_records_.begin(), round_records_.end());
    if (round_callback_)
        round_callback_();
    round_points_.swap(next_points_);
    round_colors_.swap(next_colors_);
    round_records_.swap(next_records_);
    next_points_.clear();
    next_colors_.clear();
    next_records_.clear();
}

void SerialData::recordRoundBoundary()
{
    streamRoundBoundary();
    saver_.roundBoundary();
}

void SerialData::streamRoundBoundary()
{
    if (!round_sink_)
        return;
    if (stream_started_ && !stream_record_.empty()) {
        std::vector<PointRecord> round;
        round.swap(stream_record_);
        // A copy: the sink may end the stream while it runs.
        const RoundSink sink = round_sink_;
        sink(std::move(round));
    }
    stream_record_.clear();
    stream_record_.reserve(kRoundCapacity);
    // The first revolution starts here, where a save started now would start.
    stream_started_ = bool(round_sink_);
}

void SerialData::dropRoundInProgress()
{
    // The revolution's end shows only in the next frame: one that the last
    // frame completed is whole, not under way.
    if (last_frame_ends_turn_)
        streamRoundBoundary();
    resuming_ = true;
    last_frame_ends_turn_ = false;
    finder_.reset();
    for (auto* points : {&round_points_, &round_colors_, &next_points_, &next_colors_})
        points->clear();
    for (auto* records : {&round_records_, &next_records_, &stream_record_})
        records->clear();
    saver_.dropRound();
    stream_started_ = false;
    last_start_angle_ = 0;
    last_frame_wrapped_ = false;
    spot_counter_ = 0;
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

bool SerialData::startRoundStream(RoundSink sink)
{
    if (!sink || round_sink_)
        return false;
    round_sink_ = std::move(sink);
    stream_record_.clear();
    stream_started_ = false;
    return true;
}

void SerialData::stopRoundStream()
{
    round_sink_ = nullptr;
    stream_record_.clear();
    stream_started_ = false;
}

void SerialData::startSaveData()
{
    if (saver_.running()) {
        TX_LOG << "startSaveData: a save is still running, request refused";
        saver_.refuse();
        return;
    }
    saver_.request();
    saver_.start(createSaveFile());
}

void SerialData::stopSaveData()
{
    saver_.stop();
}

SaveOutcome SerialData::lastSaveOutcome() const
{
    return saver_.lastOutcome();
}

SaveOutcome SerialData::createSaveFile()
{
    const QString preferred =
        data_directory_override_.isEmpty() ? besideExecutable(QStringLiteral("data")) : data_directory_override_;
    const OutputFolder folder = prepareOutputFolder(preferred, QStringLiteral("data"));
    SaveOutcome target;
    if (folder.path.isEmpty()) {
        TX_LOG_LOCATED << "data path create error:" << preferred;
        target.ok = false;
        target.error = QStringLiteral("cannot create a data folder: %1").arg(folder.reason);
        return target;
    }
    target.folder_note = folder.fallback ? folder.reason : QString();
    target.path = folder.path + QLatin1Char('/')
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyy_MM_dd_hh_mm_ss")) + QStringLiteral(".txt");
    return target;
}
