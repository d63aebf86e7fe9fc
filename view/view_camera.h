#pragma once

#include <QMatrix4x4>
#include <QPointF>
#include <QRectF>
#include <QSize>
#include <QVector2D>

#include <optional>

namespace tx710 {

// The camera over the scan plane: its nine zoom steps (height and ring
// spacing), the pan, the matrices, and the mapping between the view's pixels
// and the scan plane (metres). Knows no GL.
class ViewCamera
{
public:
    static constexpr int kZoomSteps = 9;
    // Metres the scene moves per pixel dragged, per metre of camera height.
    static constexpr float kPanFactor = 0.001f;

    void zoomIn();
    void zoomOut();
    int zoomIndex() const { return zoom_index_; }
    float distance() const;
    float gridSpacing() const;

    // Moves the scene by a drag of (dx right, dy up) pixels.
    void dragBy(int dx, int dy);
    void centre() { pan_ = QVector2D(); }
    QVector2D pan() const { return pan_; }

    // The GL viewport's size gives the aspect; a height of 0 counts as 1.
    void setViewport(int width, int height);
    float aspect() const { return aspect_; }
    // The view's size in pixels, for the pixel mappings.
    void setViewSize(const QSize& size) { view_size_ = size; }

    // Computes the matrices for the current pan, zoom and aspect; the
    // mappings below use the ones last computed, as the last frame drew.
    void updateMatrices();
    const QMatrix4x4& viewMatrix() const { return view_; }
    const QMatrix4x4& projection() const { return projection_; }

    QVector2D scenePosition(const QPointF& pixel) const;
    QPointF pixelPosition(const QVector2D& scene) const;
    // The scan's polar angle (degrees: 0 on -y, growing clockwise) under a
    // pixel; none straight above the centre.
    std::optional<float> polarAngle(const QPointF& pixel) const;
    // The part of the scan plane in view, a few pixels wider.
    QRectF visibleArea() const;

private:
    int zoom_index_ = 0;
    QVector2D pan_; // point of the scan plane straight below the camera
    float aspect_ = 1.0f;
    QSize view_size_;
    QMatrix4x4 view_;
    QMatrix4x4 projection_;
};

} // namespace tx710
