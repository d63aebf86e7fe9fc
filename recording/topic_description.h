#pragma once

// What a reader needs to decode one topic of a recording: the same for the
// MCAP file and the live server, so both describe it from one place.

#include <QByteArray>

#include <cstdint>
#include <utility>
#include <vector>

namespace tx710 {

struct TopicDescription {
    QByteArray topic;
    QByteArray schema_name;
    QByteArray schema_encoding;
    QByteArray schema_text;
    QByteArray message_encoding;
    // The channel's metadata in an MCAP file (key, value).
    std::vector<std::pair<QByteArray, QByteArray>> metadata = {};
};

// {"sec":S,"nsec":N} of a time in nanoseconds since the Unix epoch (negative
// times, which no clock here gives, are taken as 0).
inline QByteArray jsonTime(std::int64_t time_ns)
{
    const std::int64_t clamped = time_ns < 0 ? 0 : time_ns;
    return "{\"sec\":" + QByteArray::number(qint64(clamped / 1000000000))
        + ",\"nsec\":" + QByteArray::number(qint64(clamped % 1000000000)) + '}';
}

} // namespace tx710
