#pragma once

#include <QVector3D>

#include <cstdint>

namespace tx710 {

// Where and in what colour a measured point is drawn: one rule for live and
// recorded rounds alike.

// Position in the scan plane, metres: angle 0 on -y, 90 on -x.
QVector3D scanPlanePosition(float angle, float distance_mm);

// The colour of a point that is not picked. Points held back for the next
// round stay white; with the colour map on, bright returns are yellow and
// saturated ones cyan.
const QVector3D& pointColour(std::uint8_t intensity, bool next_round, bool color_flag);

} // namespace tx710
