#include "streaming/live_feed.h"

#include <QDateTime>

#include "SerialPort/serial_data.h"
#include "recording/data_file.h"

namespace tx710 {

namespace {

std::int64_t nowNs()
{
    return QDateTime::currentMSecsSinceEpoch() * 1000000LL;
}

} // namespace

LiveFeed::LiveFeed(QObject* parent) : QObject(parent)
{
    status_timer_.setInterval(1000);
    connect(&status_timer_, &QTimer::timeout, this, &LiveFeed::sampleStatus);
}

LiveFeed::~LiveFeed()
{
    stop();
}

bool LiveFeed::start()
{
    SerialData* decoder = this->decoder();
    const bool started = decoder->startRoundStream([this, decoder](std::vector<PointRecord> points) {
        // Every consumer gets the numbers the text file gives.
        for (PointRecord& point : points)
            point = datafile::asWritten(point);
        emit roundReady(ScanRound{int(++rounds_), nowNs(), std::move(points), decoder->lastSpeedRpm()});
    });
    if (!started)
        return false;
    running_ = true;
    rejects_at_start_ = decoder->rejectedFrameCount();
    frames_at_last_sample_ = decoder->acceptedFrameCount();
    status_timer_.start();
    return true;
}

void LiveFeed::stop()
{
    if (!running_)
        return;
    running_ = false;
    status_timer_.stop();
    decoder()->stopRoundStream();
}

std::uint64_t LiveFeed::rejects() const
{
    return decoder()->rejectedFrameCount() - rejects_at_start_;
}

SerialData* LiveFeed::decoder() const
{
    return decoder_ ? decoder_ : SerialData::instance();
}

// Once a second while running, whether data comes or not (a lost link too).
void LiveFeed::sampleStatus()
{
    const SerialData* decoder = this->decoder();
    const std::uint64_t frames = decoder->acceptedFrameCount();
    status::Sample sample;
    sample.time_ns = nowNs();
    sample.frames_per_second = double(frames - frames_at_last_sample_);
    sample.crc_rejects = rejects();
    sample.rpm = decoder->lastSpeedRpm();
    sample.points_per_second = decoder->spotFrequency();
    frames_at_last_sample_ = frames;
    last_status_ = sample;
    emit statusReady(sample);
}

} // namespace tx710
