#include "view/lidar_gl_widget.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPointer>
#include <QShortcut>
#include <QWheelEvent>

#include <cmath>

#include "panels/device_legend.h"
#include "panels/health_line.h"
#include "panels/notice_widget.h"
#include "panels/show_data_widget.h"
#include "view/lidar_gl_function.h"
#include "view/scene_window.h"

namespace {

// How long the software-renderer note stays in the view.
constexpr int kRendererNoteMs = 15000;
// A press and release this near is a click, not a drag.
constexpr int kClickPixels = 4;

} // namespace

LidarGLWidget::LidarGLWidget(QWidget* parent)
    : QWidget(parent), compositor_(this, [this]() { scheduleFrame(); }),
      overlays_(this), // children, deleted with the view
      health_([this](const tx710::LinkHealth& health) { showHealth(health); })
{
    scene_window_ = new SceneWindow(this);
    scene_window_->setFormat(tx710::SceneRenderer::surfaceFormat());
    container_ = QWidget::createWindowContainer(scene_window_);
    compositor_.setContainer(container_); // before it becomes a child: not an overlay
    container_->setParent(this);
    container_->setGeometry(rect());
    camera_.setViewSize(size());
    connect(scene_window_, &QOpenGLWindow::frameSwapped, this, &LidarGLWidget::frameDrawn);

    // Esc clears a shown measurement wherever the focus is in the window.
    clear_measure_ =
        new QShortcut(QKeySequence(Qt::Key_Escape), this, this, &LidarGLWidget::clearMeasure, Qt::WindowShortcut);
    clear_measure_->setEnabled(false);

    overlays_.read_out->setSpacing(2);
    // E.g. that the scene is drawn in software: told once, as a notice.
    const QString renderer_note = LidarGLFunction::instance()->rendererNote();
    if (!renderer_note.isEmpty()) {
        overlays_.notice->showNotice(renderer_note, kRendererNoteMs);
        placeOverlays();
    }

    // The decoder outlives any view; a round that completes after this view
    // is gone must not reach it.
    QPointer<LidarGLWidget> view(this);
    SerialData::instance()->setRoundCallback([view]() {
        if (!view.isNull())
            view->takeLiveRound();
    });

    health_.sample();

    LidarGLFunction* hub = LidarGLFunction::instance();
    connect(hub, &LidarGLFunction::originViewSignal, this, [this]() {
        camera_.centre();
        scheduleFrame();
    });
    connect(hub, &LidarGLFunction::zoomInSignal, this, [this]() { zoomIn(); });
    connect(hub, &LidarGLFunction::zoomOutSignal, this, [this]() { zoomOut(); });

    setAttribute(Qt::WA_MouseTracking, true);
}

LidarGLWidget::~LidarGLWidget()
{
    // The base destructor destroys the context; by then this part of the
    // object is gone and must not be called back.
    if (context() != nullptr)
        disconnect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &LidarGLWidget::cleanup);
    cleanup();
}

void LidarGLWidget::scheduleFrame()
{
    if (scene_window_ != nullptr) // not while the overlays are made
        scene_window_->update();
}

QImage LidarGLWidget::grabFramebuffer()
{
    if (!scene_window_->isValid() && isVisible()) {
        // The GL window is made on its first exposure, shortly after the view's.
        QEventLoop loop;
        connect(scene_window_, &QOpenGLWindow::frameSwapped, &loop, &QEventLoop::quit);
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        scheduleFrame();
        loop.exec();
    }
    if (!scene_window_->isValid())
        return QImage();
    scene_window_->makeCurrent();
    paintGL();
    // Read from the back buffer just drawn; the screen gets the next frame.
    QImage image = scene_window_->grabFramebuffer();
    scheduleFrame();
    return image;
}

void LidarGLWidget::makeCurrent()
{
    scene_window_->makeCurrent();
}

void LidarGLWidget::doneCurrent()
{
    scene_window_->doneCurrent();
}

QOpenGLContext* LidarGLWidget::context() const
{
    return scene_window_->context();
}

void LidarGLWidget::cleanup()
{
    if (!renderer_.ready())
        return;
    makeCurrent();
    renderer_.destroy();
    compositor_.destroy();
    points_sent_ = false; // new buffers must be filled
    doneCurrent();
}

float LidarGLWidget::currentGridSpacing()
{
    const float spacing = camera_.gridSpacing();
    overlays_.read_out->setSpacing(spacing);
    return spacing;
}

bool LidarGLWidget::panButtons(Qt::MouseButtons buttons)
{
    return buttons == Qt::LeftButton || buttons == Qt::MiddleButton;
}

void LidarGLWidget::mousePressEvent(QMouseEvent* event)
{
    press_pixel_ = event->pos();
    if (panButtons(event->buttons())) {
        last_mouse_x_ = static_cast<int>(std::lround(event->localPos().x()));
        last_mouse_y_ = static_cast<int>(std::lround(event->localPos().y()));
    }
}

void LidarGLWidget::mouseReleaseEvent(QMouseEvent* event)
{
    if (!measure_.active() || event->button() != Qt::LeftButton
        || (event->pos() - press_pixel_).manhattanLength() > kClickPixels)
        return;
    // Paused, no point is drawn to snap to.
    static const std::vector<QVector3D> none;
    measure_.addEnd(event->localPos(), camera_, LidarGLFunction::instance()->playFlag() ? rounds_.points() : none);
    updateMeasureLabel();
    scheduleFrame();
}

void LidarGLWidget::mouseMoveEvent(QMouseEvent* event)
{
    const int px = static_cast<int>(std::lround(event->localPos().x()));
    const int py = static_cast<int>(std::lround(event->localPos().y()));
    updateHoverAngle(px, py);
    if (!panButtons(event->buttons()))
        return;
    camera_.dragBy(px - last_mouse_x_, last_mouse_y_ - py); // screen y grows downward
    last_mouse_x_ = px;
    last_mouse_y_ = py;
    scheduleFrame();
}

void LidarGLWidget::updateHoverAngle(int px, int py)
{
    const std::optional<float> angle = camera_.polarAngle(QPointF(px, py));
    if (!angle)
        return; // the last one stays
    hover_distance_ = camera_.scenePosition(QPointF(px, py)).length() * 1000.0f;
    SerialData::instance()->setHoverAngle(*angle);
    if (rounds_.standsStill())
        pickStillPoint();
}

void LidarGLWidget::takeLiveRound()
{
    health_.noteRound();
    if (rounds_.standsStill())
        return; // the live round is not shown; its records are not either
    overlays_.read_out->showPendingData();
    rounds_.takeLive();
    scheduleFrame();
}

void LidarGLWidget::pickStillPoint()
{
    const std::optional<ShowData> picked = rounds_.pick(SerialData::instance()->hoverAngle(), hover_distance_);
    if (!picked)
        return; // the last pick stays, as live
    overlays_.read_out->setDevice(device_names_.value(rounds_.pickedDevice()));
    overlays_.read_out->showData(*picked);
    scheduleFrame();
}

void LidarGLWidget::setDecayRounds(int count)
{
    rounds_.setDecayRounds(count);
    scheduleFrame();
}

void LidarGLWidget::setHeld(bool held)
{
    if (held == rounds_.held())
        return;
    rounds_.setHeld(held);
    overlays_.hold->setVisible(held);
    overlays_.read_out->setDecoderRecordsShown(!rounds_.standsStill());
    if (held)
        pickStillPoint();
    placeOverlays();
    scheduleFrame();
}

void LidarGLWidget::setReplayDevices(const QStringList& names)
{
    device_names_ = names.size() > 1 ? names : QStringList();
    rounds_.setDevices(int(device_names_.size()));
    std::vector<QColor> colours;
    for (int device = 0; device < device_names_.size(); ++device) {
        const QVector3D colour = tx710::deviceColour(device);
        colours.push_back(QColor::fromRgbF(colour.x(), colour.y(), colour.z()));
    }
    overlays_.legend->setDevices(device_names_, colours);
    overlays_.read_out->setDevice(QString());
    placeOverlays();
    scheduleFrame();
}

void LidarGLWidget::showRecordedRound(const std::vector<PointRecord>& points, double speed_rpm, int device)
{
    if (!rounds_.replaying())
        overlays_.read_out->setDecoderRecordsShown(false);
    rounds_.showRecorded(points, speed_rpm, device);
    if (rounds_.held())
        return;
    pickStillPoint();
    scheduleFrame();
}

void LidarGLWidget::endReplay()
{
    if (!rounds_.replaying())
        return;
    rounds_.endReplay();
    replay_status_.clear();
    overlays_.read_out->setDecoderRecordsShown(!rounds_.standsStill());
    health_.sample();
    scheduleFrame();
}

void LidarGLWidget::setReplayStatus(const QString& text)
{
    replay_status_ = text;
    overlays_.health->showReplay(text);
    placeOverlays();
}

void LidarGLWidget::setLinkLost(const QString& text)
{
    link_lost_ = text;
    rounds_.setDimmed(!text.isEmpty());
    health_.sample();
    scheduleFrame();
}

void LidarGLWidget::showHealth(const tx710::LinkHealth& health)
{
    if (rounds_.replaying())
        overlays_.health->showReplay(replay_status_);
    else if (!link_lost_.isEmpty())
        overlays_.health->showWarning(link_lost_);
    else
        overlays_.health->showHealth(health);
    placeOverlays();
}

void LidarGLWidget::setMeasureMode(bool on)
{
    measure_.setActive(on);
    updateMeasureLabel();
    scheduleFrame();
}

void LidarGLWidget::clearMeasure()
{
    measure_.clear();
    updateMeasureLabel();
    scheduleFrame();
}

void LidarGLWidget::updateMeasureLabel()
{
    clear_measure_->setEnabled(!measure_.ends().empty());
    if (!measure_.active()) {
        overlays_.measure->hide();
        return;
    }
    overlays_.measure->setText(measure_.labelText());
    overlays_.measure->adjustSize();
    overlays_.measure->show();
    placeOverlays();
}

void LidarGLWidget::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && !measure_.ends().empty()) {
        clearMeasure();
        return;
    }
    QWidget::keyPressEvent(event);
}

void LidarGLWidget::wheelEvent(QWheelEvent* event)
{
    if (event->angleDelta().y() < 1)
        zoomOut();
    else
        zoomIn();
    scheduleFrame();
    QWidget::wheelEvent(event);
}

void LidarGLWidget::enterEvent(QEvent* event)
{
    mouse_in_view_ = true;
    overlays_.read_out->setMouseInView(true);
    QWidget::enterEvent(event);
}

void LidarGLWidget::leaveEvent(QEvent* event)
{
    mouse_in_view_ = false;
    overlays_.read_out->setMouseInView(false);
    QWidget::leaveEvent(event);
}

void LidarGLWidget::resizeEvent(QResizeEvent* event)
{
    container_->setGeometry(rect());
    camera_.setViewSize(size());
    placeOverlays();
    QWidget::resizeEvent(event);
}

void LidarGLWidget::placeOverlays()
{
    if (!measure_.complete()) {
        overlays_.place(*this, nullptr);
        return;
    }
    const QPointF middle = (pixelPosition(measure_.ends()[0]) + pixelPosition(measure_.ends()[1])) / 2.0;
    overlays_.place(*this, &middle);
}

void LidarGLWidget::showNotice(const QString& text)
{
    overlays_.notice->showNotice(text);
    placeOverlays();
}

QString LidarGLWidget::fontFilePath() const
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/Font/HK-Grotesk/HKGrotesk-Regular-9.otf");
}

void LidarGLWidget::initializeGL()
{
    if (!renderer_.create(fontFilePath()))
        return;
    compositor_.create();
    // Freed while the context is still alive, whoever destroys it first.
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &LidarGLWidget::cleanup, Qt::UniqueConnection);
}

void LidarGLWidget::resizeGL(int w, int h)
{
    camera_.setViewport(w, h);
}

void LidarGLWidget::paintGL()
{
    if (!renderer_.ready()) {
        QOpenGLFunctions* gl = QOpenGLContext::currentContext()->functions();
        gl->glClearColor(0, 0, 0, 0);
        gl->glClear(GL_COLOR_BUFFER_BIT);
        return;
    }
    const qreal ratio = scene_window_->devicePixelRatio();
    renderer_.beginFrame(
        QSize(static_cast<int>(scene_window_->width() * ratio), static_cast<int>(scene_window_->height() * ratio)));
    camera_.updateMatrices();
    tx710::SceneFigures figures;
    figures.points = LidarGLFunction::instance()->playFlag();
    // Buffers are filled when the rounds change, not on every frame.
    if (figures.points && (rounds_.refresh(SerialData::instance()->colorFlag()) || !points_sent_)) {
        renderer_.setPoints(rounds_.points(), rounds_.colors());
        points_sent_ = true;
    }
    figures.hover = figures.points && mouse_in_view_;
    if (figures.hover) {
        const HoverPoint hover = rounds_.hoverPoint();
        figures.hover_end = QVector2D(hover.x, hover.y);
    }
    if (measure_.active())
        figures.measure = &measure_.ends();
    currentGridSpacing();
    renderer_.draw(camera_, figures);
    if (measure_.complete())
        placeOverlays(); // the figures follow the line through zoom and pan
    compositor_.draw(scene_window_->size(), ratio);
}
