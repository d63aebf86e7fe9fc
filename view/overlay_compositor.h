#pragma once

#include <QImage>
#include <QObject>
#include <QOpenGLFunctions_3_1>

#include <functional>
#include <map>
#include <memory>
#include <vector>

class QOpenGLShaderProgram;
class QWidget;

namespace tx710 {

// Draws the child widgets of a view over its GL scene. Every child of the
// host except the GL container is an overlay: a real widget, laid out and
// updated as ever, but hidden on screen by the GL window. An event filter on
// it and its descendants notes when it repaints, shows, hides, moves or
// resizes; the next frame renders it once into an image (QWidget::render),
// kept as a texture, and draws that over the scene with premultiplied alpha.
class OverlayCompositor : public QObject, protected QOpenGLFunctions_3_1
{
public:
    // `changed` asks the host for a new frame.
    OverlayCompositor(QWidget* host, std::function<void()> changed);
    ~OverlayCompositor() override;
    // The host's child that is not an overlay.
    void setContainer(QWidget* container) { container_ = container; }

    // With the context current.
    void create();
    void destroy();
    // Draws the visible overlays, bottom to top, over a scene of `size`
    // device-independent pixels at `ratio` device pixels each.
    void draw(const QSize& size, qreal ratio);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Overlay {
        QImage image; // null when it must be rendered again
        GLuint texture = 0;
        QSize texture_size;
        bool uploaded = false;
    };
    void watch(QObject* object);
    QWidget* overlayOf(QObject* object) const;
    void forget(QObject* child);
    void invalidate(QWidget* overlay);
    void render(QWidget* overlay, Overlay& entry, qreal ratio);

    QWidget* host_;
    QWidget* container_ = nullptr;
    std::function<void()> changed_;
    std::map<QWidget*, Overlay> overlays_;
    std::vector<GLuint> stale_textures_; // freed on the next frame, with the context current
    bool rendering_ = false;
    std::unique_ptr<QOpenGLShaderProgram> program_;
    GLuint vao_ = 0;
};

} // namespace tx710
