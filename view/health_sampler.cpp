#include "view/health_sampler.h"

#include "SerialPort/serial_data.h"

namespace tx710 {

namespace {

constexpr int kIntervalMs = 1000;

} // namespace

HealthSampler::HealthSampler(std::function<void(const LinkHealth&)> sampled) : sampled_(std::move(sampled))
{
    clock_.start();
    timer_.setInterval(kIntervalMs);
    QObject::connect(&timer_, &QTimer::timeout, [this]() { sample(); });
    timer_.start();
}

void HealthSampler::sample()
{
    const SerialData* decoder = SerialData::instance();
    LinkSample sample;
    sample.time_ms = clock_.elapsed();
    sample.accepted = decoder->acceptedFrameCount();
    sample.rejected = decoder->rejectedFrameCount();
    sample.rpm = decoder->lastSpeedRpm();
    sample.points_per_round = decoder->display_points_.size();
    sample.last_data_ms = last_round_ms_;
    monitor_.addSample(sample);
    sampled_(monitor_.health());
}

} // namespace tx710
