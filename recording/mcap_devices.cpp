#include "recording/mcap_devices.h"

#include <algorithm>

#include "recording/frame_transform.h"

namespace tx710::mcap {

namespace {

// Transforms kept beyond those of the devices (a robot's other frames).
constexpr std::size_t kMaxPlacements = 4 * kMaxDevices;

// A ROS topic token: letters, digits and underscores, not starting with a digit.
bool frameToken(const QByteArray& text)
{
    if (text.isEmpty() || text.size() > kMaxFrameIdChars || (text[0] >= '0' && text[0] <= '9'))
        return false;
    return std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    });
}

} // namespace

bool DeviceTable::deviceOf(const QByteArray& topic, const QByteArray& suffix, int& device, QString& error)
{
    device = -1;
    const QByteArray prefix = topic.left(topic.size() - suffix.size());
    if (!topic.endsWith(suffix) || (!prefix.isEmpty() && (prefix[0] != '/' || !frameToken(prefix.mid(1)))))
        return true;
    const auto known = std::find(prefixes_.begin(), prefixes_.end(), prefix);
    if (known != prefixes_.end()) {
        device = int(known - prefixes_.begin());
        return true;
    }
    if (prefixes_.size() == kMaxDevices) {
        error = QStringLiteral("more than %1 devices").arg(kMaxDevices);
        return false;
    }
    prefixes_.push_back(prefix);
    device = int(prefixes_.size() - 1);
    return true;
}

int DeviceTable::deviceOfFrame(const QString& frame) const
{
    const auto found = std::find(prefixes_.begin(), prefixes_.end(), '/' + frame.toUtf8());
    return found == prefixes_.end() ? 0 : int(found - prefixes_.begin());
}

bool DeviceTable::place(const std::vector<ros2::TransformStamped>& transforms, QString& error)
{
    transforms_ = true;
    for (const ros2::TransformStamped& transform : transforms) {
        DevicePlacement placement;
        if (!frametransform::placementOf(transform, placement, error))
            return false;
        if (base_frame_.isEmpty())
            base_frame_ = QString::fromStdString(transform.header.frame_id);
        if (placements_.size() < kMaxPlacements || placements_.count(placement.frame_id))
            placements_[placement.frame_id] = placement;
    }
    return true;
}

std::vector<DevicePlacement> DeviceTable::devices() const
{
    std::vector<DevicePlacement> devices;
    if (prefixes_.size() < 2 && !transforms_)
        return devices;
    for (const QByteArray& prefix : prefixes_) {
        DevicePlacement device;
        device.frame_id = QString::fromUtf8(prefix.mid(1));
        // One unprefixed device: the frame its only transform names.
        if (prefix.isEmpty() && prefixes_.size() == 1 && placements_.size() == 1)
            device.frame_id = placements_.begin()->first;
        const auto placed = placements_.find(device.frame_id);
        devices.push_back(placed == placements_.end() ? device : placed->second);
    }
    return devices;
}

} // namespace tx710::mcap
