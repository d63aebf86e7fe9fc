#pragma once

#include <QStringList>

#include "recording/scan_options.h"

namespace tx710test {

// Several LiDARs in a line of words, blank-separated: "frame", or
// "frame:x,y,z,yaw" for one mounted on the robot.
inline tx710::DeviceScans devicesOf(const QString& words, bool ros2 = true)
{
    tx710::DeviceScans devices;
    for (const QString& word : words.split(' ', Qt::SkipEmptyParts)) {
        tx710::ScanOptions device;
        device.profile = ros2 ? tx710::ScanOptions::Profile::Ros2 : tx710::ScanOptions::Profile::Foxglove;
        device.frame_id = word.section(':', 0, 0).toStdString();
        const QStringList m = word.section(':', 1).split(',');
        device.mounted = m.size() == 4;
        if (device.mounted)
            device.mount = {m[0].toDouble(), m[1].toDouble(), m[2].toDouble(), m[3].toDouble()};
        devices.push_back(device);
    }
    return devices;
}

} // namespace tx710test
