#include "ros2/ros2_sink.h"

#include "ros2/dds_names.h"
#include "ros2/round_messages.h"

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
    publisher_.publish(ros2::scanOf(round));
    publisher_.publish(ros2::pointsOf(round));
    return true;
}

bool Ros2Sink::writeStatus(const status::Sample& sample)
{
    publisher_.publish(ros2::diagnosticsOf(sample));
    return true;
}

bool Ros2Sink::close()
{
    publisher_.stop();
    return true;
}

} // namespace tx710
