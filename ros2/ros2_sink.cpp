#include "ros2/ros2_sink.h"

#include "recording/ros2_conversions.h"
#include "ros2/dds_names.h"

namespace tx710 {

bool Ros2Sink::start(const QString& ros_namespace)
{
    std::string qualified;
    std::string error;
    if (!ros2::qualifyNamespace(ros_namespace.toStdString(), qualified, error) || !publisher_.start(qualified, error)) {
        error_ = QString::fromStdString(error);
        return false;
    }
    return true;
}

bool Ros2Sink::writeRound(const ScanRound& round)
{
    // The speed as the recording's profile takes it, so that both give the
    // same scan of a round.
    if (round.speed_rpm > 0)
        last_rpm_ = round.speed_rpm;
    publisher_.publish(builder_.build(round, last_rpm_));
    publisher_.publish(ros2::pointCloudOf(round, builder_.options()));
    return true;
}

bool Ros2Sink::writeStatus(const status::Sample& sample)
{
    if (sample.rpm > 0)
        last_rpm_ = sample.rpm;
    publisher_.publish(ros2::diagnosticsOf(sample, previous_, builder_.options().frame_id));
    previous_ = sample;
    return true;
}

bool Ros2Sink::close()
{
    publisher_.stop();
    return true;
}

} // namespace tx710
