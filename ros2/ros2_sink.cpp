#include "ros2/ros2_sink.h"

#include <chrono>

#include "recording/ros2_conversions.h"
#include "ros2/dds_names.h"

namespace tx710 {

Ros2Sink::Ros2Sink(const DeviceScans& devices) : options_(devices)
{
    for (const ScanOptions& options : devices)
        devices_.push_back({LaserScanBuilder(options), 0, {}});
}

bool Ros2Sink::start(const QString& ros_namespace)
{
    std::vector<std::string> prefixes;
    for (std::size_t i = 0; i < options_.size(); ++i)
        prefixes.push_back(topicPrefix(options_, i));
    ros2::TFMessage transforms;
    if (hasTransforms(options_)) {
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        transforms =
            ros2::staticTransformsOf(options_, std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
    }
    std::string qualified;
    std::string error;
    if (!ros2::qualifyNamespace(ros_namespace.toStdString(), qualified, error)
        || !publisher_.start(qualified, prefixes, hasTransforms(options_) ? &transforms : nullptr, error)) {
        error_ = QString::fromStdString(error);
        return false;
    }
    return true;
}

bool Ros2Sink::knows(int device)
{
    if (device >= 0 && std::size_t(device) < devices_.size())
        return true;
    error_ = QStringLiteral("--ros2: data of device %1, but the recording has %2").arg(device).arg(devices_.size());
    return false;
}

bool Ros2Sink::writeRound(const ScanRound& round)
{
    if (!knows(round.device))
        return false;
    Device& device = devices_[std::size_t(round.device)];
    // The speed as the recording's profile takes it, so that both give the
    // same scan of a round.
    if (round.speed_rpm > 0)
        device.last_rpm = round.speed_rpm;
    publisher_.publish(std::size_t(round.device), device.builder.build(round, device.last_rpm));
    publisher_.publish(std::size_t(round.device), ros2::pointCloudOf(round, device.builder.options()));
    return true;
}

bool Ros2Sink::writeStatus(const status::Sample& sample)
{
    if (!knows(sample.device))
        return false;
    Device& device = devices_[std::size_t(sample.device)];
    if (sample.rpm > 0)
        device.last_rpm = sample.rpm;
    publisher_.publish(ros2::diagnosticsOf(sample, device.previous, device.builder.options().frame_id));
    device.previous = sample;
    return true;
}

bool Ros2Sink::close()
{
    publisher_.stop();
    return true;
}

} // namespace tx710
