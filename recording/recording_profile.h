#pragma once

// What a recording's MCAP file and live stream carry, chosen by
// ScanOptions::profile: the channels and the messages of each round and
// status sample. "ros2" (the default): LaserScan, PointCloud2 and
// DiagnosticArray in CDR, as rosbag2 records them; "foxglove": the JSON
// foxglove.PointCloud on /scan and tx710.Status on /tx710/status. With several
// devices each has its own topics under topicPrefix(); with transforms
// (hasTransforms()) /tf_static comes once, before the first round.
// A profile keeps state (sequence numbers, the last speed, scan stamps), so
// each file or stream has its own.

#include <QByteArray>

#include <cstdint>
#include <memory>
#include <vector>

#include "recording/scan_options.h"
#include "recording/scan_round.h"
#include "recording/status_message.h"
#include "recording/topic_description.h"

namespace tx710 {

class RecordingProfile
{
public:
    struct Channel {
        std::uint16_t id = 0; // its schema has the same id
        TopicDescription topic;
        bool status = false; // carries the status samples, not the rounds
        // Carries one message, sent before the first round, that a late
        // subscriber needs too (/tf_static).
        bool latched = false;
    };
    struct Message {
        std::uint16_t channel = 0;
        std::uint32_t sequence = 0;
        std::int64_t log_time_ns = 0;
        QByteArray data;
    };

    virtual ~RecordingProfile() = default;
    // The MCAP header's profile: "ros2", or empty.
    virtual QByteArray name() const = 0;
    virtual const std::vector<Channel>& channels() const = 0;
    virtual void roundMessages(const ScanRound& round, std::vector<Message>& messages) = 0;
    virtual void statusMessages(const status::Sample& sample, std::vector<Message>& messages) = 0;
};

// The profile of the first device's options, for every device of the list.
// A round or sample of a device the list lacks gives no message.
std::unique_ptr<RecordingProfile> makeRecordingProfile(const DeviceScans& devices);

} // namespace tx710
