#pragma once

#include <QImage>
#include <QPointF>
#include <QVector2D>
#include <QVector3D>
#include <QWidget>

#include <vector>

#include "SerialPort/serial_data.h"
#include "view/health_sampler.h"
#include "view/measure_tool.h"
#include "view/overlay_compositor.h"
#include "view/scene_renderer.h"
#include "view/screen_rounds.h"
#include "view/view_camera.h"
#include "view/view_overlays.h"

class QOpenGLContext;
class QShortcut;
class SceneWindow;

// The point-cloud view: the last complete round seen from above over a polar
// grid with millimetre ring labels, zoomed in nine steps, panned by dragging,
// with the point under the cursor picked by its polar angle. It routes input
// and composes the parts: the camera (ViewCamera), the GL scene
// (SceneRenderer), the measure tool (MeasureTool), the rounds on screen
// (ShownRounds), its own child widgets (ViewOverlays), the drawing of every
// child widget over the scene (OverlayCompositor) and the link's health
// sampled for the health line (HealthSampler).
//
// The view is a plain widget filled by a QOpenGLWindow (SceneWindow, through
// QWidget::createWindowContainer) that draws straight to its own native
// window, so a frame costs only the scene; a QOpenGLWidget would have the
// whole main window composed again on every frame. Mouse input on the GL
// window is handed to the view, so hovering works over the overlays too.
//
// A live round is taken from the decoder when it completes, unless the view
// is held or a recording is replayed; replayed rounds come in through
// showRecordedRound. While held or replaying, the view picks the hovered
// point itself.
class LidarGLWidget : public QWidget
{
    Q_OBJECT
public:
    explicit LidarGLWidget(QWidget* parent = nullptr);
    ~LidarGLWidget() override;

    // Draws the scene on the next frame.
    void scheduleFrame();
    // Draws a frame now and returns it, overlays included (empty before the
    // GL window first appears).
    QImage grabFramebuffer();
    // The GL window's context, made current or released.
    void makeCurrent();
    void doneCurrent();
    QOpenGLContext* context() const;

    void zoomIn() { camera_.zoomIn(); }
    void zoomOut() { camera_.zoomOut(); }
    // Returns the ring spacing of the current zoom step and shows it in the read-out panel.
    float currentGridSpacing();

    int zoomIndex() const { return camera_.zoomIndex(); }
    float cameraDistance() const { return camera_.distance(); }
    QPointF panOffset() const { return camera_.pan().toPointF(); }
    float aspect() const { return camera_.aspect(); }

    // A short message over the bottom-left corner of the view.
    void showNotice(const QString& text);

    // Decay: how many rounds are shown together, older ones dimmer (1..50).
    void setDecayRounds(int count);
    int decayRounds() const { return rounds_.decayRounds(); }

    // Hold: the rounds on screen stay while live rounds go on arriving (and
    // being saved), for hovering, measuring and screenshots.
    void setHeld(bool held);
    bool held() const { return rounds_.held(); }

    // Measure: two clicks mark the ends of a line, each snapped to the
    // nearest drawn point within a few pixels; Esc clears them.
    void setMeasureMode(bool on);
    bool measureMode() const { return measure_.active(); }
    void clearMeasure();
    // The ends marked so far, in the scan plane (metres).
    const std::vector<QVector2D>& measureEnds() const { return measure_.ends(); }

    // Shows a recorded round in place of the live rounds, through the same
    // display path. speed_rpm is NaN when the file has no speed. Of a
    // recording of several LiDARs, each LiDAR's newest rounds stay on screen
    // together: `device` is the round's place in the names given here, which
    // the legend lists beside their colours. Fewer than two: one LiDAR, drawn
    // as live.
    void setReplayDevices(const QStringList& names);
    void showRecordedRound(const std::vector<PointRecord>& points, double speed_rpm, int device = 0);
    // Back to live rounds.
    void endReplay();
    bool replaying() const { return rounds_.replaying(); }
    // What the health line shows during a replay.
    void setReplayStatus(const QString& text);
    // While `text` is not empty the link is down: the health line says
    // `text` as a warning and the rounds on screen are dimmed.
    void setLinkLost(const QString& text);

    // Scan-plane position (metres) under a pixel of the view, and back.
    QVector2D scenePosition(const QPointF& pixel) const { return camera_.scenePosition(pixel); }
    QPointF pixelPosition(const QVector2D& scene) const { return camera_.pixelPosition(scene); }

signals:
    // A frame has been drawn and shown.
    void frameDrawn();

public slots:
    // Frees every GL object with the context made current; also run when the
    // context is about to be destroyed.
    void cleanup();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void enterEvent(QEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    virtual void initializeGL();
    virtual void resizeGL(int w, int h);
    // The scene, then the overlays.
    virtual void paintGL();

    // The label font beside the executable.
    virtual QString fontFilePath() const;

private:
    void updateHoverAngle(int px, int py);
    void takeLiveRound();
    // While the shown round stands still, the view picks the hovered point itself.
    void pickStillPoint();
    void updateMeasureLabel();
    void showHealth(const tx710::LinkHealth& health);
    void placeOverlays();
    static bool panButtons(Qt::MouseButtons buttons);

    friend class SceneWindow;

    // First: the overlays, made before them, ask for frames.
    SceneWindow* scene_window_ = nullptr;
    QWidget* container_ = nullptr;
    tx710::ViewCamera camera_;
    tx710::MeasureTool measure_;
    tx710::SceneRenderer renderer_;
    tx710::OverlayCompositor compositor_;
    int last_mouse_x_ = 0;
    int last_mouse_y_ = 0;
    QPoint press_pixel_;
    bool mouse_in_view_ = false;
    tx710::ViewOverlays overlays_;
    QShortcut* clear_measure_ = nullptr;

    tx710::ScreenRounds rounds_;
    bool points_sent_ = false; // the renderer has the rounds' points
    QString replay_status_;
    QString link_lost_;
    QStringList device_names_; // of a replay of several LiDARs
    float hover_distance_ = 0; // mm from the centre, of the cursor

    tx710::HealthSampler health_;
};
