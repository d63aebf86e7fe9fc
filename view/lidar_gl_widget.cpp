#include "view/lidar_gl_widget.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPointer>
#include <QShortcut>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "app/log.h"
#include "app/logo_widget.h"
#include "panels/health_line.h"
#include "panels/notice_widget.h"
#include "panels/show_data_widget.h"
#include "view/lidar_gl_function.h"
#include "view/scene_window.h"

namespace {

constexpr float kPi = 3.1415927f;
// How long the software-renderer note stays in the view.
constexpr int kRendererNoteMs = 15000;
// A press and release this near is a click, not a drag.
constexpr int kClickPixels = 4;
constexpr float kPickTolerance = 0.2f; // degrees, as the decoder picks
constexpr int kHealthIntervalMs = 1000;
constexpr int kOverlayMargin = 8;

// The decoder's last complete round, as the view draws it.
tx710::ShownRound liveRound()
{
    const SerialData* decoder = SerialData::instance();
    return tx710::ShownRound{decoder->display_points_, decoder->display_colors_, decoder->displayRecords()};
}

} // namespace

LidarGLWidget::LidarGLWidget(QWidget* parent) : QWidget(parent), compositor_(this, [this]() { scheduleFrame(); })
{
    scene_window_ = new SceneWindow(this);
    scene_window_->setFormat(tx710::SceneRenderer::surfaceFormat());
    container_ = QWidget::createWindowContainer(scene_window_);
    compositor_.setContainer(container_); // before it becomes a child: not an overlay
    container_->setParent(this);
    container_->setGeometry(rect());
    camera_.setViewSize(size());
    connect(scene_window_, &QOpenGLWindow::frameSwapped, this, &LidarGLWidget::frameDrawn);

    // The overlays are children, deleted with the view.
    show_data_widget_ = new ShowDataWidget(this);
    show_data_widget_->show();
    logo_widget_ = new LogoWidget(this);
    logo_widget_->show();
    notice_widget_ = new NoticeWidget(this); // hidden until there is something to say
    health_line_ = new HealthLine(this);
    health_line_->show();
    hold_label_ = new QLabel(tr("Held: this round stays on screen (H to go on)"), this);
    hold_label_->setObjectName(QStringLiteral("hold_label"));
    measure_label_ = new QLabel(this);
    measure_label_->setObjectName(QStringLiteral("measure_label"));
    for (QLabel* label : {hold_label_, measure_label_}) {
        label->setMargin(4);
        label->setStyleSheet(QStringLiteral("background-color: rgba(0, 0, 0, 170); color: rgb(255, 140, 255);"));
        label->setAutoFillBackground(true); // the backing is drawn over the scene too
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        label->hide();
    }
    // Esc clears a shown measurement wherever the focus is in the window.
    clear_measure_ =
        new QShortcut(QKeySequence(Qt::Key_Escape), this, this, &LidarGLWidget::clearMeasure, Qt::WindowShortcut);
    clear_measure_->setEnabled(false);

    show_data_widget_->setSpacing(2);
    // E.g. that the scene is drawn in software: told once, as a notice.
    const QString renderer_note = LidarGLFunction::instance()->rendererNote();
    if (!renderer_note.isEmpty()) {
        notice_widget_->showNotice(renderer_note, kRendererNoteMs);
        placeOverlays();
    }

    // The decoder outlives any view; a round that completes after this view
    // is gone must not reach it.
    QPointer<LidarGLWidget> view(this);
    SerialData::instance()->setRoundCallback([view]() {
        if (!view.isNull())
            view->takeLiveRound();
    });
    // The round completed before this view existed, if any.
    if (!SerialData::instance()->display_points_.empty())
        shown_.add(liveRound());

    clock_.start();
    health_timer_.setInterval(kHealthIntervalMs);
    connect(&health_timer_, &QTimer::timeout, this, &LidarGLWidget::sampleHealth);
    health_timer_.start();
    sampleHealth();

    LidarGLFunction* hub = LidarGLFunction::instance();
    connect(hub, &LidarGLFunction::originViewSignal, this, [this]() { originView(); });
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
    arrays_dirty_ = true; // new buffers must be filled
    doneCurrent();
}

void LidarGLWidget::originView()
{
    camera_.centre();
    scheduleFrame();
}

float LidarGLWidget::currentGridSpacing()
{
    const float spacing = camera_.gridSpacing();
    show_data_widget_->setSpacing(spacing);
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
    measure_.addEnd(event->localPos(), camera_, LidarGLFunction::instance()->playFlag() ? points_ : none);
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
    const QVector2D scene = scenePosition(QPointF(px, py));
    const float wx = scene.x();
    const float wy = scene.y();
    // Straight above the centre has no polar angle; the last one stays.
    if (wx == 0.0f && wy == 0.0f)
        return;
    const float a = std::atan(wx / wy) * 180.0f / kPi;
    const float angle = wy >= 0.0f ? 180.0f + a : wx < 0.0f ? a : 360.0f + a;
    SerialData::instance()->setHoverAngle(angle);
    if (showsStaticRound())
        pickStaticPoint();
}

void LidarGLWidget::takeLiveRound()
{
    last_round_ms_ = clock_.elapsed();
    if (showsStaticRound())
        return; // the live round is not shown; its records are not either
    show_data_widget_->showPendingData();
    shown_.add(liveRound());
    arrays_dirty_ = true;
    scheduleFrame();
}

HoverPoint LidarGLWidget::hoverPoint() const
{
    return showsStaticRound() ? static_hover_ : SerialData::instance()->hoverPoint();
}

void LidarGLWidget::pickStaticPoint()
{
    const int index = shown_.pick(SerialData::instance()->hoverAngle(), kPickTolerance);
    if (index < 0)
        return; // the last pick stays, as live
    const tx710::ShownRound& round = shown_.newest();
    const PointRecord& record = round.records[std::size_t(index)];
    const QVector3D& position = round.points[std::size_t(index)];
    static_hover_ = HoverPoint{position.x(), position.y()};
    ShowData data;
    data.angle = record.angle;
    data.distance = record.distance;
    data.intensity = record.intensity;
    if (replaying_) {
        data.speed = static_cast<float>(replay_speed_rpm_);
        // Points a second from the round's points and the turning speed.
        data.spot_frequency = std::isnan(replay_speed_rpm_)
            ? -1
            : static_cast<std::int32_t>(double(round.records.size()) * replay_speed_rpm_ / 60.0);
    } else {
        const SerialData* decoder = SerialData::instance();
        data.speed = static_cast<float>(decoder->lastSpeedRpm());
        data.spot_frequency = decoder->spotFrequency();
    }
    show_data_widget_->showData(data);
    scheduleFrame();
}

void LidarGLWidget::setDecayRounds(int count)
{
    shown_.setDecayRounds(count);
    arrays_dirty_ = true;
    scheduleFrame();
}

void LidarGLWidget::setHeld(bool held)
{
    if (held == held_)
        return;
    held_ = held;
    hold_label_->setVisible(held);
    show_data_widget_->setDecoderRecordsShown(!showsStaticRound());
    if (held)
        pickStaticPoint();
    placeOverlays();
    scheduleFrame();
}

void LidarGLWidget::showRecordedRound(const std::vector<PointRecord>& points, double speed_rpm)
{
    if (!replaying_) {
        replaying_ = true;
        shown_.clear(); // no live round among the replayed ones
        show_data_widget_->setDecoderRecordsShown(false);
    }
    replay_speed_rpm_ = speed_rpm;
    if (held_)
        return;
    shown_.add(tx710::ShownRounds::fromRecords(points, SerialData::instance()->colorFlag()));
    arrays_dirty_ = true;
    pickStaticPoint();
    scheduleFrame();
}

void LidarGLWidget::endReplay()
{
    if (!replaying_)
        return;
    replaying_ = false;
    replay_status_.clear();
    shown_.clear();
    if (!SerialData::instance()->display_points_.empty())
        shown_.add(liveRound());
    show_data_widget_->setDecoderRecordsShown(!showsStaticRound());
    arrays_dirty_ = true;
    sampleHealth();
    scheduleFrame();
}

void LidarGLWidget::setReplayStatus(const QString& text)
{
    replay_status_ = text;
    health_line_->showReplay(text);
    placeOverlays();
}

void LidarGLWidget::sampleHealth()
{
    const SerialData* decoder = SerialData::instance();
    tx710::LinkSample sample;
    sample.time_ms = clock_.elapsed();
    sample.accepted = decoder->acceptedFrameCount();
    sample.rejected = decoder->rejectedFrameCount();
    sample.rpm = decoder->lastSpeedRpm();
    sample.points_per_round = decoder->display_points_.size();
    sample.last_data_ms = last_round_ms_;
    health_monitor_.addSample(sample);
    if (replaying_)
        health_line_->showReplay(replay_status_);
    else
        health_line_->showHealth(health_monitor_.health());
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
        measure_label_->hide();
        return;
    }
    measure_label_->setText(measure_.labelText());
    measure_label_->adjustSize();
    measure_label_->show();
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
    show_data_widget_->setMouseInView(true);
    QWidget::enterEvent(event);
}

void LidarGLWidget::leaveEvent(QEvent* event)
{
    mouse_in_view_ = false;
    show_data_widget_->setMouseInView(false);
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
    show_data_widget_->move(0, 0);
    show_data_widget_->raise();
    logo_widget_->move(width() - logo_widget_->width(), height() - logo_widget_->height());
    logo_widget_->raise();
    // Stacked up from the bottom-left corner, each clear of the logo: one
    // that would reach under it goes above it.
    notice_widget_->setAvailableWidth(width());
    int bottom = height();
    for (QWidget* line : {static_cast<QWidget*>(health_line_), static_cast<QWidget*>(notice_widget_)}) {
        if (line->width() > logo_widget_->x())
            bottom = std::min(bottom, logo_widget_->y());
        line->move(0, bottom - line->height());
        line->raise();
        bottom = line->y();
    }
    hold_label_->adjustSize();
    hold_label_->move(width() - hold_label_->width() - kOverlayMargin, kOverlayMargin);
    hold_label_->raise();
    if (measure_.complete()) {
        // Beside the line's middle, kept inside the view.
        const QPointF middle = (pixelPosition(measure_.ends()[0]) + pixelPosition(measure_.ends()[1])) / 2.0;
        const int x = std::clamp(static_cast<int>(middle.x()) + kOverlayMargin, 0,
                                 std::max(0, width() - measure_label_->width()));
        const int y = std::clamp(static_cast<int>(middle.y()) + kOverlayMargin, 0,
                                 std::max(0, height() - measure_label_->height()));
        measure_label_->move(x, y);
    } else {
        measure_label_->move(width() - measure_label_->width() - kOverlayMargin,
                             hold_label_->y() + hold_label_->height() + kOverlayMargin);
    }
    measure_label_->raise();
}

void LidarGLWidget::showNotice(const QString& text)
{
    notice_widget_->showNotice(text);
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
    QOpenGLFunctions* gl = QOpenGLContext::currentContext()->functions();
    gl->glClearColor(0, 0, 0, 0);
    if (!renderer_.ready()) {
        gl->glClear(GL_COLOR_BUFFER_BIT);
        return;
    }
    gl->glEnable(GL_DEPTH_TEST);
    gl->glEnable(GL_BLEND);
    gl->glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    const qreal ratio = scene_window_->devicePixelRatio();
    gl->glViewport(0, 0, static_cast<GLsizei>(scene_window_->width() * ratio),
                   static_cast<GLsizei>(scene_window_->height() * ratio));
    // Depth is cleared too: every figure lies in one plane, and depth left
    // from the last frame would hide this frame's figures.
    gl->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    camera_.updateMatrices();
    tx710::SceneFigures figures;
    figures.points = LidarGLFunction::instance()->playFlag();
    const bool colour_flag = SerialData::instance()->colorFlag();
    // Buffers are filled when the rounds change, not on every frame.
    if (figures.points && (arrays_dirty_ || colour_flag != drawn_colour_flag_)) {
        shown_.drawArrays(colour_flag, points_, colors_);
        renderer_.setPoints(points_, colors_);
        drawn_colour_flag_ = colour_flag;
        arrays_dirty_ = false;
    }
    figures.hover = figures.points && mouse_in_view_;
    if (figures.hover)
        figures.hover_end = QVector2D(hoverPoint().x, hoverPoint().y);
    if (measure_.active())
        figures.measure = &measure_.ends();
    currentGridSpacing();
    renderer_.draw(camera_, figures);
    if (measure_.complete())
        placeOverlays(); // the figures follow the line through zoom and pan
    compositor_.draw(scene_window_->size(), ratio);
}
