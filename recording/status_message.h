#pragma once

// The one owner of the once-a-second /tx710/status message (JSON, our own
// schema tx710.Status in resources/schemas/tx710/).

#include <QByteArray>

#include <cstdint>

#include "recording/topic_description.h"

namespace tx710::status {

struct Sample {
    std::int64_t time_ns = 0; // since the Unix epoch
    double frames_per_second = 0;
    std::uint64_t crc_rejects = 0; // since the recording began
    double rpm = 0;
    double points_per_second = 0;
    int device = 0; // its LiDAR's index in the recording's DeviceScans
    // When the link to the device went down (since the Unix epoch); 0: it is up.
    std::int64_t link_down_since_ns = 0;
};

// "/tx710/status", "tx710.Status", "jsonschema", the schema, "json".
const TopicDescription& topic();

QByteArray encode(const Sample& sample);

} // namespace tx710::status
