#include "recording/recording_profile.h"

#include "recording/mcap_format.h"
#include "recording/point_cloud_message.h"
#include "recording/ros2_mcap_profile.h"

namespace tx710 {

namespace {

class FoxgloveProfile : public RecordingProfile
{
public:
    explicit FoxgloveProfile(const ScanOptions& options) : options_(options) {}

    QByteArray name() const override { return QByteArray(); }

    const std::vector<Channel>& channels() const override
    {
        static const std::vector<Channel> channels{{mcap::kScanId, pointcloud::topic()},
                                                   {mcap::kStatusId, status::topic(), true}};
        return channels;
    }

    void roundMessages(const ScanRound& round, std::vector<Message>& messages) override
    {
        messages.push_back(Message{mcap::kScanId, std::uint32_t(round.number), round.receive_time_ns,
                                   pointcloud::encode(round, options_)});
    }

    void statusMessages(const status::Sample& sample, std::vector<Message>& messages) override
    {
        messages.push_back(Message{mcap::kStatusId, ++status_sequence_, sample.time_ns, status::encode(sample)});
    }

private:
    ScanOptions options_;
    std::uint32_t status_sequence_ = 0;
};

} // namespace

std::unique_ptr<RecordingProfile> makeRecordingProfile(const DeviceScans& devices)
{
    if (devices.front().profile == ScanOptions::Profile::Foxglove)
        return std::make_unique<FoxgloveProfile>(devices.front());
    return std::make_unique<ros2::McapProfile>(devices);
}

} // namespace tx710
