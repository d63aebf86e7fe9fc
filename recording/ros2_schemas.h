#pragma once

// The ros2msg schema texts of the ROS 2 recordings, as rosbag2 stores them:
// the type's official .msg text, then each dependency (depth first, by name)
// after a line of 80 '=' and a "MSG: package/Type" line. The .msg files are
// the official definitions, in resources/schemas/ros2/ with their licence.

#include <QByteArray>

namespace tx710::ros2 {

// "sensor_msgs/msg/LaserScan" -> its full text; empty for a type we lack.
QByteArray schemaText(const QByteArray& type);

} // namespace tx710::ros2
