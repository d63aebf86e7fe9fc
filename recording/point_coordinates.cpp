#include "recording/point_coordinates.h"

#include <cmath>

namespace tx710::coordinates {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Adding +0.0 turns -0.0 into 0.0, so no "-0.000000" reaches the CSV.
double micrometres(double metres)
{
    return std::round(metres * 1e6) / 1e6 + 0.0;
}

} // namespace

PlanePoint fromPolar(const PointRecord& point, const ScanOptions& mounting)
{
    const double bearing = bearingOf(mounting, point.angle);
    const double metres = double(point.distance) / 1000.0;
    return PlanePoint{micrometres(metres * std::cos(bearing)), micrometres(metres * std::sin(bearing))};
}

PlanePoint fromPolar(const PointRecord& point)
{
    const double radians = double(point.angle) * kPi / 180.0;
    const double metres = double(point.distance) / 1000.0;
    return PlanePoint{micrometres(metres * std::cos(radians)), micrometres(-metres * std::sin(radians))};
}

} // namespace tx710::coordinates
