#pragma once

// The one owner of /tf_static in the Foxglove JSON profile (foxglove.FrameTransform,
// our own schema in resources/schemas/tx710/) and of what any /tf_static
// transform, CDR or JSON, may place: the checks that keep a hostile file's
// transforms out of the view.

#include <QByteArray>
#include <QString>

#include "recording/mcap_reader.h"
#include "recording/ros2_messages.h"
#include "recording/topic_description.h"

namespace tx710::frametransform {

// Farther than this from the base frame, a LiDAR's placement is not taken.
constexpr double kMaxDistanceM = 1000;

// "/tf_static", "foxglove.FrameTransform", "jsonschema", the schema, "json".
const TopicDescription& topic();

QByteArray encode(const ros2::TransformStamped& transform);
// False with the reason when `json` is not a FrameTransform.
bool decode(const QByteArray& json, ros2::TransformStamped& transform, QString& error);

// Where `transform` places its child frame: frame ids of 1 to
// mcap::kMaxFrameIdChars characters, finite numbers, at most kMaxDistanceM
// away, a unit quaternion (its turn about z taken as the yaw). False with a
// short reason quoting the frame otherwise.
bool placementOf(const ros2::TransformStamped& transform, mcap::DevicePlacement& placement, QString& error);

} // namespace tx710::frametransform
