#include "view/view_camera.h"

#include <QVector3D>
#include <QVector4D>

#include <algorithm>
#include <cmath>

namespace tx710 {

namespace {

const float kHeights[ViewCamera::kZoomSteps] = {1, 2, 3, 4, 5, 10, 20, 30, 50};
const float kSpacings[ViewCamera::kZoomSteps] = {0.1f, 0.25f, 0.5f, 0.8f, 1, 2, 2.5f, 4, 5};
// Half the camera's vertical field of view (45 degrees).
constexpr float kHalfFieldOfView = 3.1415927f / 8.0f;
// Figures this close to the edge are still drawn: line width, antialiasing.
constexpr float kCullMarginPixels = 4.0f;

} // namespace

void ViewCamera::zoomIn()
{
    zoom_index_ = std::max(zoom_index_ - 1, 0);
}

void ViewCamera::zoomOut()
{
    zoom_index_ = std::min(zoom_index_ + 1, kZoomSteps - 1);
}

float ViewCamera::distance() const
{
    return kHeights[zoom_index_];
}

float ViewCamera::gridSpacing() const
{
    return kSpacings[zoom_index_];
}

void ViewCamera::dragBy(int dx, int dy)
{
    const float step = kPanFactor * distance();
    pan_ -= QVector2D(static_cast<float>(dx) * step, static_cast<float>(dy) * step);
}

void ViewCamera::setViewport(int width, int height)
{
    aspect_ = static_cast<float>(width) / static_cast<float>(height == 0 ? 1 : height);
}

void ViewCamera::updateMatrices()
{
    projection_.setToIdentity();
    projection_.perspective(45.0f, aspect_, 0.01f, 1000.0f);
    view_.setToIdentity();
    view_.lookAt(QVector3D(pan_.x(), pan_.y(), distance()), QVector3D(pan_.x(), pan_.y(), 0.0f),
                 QVector3D(0.0f, 1.0f, 0.0f));
}

QVector2D ViewCamera::scenePosition(const QPointF& pixel) const
{
    const float w = static_cast<float>(std::max(view_size_.width(), 1));
    const float h = static_cast<float>(std::max(view_size_.height(), 1));
    const float ndc_x = 2.0f * static_cast<float>(pixel.x()) / w - 1.0f;
    const float ndc_y = 1.0f - 2.0f * static_cast<float>(pixel.y()) / h;
    const QVector4D eye_ray = projection_.inverted() * QVector4D(ndc_x, ndc_y, -1.0f, 1.0f);
    const QVector4D ray = view_.inverted() * QVector4D(eye_ray.x(), eye_ray.y(), -1.0f, 0.0f);
    return QVector2D(pan_.x() + distance() * ray.x(), pan_.y() + distance() * ray.y());
}

QPointF ViewCamera::pixelPosition(const QVector2D& scene) const
{
    const QVector4D clip = projection_ * view_ * QVector4D(scene.x(), scene.y(), 0.0f, 1.0f);
    if (clip.w() == 0.0f)
        return QPointF();
    const float ndc_x = clip.x() / clip.w();
    const float ndc_y = clip.y() / clip.w();
    return QPointF((ndc_x + 1.0f) * 0.5f * static_cast<float>(view_size_.width()),
                   (1.0f - ndc_y) * 0.5f * static_cast<float>(view_size_.height()));
}

std::optional<float> ViewCamera::polarAngle(const QPointF& pixel) const
{
    const QVector2D scene = scenePosition(pixel);
    const float wx = scene.x();
    const float wy = scene.y();
    if (wx == 0.0f && wy == 0.0f)
        return std::nullopt;
    const float a = std::atan(wx / wy) * 180.0f / 3.1415927f;
    return wy >= 0.0f ? 180.0f + a : wx < 0.0f ? a : 360.0f + a;
}

QRectF ViewCamera::visibleArea() const
{
    const float half_height = distance() * std::tan(kHalfFieldOfView);
    const float half_width = half_height * aspect_;
    const float margin = 2.0f * half_height * kCullMarginPixels / static_cast<float>(std::max(view_size_.height(), 1));
    return QRectF(pan_.x() - half_width - margin, pan_.y() - half_height - margin, 2 * (half_width + margin),
                  2 * (half_height + margin));
}

} // namespace tx710
