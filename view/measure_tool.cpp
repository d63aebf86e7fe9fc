#include "view/measure_tool.h"

#include <QCoreApplication>

#include <cmath>

#include "view/view_camera.h"

namespace tx710 {

namespace {

// A click snaps to a drawn point this near, pixels.
constexpr float kSnapPixels = 8.0f;

// The bearing of `to` seen from `from`, in the scan's angle convention:
// 0 degrees on -y, 90 on -x.
double bearingDegrees(const QVector2D& from, const QVector2D& to)
{
    const double dx = double(to.x()) - double(from.x());
    const double dy = double(to.y()) - double(from.y());
    double bearing = std::atan2(-dy, dx) * 180.0 / 3.14159265358979 - 90.0;
    while (bearing < 0.0)
        bearing += 360.0;
    while (bearing >= 360.0)
        bearing -= 360.0;
    return bearing;
}

QString tr(const char* text)
{
    return QCoreApplication::translate("LidarGLWidget", text);
}

} // namespace

void MeasureTool::setActive(bool on)
{
    active_ = on;
    if (!on)
        ends_.clear();
}

void MeasureTool::addEnd(const QPointF& pixel, const ViewCamera& camera, const std::vector<QVector3D>& drawn)
{
    if (ends_.size() >= 2)
        ends_.clear();
    QVector2D end = camera.scenePosition(pixel);
    float nearest = kSnapPixels;
    for (const QVector3D& point : drawn) {
        const QVector2D scene(point.x(), point.y());
        const QPointF offset = camera.pixelPosition(scene) - pixel;
        const float gap = static_cast<float>(std::hypot(offset.x(), offset.y()));
        if (gap <= nearest) {
            nearest = gap;
            end = scene;
        }
    }
    ends_.push_back(end);
}

QString MeasureTool::labelText() const
{
    if (ends_.size() < 2)
        return ends_.empty() ? tr("Measure: click the first point (Esc clears)")
                             : tr("Measure: click the second point (Esc clears)");
    const double distance_mm = double((ends_[1] - ends_[0]).length()) * 1000.0;
    return tr("%1 mm   %2°").arg(distance_mm, 0, 'f', 0).arg(bearingDegrees(ends_[0], ends_[1]), 0, 'f', 1);
}

} // namespace tx710
