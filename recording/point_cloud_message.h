#pragma once

// The one owner of a round as a foxglove.PointCloud message in JSON: used by
// the MCAP writer and reader and by the live server.
//
// Each point is 24 bytes of little-endian float32: x, y, z (metres, the
// coordinates of recording/point_coordinates.h), intensity, angle (degrees),
// distance (mm). The bytes go into "data" as base64, the JSON form of bytes
// in that schema.

#include <QByteArray>
#include <QString>

#include "recording/scan_options.h"
#include "recording/scan_round.h"
#include "recording/topic_description.h"

namespace tx710::pointcloud {

constexpr int kPointStride = 24;

// "/scan", "foxglove.PointCloud", "jsonschema", the schema, "json".
const TopicDescription& topic();

// x and y and the frame as `mounting` says.
QByteArray encode(const ScanRound& round, const ScanOptions& mounting = ScanOptions());

// Takes back what encode() wrote: receive time and points (the round number
// is not part of the message; it stays as it was). On failure returns false
// with the reason in `error`. With `frame_angles`, a point's angle is its
// bearing in the cloud's frame from x and y (see ros2::pointsOf()).
bool decode(const QByteArray& json, ScanRound& round, QString& error, bool frame_angles = false);

} // namespace tx710::pointcloud
