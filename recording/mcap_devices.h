#pragma once

// The LiDARs of a recording as its reader finds them: one per topic prefix of
// its round channels ("" or "/<frame id>", in the order of the channels), each
// placed by the /tf_static transform to its frame. Bounded: at most
// kMaxDevices devices and frame ids of kMaxFrameIdChars characters.

#include <QByteArray>
#include <QString>

#include <map>
#include <vector>

#include "recording/mcap_reader.h"
#include "recording/ros2_messages.h"

namespace tx710::mcap {

class DeviceTable
{
public:
    // The device of a round or status channel `topic` ending in `suffix`
    // ("/tx710/points"): -1 when its prefix is neither "" nor "/<frame id>"
    // (the channel is left alone). False with the reason past kMaxDevices.
    bool deviceOf(const QByteArray& topic, const QByteArray& suffix, int& device, QString& error);
    // The device whose frame is `frame`; 0 when none is.
    int deviceOfFrame(const QString& frame) const;
    // Takes the transforms of a /tf_static message; false with the reason on
    // one that places nothing sound (frametransform::placementOf).
    bool place(const std::vector<ros2::TransformStamped>& transforms, QString& error);

    // Empty for one device without transforms (see Contents::devices).
    std::vector<DevicePlacement> devices() const;
    const QString& baseFrame() const { return base_frame_; }

private:
    std::vector<QByteArray> prefixes_;
    std::map<QString, DevicePlacement> placements_; // by child frame
    QString base_frame_;
    bool transforms_ = false;
};

} // namespace tx710::mcap
