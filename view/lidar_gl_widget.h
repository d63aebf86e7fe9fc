#pragma once

#include <QImage>
#include <QMatrix4x4>
#include <QOpenGLFunctions_4_1_Core>
#include <QPointF>
#include <QRectF>
#include <QVector2D>
#include <QVector3D>
#include <QWidget>

#include <QElapsedTimer>
#include <QTimer>

#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "SerialPort/link_health.h"
#include "SerialPort/serial_data.h"
#include "view/shown_rounds.h"

class QOpenGLContext;
class QOpenGLPaintDevice;
class QOpenGLShaderProgram;
class QOpenGLWindow;
class ShowDataWidget;
class LogoWidget;
class NoticeWidget;
class HealthLine;
class QLabel;
class SceneWindow;

// One glyph of the ring-label font, made once when the GL context is set up.
struct GlyphRecord {
    GLuint texture = 0;
    QVector2D size;      // bitmap width and rows, pixels
    QVector2D bearing;   // pen to bitmap left edge and top edge (y up), pixels
    quint32 advance = 0; // pen advance, 1/64 pixel
};

// The point-cloud view: the last complete round seen from above over a polar
// grid with millimetre ring labels, zoomed in nine steps, panned by dragging,
// with the point under the cursor picked by its polar angle.
//
// How it is composed: the view is a plain widget filled by a QOpenGLWindow
// (SceneWindow, through QWidget::createWindowContainer) that draws straight
// to its own native window, so a frame costs only the scene; a QOpenGLWidget
// would have the whole main window composed again on every frame. That
// native window covers the view's child widgets, so every other child of the
// view is an overlay: it stays a real widget, laid out and updated as ever,
// but an event filter on it and its descendants notes when it repaints,
// shows, hides, moves or resizes; the next frame renders it once into an
// image (QWidget::render) and paints that over the scene. A new overlay is
// just a child widget. Mouse input on the GL window is handed to the view,
// so hovering works over the overlays too.
//
// What is drawn: ShownRounds holds the rounds on screen. A live round is
// taken from the decoder when it completes, unless the view is held or a
// recording is replayed; replayed rounds come in through showRecordedRound.
// While held or replaying, the view picks the hovered point itself.
class LidarGLWidget : public QWidget, protected QOpenGLFunctions_4_1_Core
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

    void zoomIn();
    void zoomOut();
    // Returns the ring spacing of the current zoom step and shows it in the read-out panel.
    float currentGridSpacing();

    int zoomIndex() const { return zoom_index_; }
    float cameraDistance() const { return camera_distance_; }
    QPointF panOffset() const { return pan_.toPointF(); }
    float aspect() const { return aspect_; }

    // A short message over the bottom-left corner of the view.
    void showNotice(const QString& text);

    // Decay: how many rounds are shown together, older ones dimmer (1..50).
    void setDecayRounds(int count);
    int decayRounds() const { return shown_.decayRounds(); }

    // Hold: the rounds on screen stay while live rounds go on arriving (and
    // being saved), for hovering, measuring and screenshots.
    void setHeld(bool held);
    bool held() const { return held_; }

    // Measure: two clicks mark the ends of a line, each snapped to the
    // nearest drawn point within a few pixels.
    void setMeasureMode(bool on);
    bool measureMode() const { return measure_mode_; }
    void clearMeasure();
    // The ends marked so far, in the scan plane (metres).
    const std::vector<QVector2D>& measureEnds() const { return measure_ends_; }

    // Shows a recorded round in place of the live rounds, through the same
    // display path. speed_rpm is NaN when the file has no speed.
    void showRecordedRound(const std::vector<PointRecord>& points, double speed_rpm);
    // Back to live rounds.
    void endReplay();
    bool replaying() const { return replaying_; }
    // What the health line shows during a replay.
    void setReplayStatus(const QString& text);
    // While `text` is not empty the link is down: the health line says
    // `text` as a warning and the rounds on screen are dimmed.
    void setLinkLost(const QString& text);

    // Scan-plane position (metres) under a pixel of the view, and back.
    QVector2D scenePosition(const QPointF& pixel) const;
    QPointF pixelPosition(const QVector2D& scene) const;

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
    void childEvent(QChildEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    virtual void initializeGL();
    virtual void resizeGL(int w, int h);
    // The scene, then the overlays.
    virtual void paintGL();

    // The label font beside the executable.
    virtual QString fontFilePath() const;

    void initGlyphs();
    void renderText(std::string text, float x, float y, float scale, QVector3D color);

private:
    void originView();
    void setCamera();
    void drawPoints();
    void drawGrid();
    // The part of the scan plane in view, a few pixels wider: figures wholly
    // outside it are not sent to GL, which would only clip them.
    QRectF visibleArea() const;
    void drawLines(float spacing, float ring_limit);
    void glyphQuad(const GlyphRecord& glyph, float x, float y, float scale, float* vertices) const;
    void updateHoverAngle(int px, int py);
    void takeLiveRound();
    bool showsStaticRound() const { return held_ || replaying_; }
    void pickStaticPoint();
    HoverPoint hoverPoint() const;
    void addMeasureEnd(const QPointF& pixel);
    void drawMeasure();
    void updateMeasureLabel();
    void sampleHealth();
    void placeOverlays();
    void watchOverlay(QObject* object);
    QWidget* overlayOf(QObject* object) const;
    void drawOverlays();
    static bool panButtons(Qt::MouseButtons buttons);

    friend class SceneWindow;

    std::vector<float> zoom_levels_;
    std::vector<float> grid_spacings_;
    int zoom_index_ = 0;
    float camera_distance_ = 1.0f;
    float grid_spacing_ = 0.0f;
    QVector2D pan_; // point of the scan plane straight below the camera
    float pan_factor_ = 0.001f;
    int last_mouse_x_ = 0;
    int last_mouse_y_ = 0;
    float aspect_ = 1.0f;
    QVector3D eye_;
    QVector3D center_;
    QVector3D up_;
    QMatrix4x4 matrix_;
    QMatrix4x4 model_;
    QMatrix4x4 view_;
    QMatrix4x4 projection_;
    bool mouse_in_view_ = false;
    ShowDataWidget* show_data_widget_ = nullptr;
    LogoWidget* logo_widget_ = nullptr;
    NoticeWidget* notice_widget_ = nullptr;
    HealthLine* health_line_ = nullptr;
    QLabel* hold_label_ = nullptr;
    QLabel* measure_label_ = nullptr;

    tx710::ShownRounds shown_;
    bool arrays_dirty_ = true; // the point buffers must be filled again
    bool drawn_colour_flag_ = false;
    std::size_t drawn_count_ = 0;
    bool held_ = false;
    bool replaying_ = false;
    double replay_speed_rpm_ = 0;
    QString replay_status_;
    QString link_lost_;
    HoverPoint static_hover_;

    bool measure_mode_ = false;
    std::vector<QVector2D> measure_ends_;
    QPoint press_pixel_;

    tx710::LinkHealthMonitor health_monitor_;
    QTimer health_timer_;
    QElapsedTimer clock_;
    qint64 last_round_ms_ = -1;

    SceneWindow* scene_window_ = nullptr;
    QWidget* container_ = nullptr;
    // Each visible overlay's last rendering; null when it must be rendered again.
    std::map<QWidget*, QImage> overlay_images_;
    bool rendering_overlays_ = false;
    QOpenGLPaintDevice* paint_device_ = nullptr;

    QOpenGLShaderProgram* program_ = nullptr;
    GLuint point_vao_ = 0;
    GLuint point_vbo_ = 0;
    GLuint color_vbo_ = 0;
    GLuint text_vao_ = 0;
    GLuint text_vbo_ = 0;
    int matrix_location_ = -1;
    int model_location_ = -1;
    int view_location_ = -1;
    int projection_location_ = -1;
    bool gl_ready_ = false;

    std::vector<QVector3D> points_;
    std::vector<QVector3D> colors_;
    std::map<char, GlyphRecord> glyphs_;
};
