#include "SerialPort/point_display.h"

#include <cmath>

namespace tx710 {

namespace {
const QVector3D kWhite(1, 1, 1);
const QVector3D kYellow(1, 1, 0);
const QVector3D kCyan(0, 1, 1);
constexpr float kPi = 3.1415927f;
constexpr int kBrightIntensity = 210;    // above: yellow with the colour map
constexpr int kSaturatedIntensity = 255; // cyan with the colour map
} // namespace

QVector3D scanPlanePosition(float angle, float distance_mm)
{
    const float theta = (angle + 90.0f) / 180.0f * kPi;
    const float r = distance_mm * 0.001f;
    return QVector3D(std::cos(theta) * r, -std::sin(theta) * r, 0.0f);
}

const QVector3D& pointColour(std::uint8_t intensity, bool next_round, bool color_flag)
{
    if (next_round || !color_flag)
        return kWhite;
    if (intensity == kSaturatedIntensity)
        return kCyan;
    if (intensity > kBrightIntensity)
        return kYellow;
    return kWhite;
}

} // namespace tx710
