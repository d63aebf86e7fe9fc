#include "recording/recording_profile.h"

#include "recording/frame_transform.h"
#include "recording/mcap_format.h"
#include "recording/point_cloud_message.h"
#include "recording/ros2_conversions.h"
#include "recording/ros2_mcap_profile.h"

namespace tx710 {

namespace {

// The JSON profile. Channel ids: 1 <prefix>/scan and 2 <prefix>/tx710/status
// of the first device, 3 /tf_static (with transforms: one
// foxglove.FrameTransform per device, before the first round), 2+2k and 3+2k
// those of device k >= 1. One device without a mount: ids 1 and 2, unprefixed.
class FoxgloveProfile : public RecordingProfile
{
public:
    static constexpr std::uint16_t kTransformsId = 3;
    static std::uint16_t scanId(std::size_t device)
    {
        return device == 0 ? mcap::kScanId : std::uint16_t(2 + 2 * device);
    }

    explicit FoxgloveProfile(const DeviceScans& devices) : devices_(devices), status_sequences_(devices.size(), 0)
    {
        for (std::size_t k = 0; k < devices.size(); ++k) {
            const QByteArray prefix = QByteArray::fromStdString(topicPrefix(devices, k));
            TopicDescription scan = pointcloud::topic(), status = status::topic();
            scan.topic = prefix + scan.topic;
            status.topic = prefix + status.topic;
            channels_.push_back({scanId(k), scan});
            channels_.push_back({std::uint16_t(scanId(k) + 1), status, true});
            if (k == 0 && hasTransforms(devices))
                channels_.push_back({kTransformsId, frametransform::topic(), false, true});
        }
    }

    QByteArray name() const override { return QByteArray(); }
    const std::vector<Channel>& channels() const override { return channels_; }

    void roundMessages(const ScanRound& round, std::vector<Message>& messages) override
    {
        if (round.device < 0 || std::size_t(round.device) >= devices_.size())
            return;
        if (!transforms_sent_ && hasTransforms(devices_)) {
            std::uint32_t sequence = 0;
            for (const ros2::TransformStamped& transform :
                 ros2::staticTransformsOf(devices_, round.receive_time_ns).transforms)
                messages.push_back(
                    Message{kTransformsId, ++sequence, round.receive_time_ns, frametransform::encode(transform)});
            transforms_sent_ = true;
        }
        const auto device = std::size_t(round.device);
        messages.push_back(Message{scanId(device), std::uint32_t(round.number), round.receive_time_ns,
                                   pointcloud::encode(round, devices_[device])});
    }

    void statusMessages(const status::Sample& sample, std::vector<Message>& messages) override
    {
        if (sample.device < 0 || std::size_t(sample.device) >= devices_.size())
            return;
        const auto device = std::size_t(sample.device);
        messages.push_back(Message{std::uint16_t(scanId(device) + 1), ++status_sequences_[device], sample.time_ns,
                                   status::encode(sample)});
    }

private:
    DeviceScans devices_;
    std::vector<Channel> channels_;
    std::vector<std::uint32_t> status_sequences_;
    bool transforms_sent_ = false;
};

} // namespace

std::unique_ptr<RecordingProfile> makeRecordingProfile(const DeviceScans& given)
{
    const DeviceScans devices = given.empty() ? DeviceScans{ScanOptions()} : given;
    if (devices.front().profile == ScanOptions::Profile::Foxglove)
        return std::make_unique<FoxgloveProfile>(devices);
    return std::make_unique<ros2::McapProfile>(devices);
}

} // namespace tx710
