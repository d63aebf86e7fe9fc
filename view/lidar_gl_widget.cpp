#include "view/lidar_gl_widget.h"

#include <QChildEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLPaintDevice>
#include <QOpenGLShaderProgram>
#include <QOpenGLWindow>
#include <QPainter>
#include <QPointer>
#include <QTextCodec>
#include <QTimer>
#include <QVector4D>
#include <QWheelEvent>

#include <GL/gl.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>

#include "SerialPort/serial_data.h"
#include "app/log.h"
#include "app/logo_widget.h"
#include "panels/health_line.h"
#include "panels/notice_widget.h"
#include "panels/show_data_widget.h"
#include "view/lidar_gl_function.h"

namespace {

constexpr float kPi = 3.1415927f;
constexpr float kGridRadius = 20.0f;
constexpr int kRingVertexCount = 50;
constexpr float kRingAngleStep = 0.1256636f; // 2 pi / 50
constexpr float kSin60Radius = 17.320507f;   // 20 sin 60 degrees
constexpr int kGlyphPixelHeight = 64;
constexpr float kLabelScale = 0.3f;
constexpr int kQuadVertexCount = 6;
constexpr int kQuadFloats = kQuadVertexCount * 4;
constexpr GLsizeiptr kQuadBytes = kQuadFloats * sizeof(float); // 96

const QVector3D kGridColor(0.5f, 0.5f, 0.5f);
const QVector3D kHoverColor(1.0f, 1.0f, 0.0f);
const QVector3D kLabelColor(0.0f, 1.0f, 0.0f);

// One end of each diameter, every 30 degrees; the other end is its negation.
constexpr int kDiameterCount = 6;
const float kDiameterEnds[kDiameterCount][2] = {
    {0.0f, kGridRadius}, {10.0f, kSin60Radius},  {kSin60Radius, 10.0f},
    {kGridRadius, 0.0f}, {kSin60Radius, -10.0f}, {10.0f, -kSin60Radius},
};

// Label of the ring at radius v metres: its radius in millimetres.
std::string ringLabel(float radius)
{
    return QString::number(radius * 1000.0f, 'g', 6).toUtf8().toStdString();
}

// Half the camera's vertical field of view (45 degrees).
constexpr float kHalfFieldOfView = kPi / 8.0f;
// Figures this close to the edge are still drawn: line width, antialiasing.
constexpr float kCullMarginPixels = 4.0f;
// A ring label's width bound in glyph heights (at most six characters).
constexpr float kLabelBoundEms = 8.0f;

// How long the software-renderer note stays in the view.
constexpr int kRendererNoteMs = 15000;

const QVector3D kMeasureColor(1.0f, 0.35f, 1.0f);
// A click snaps to a drawn point this near, pixels.
constexpr float kSnapPixels = 8.0f;
// A press and release this near is a click, not a drag.
constexpr int kClickPixels = 4;
constexpr float kPickTolerance = 0.2f; // degrees, as the decoder picks
constexpr int kHealthIntervalMs = 1000;
constexpr float kLinkLostBrightness = 0.35f; // the last round while the link is down
constexpr int kOverlayMargin = 8;

// The decoder's last complete round, as the view draws it.
tx710::ShownRound liveRound()
{
    const SerialData* decoder = SerialData::instance();
    return tx710::ShownRound{decoder->display_points_, decoder->display_colors_, decoder->displayRecords()};
}

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

} // namespace

// The native GL window filling the view: it draws through the view's GL code
// and hands all mouse input to the view.
class SceneWindow : public QOpenGLWindow
{
public:
    explicit SceneWindow(LidarGLWidget* view) : view_(view) {}

protected:
    void initializeGL() override { view_->initializeGL(); }
    void resizeGL(int w, int h) override { view_->resizeGL(w, h); }
    void paintGL() override { view_->paintGL(); }
    bool event(QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::Enter:
        case QEvent::Leave:
        case QEvent::KeyPress:
            // Same origin as the view: the window fills it.
            return QCoreApplication::sendEvent(view_, event);
        default:
            return QOpenGLWindow::event(event);
        }
    }

private:
    LidarGLWidget* view_;
};

LidarGLWidget::LidarGLWidget(QWidget* parent) : QWidget(parent)
{
    scene_window_ = new SceneWindow(this);
    // Parented once known, so that it is not taken for an overlay.
    container_ = QWidget::createWindowContainer(scene_window_);
    container_->setParent(this);
    container_->setGeometry(rect());
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
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        label->hide();
    }

    zoom_levels_ = {1, 2, 3, 4, 5, 10, 20, 30, 50};
    grid_spacings_ = {0.1f, 0.25f, 0.5f, 0.8f, 1, 2, 2.5f, 4, 5};

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
    if (!gl_ready_)
        return;
    makeCurrent();
    delete program_;
    program_ = nullptr;
    delete paint_device_;
    paint_device_ = nullptr;
    overlay_images_.clear(); // their textures in the painter's cache go now too
    const GLuint arrays[] = {point_vao_, text_vao_};
    glDeleteVertexArrays(2, arrays);
    const GLuint buffers[] = {point_vbo_, color_vbo_, text_vbo_};
    glDeleteBuffers(3, buffers);
    point_vao_ = text_vao_ = 0;
    point_vbo_ = color_vbo_ = text_vbo_ = 0;
    arrays_dirty_ = true; // new buffers must be filled
    for (const auto& entry : glyphs_) {
        if (entry.second.texture != 0)
            glDeleteTextures(1, &entry.second.texture);
    }
    glyphs_.clear();
    gl_ready_ = false;
    doneCurrent();
}

void LidarGLWidget::originView()
{
    pan_ = QVector2D(0.0f, 0.0f);
    model_.setToIdentity();
    scheduleFrame();
}

void LidarGLWidget::zoomIn()
{
    zoom_index_ = std::max(zoom_index_ - 1, 0);
    camera_distance_ = zoom_levels_.at(static_cast<std::size_t>(zoom_index_));
}

void LidarGLWidget::zoomOut()
{
    zoom_index_ = std::min(zoom_index_ + 1, static_cast<int>(zoom_levels_.size()) - 1);
    camera_distance_ = zoom_levels_.at(static_cast<std::size_t>(zoom_index_));
}

float LidarGLWidget::currentGridSpacing()
{
    grid_spacing_ = grid_spacings_.at(static_cast<std::size_t>(zoom_index_));
    show_data_widget_->setSpacing(grid_spacing_);
    return grid_spacing_;
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
    if (measure_mode_ && event->button() == Qt::LeftButton
        && (event->pos() - press_pixel_).manhattanLength() <= kClickPixels)
        addMeasureEnd(event->localPos());
}

void LidarGLWidget::mouseMoveEvent(QMouseEvent* event)
{
    const int px = static_cast<int>(std::lround(event->localPos().x()));
    const int py = static_cast<int>(std::lround(event->localPos().y()));
    updateHoverAngle(px, py);
    if (!panButtons(event->buttons()))
        return;
    const int dx = px - last_mouse_x_;
    const int dy = last_mouse_y_ - py; // screen y grows downward
    last_mouse_x_ = px;
    last_mouse_y_ = py;
    const float step = pan_factor_ * camera_distance_;
    pan_ -= QVector2D(static_cast<float>(dx) * step, static_cast<float>(dy) * step);
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
    float angle;
    if (wy >= 0.0f)
        angle = 180.0f + a;
    else if (wx < 0.0f)
        angle = a;
    else
        angle = 360.0f + a;
    SerialData::instance()->setHoverAngle(angle);
    if (showsStaticRound())
        pickStaticPoint();
}

QVector2D LidarGLWidget::scenePosition(const QPointF& pixel) const
{
    const float w = static_cast<float>(std::max(width(), 1));
    const float h = static_cast<float>(std::max(height(), 1));
    const float ndc_x = 2.0f * static_cast<float>(pixel.x()) / w - 1.0f;
    const float ndc_y = 1.0f - 2.0f * static_cast<float>(pixel.y()) / h;
    const QVector4D eye_ray = projection_.inverted() * QVector4D(ndc_x, ndc_y, -1.0f, 1.0f);
    const QVector4D ray = view_.inverted() * QVector4D(eye_ray.x(), eye_ray.y(), -1.0f, 0.0f);
    return QVector2D(pan_.x() + camera_distance_ * ray.x(), pan_.y() + camera_distance_ * ray.y());
}

QPointF LidarGLWidget::pixelPosition(const QVector2D& scene) const
{
    const QVector4D clip = projection_ * view_ * QVector4D(scene.x(), scene.y(), 0.0f, 1.0f);
    if (clip.w() == 0.0f)
        return QPointF();
    const float ndc_x = clip.x() / clip.w();
    const float ndc_y = clip.y() / clip.w();
    return QPointF((ndc_x + 1.0f) * 0.5f * static_cast<float>(width()),
                   (1.0f - ndc_y) * 0.5f * static_cast<float>(height()));
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
    const float angle = SerialData::instance()->hoverAngle();
    const int index = shown_.pick(angle, kPickTolerance);
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

void LidarGLWidget::setLinkLost(const QString& text)
{
    if (text.isEmpty() != link_lost_.isEmpty())
        arrays_dirty_ = true;
    link_lost_ = text;
    sampleHealth();
    scheduleFrame();
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
    else if (!link_lost_.isEmpty())
        health_line_->showWarning(link_lost_);
    else
        health_line_->showHealth(health_monitor_.health());
    placeOverlays();
}

void LidarGLWidget::setMeasureMode(bool on)
{
    measure_mode_ = on;
    if (!on)
        measure_ends_.clear();
    updateMeasureLabel();
    scheduleFrame();
}

void LidarGLWidget::clearMeasure()
{
    measure_ends_.clear();
    updateMeasureLabel();
    scheduleFrame();
}

void LidarGLWidget::addMeasureEnd(const QPointF& pixel)
{
    if (measure_ends_.size() >= 2)
        measure_ends_.clear();
    QVector2D end = scenePosition(pixel);
    float nearest = kSnapPixels;
    // Paused, no point is drawn to snap to.
    const std::size_t drawn = LidarGLFunction::instance()->playFlag() ? points_.size() : 0;
    for (std::size_t i = 0; i < drawn; ++i) {
        const QVector3D& point = points_[i];
        const QVector2D scene(point.x(), point.y());
        const QPointF offset = pixelPosition(scene) - pixel;
        const float gap = static_cast<float>(std::hypot(offset.x(), offset.y()));
        if (gap <= nearest) {
            nearest = gap;
            end = scene;
        }
    }
    measure_ends_.push_back(end);
    updateMeasureLabel();
    scheduleFrame();
}

void LidarGLWidget::updateMeasureLabel()
{
    if (!measure_mode_) {
        measure_label_->hide();
        return;
    }
    if (measure_ends_.size() < 2) {
        measure_label_->setText(measure_ends_.empty() ? tr("Measure: click the first point (Esc clears)")
                                                      : tr("Measure: click the second point (Esc clears)"));
    } else {
        const QVector2D& from = measure_ends_[0];
        const QVector2D& to = measure_ends_[1];
        const double distance_mm = double((to - from).length()) * 1000.0;
        measure_label_->setText(tr("%1 mm   %2°").arg(distance_mm, 0, 'f', 0).arg(bearingDegrees(from, to), 0, 'f', 1));
    }
    measure_label_->adjustSize();
    measure_label_->show();
    placeOverlays();
}

void LidarGLWidget::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && !measure_ends_.empty()) {
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
    placeOverlays();
    QWidget::resizeEvent(event);
}

void LidarGLWidget::childEvent(QChildEvent* event)
{
    if (event->removed()) {
        // The child may be half destroyed already: only its address is compared.
        const auto image = std::find_if(overlay_images_.begin(), overlay_images_.end(), [event](const auto& entry) {
            return static_cast<QObject*>(entry.first) == event->child();
        });
        if (image != overlay_images_.end()) {
            overlay_images_.erase(image);
            scheduleFrame();
        }
    } else if (event->added()) {
        auto* child = qobject_cast<QWidget*>(event->child());
        if (child != nullptr && child != container_) {
            watchOverlay(child);
            scheduleFrame();
        }
    }
    QWidget::childEvent(event);
}

void LidarGLWidget::watchOverlay(QObject* object)
{
    object->installEventFilter(this);
    for (QObject* child : object->children())
        watchOverlay(child);
}

QWidget* LidarGLWidget::overlayOf(QObject* object) const
{
    while (object != nullptr && object->parent() != this)
        object = object->parent();
    return static_cast<QWidget*>(object);
}

bool LidarGLWidget::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::ChildAdded:
        watchOverlay(static_cast<QChildEvent*>(event)->child());
        break;
    case QEvent::Paint:
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::ChildRemoved:
        // The overlay's own rendering into its image sends these too.
        if (rendering_overlays_)
            break;
        if (QWidget* overlay = overlayOf(watched))
            overlay_images_.erase(overlay);
        scheduleFrame();
        // On screen the GL window hides the overlay: its paint is only a sign of change.
        if (event->type() == QEvent::Paint)
            return true;
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void LidarGLWidget::drawOverlays()
{
    const qreal ratio = scene_window_->devicePixelRatio();
    QList<QWidget*> shown;
    rendering_overlays_ = true;
    for (QObject* child : children()) { // bottom to top
        auto* overlay = qobject_cast<QWidget*>(child);
        if (overlay == nullptr || overlay == container_ || overlay->isHidden())
            continue;
        shown.append(overlay);
        QImage& image = overlay_images_[overlay];
        if (!image.isNull())
            continue;
        image = QImage(overlay->size() * ratio, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::transparent);
        // Its background only where the widget fills it on screen too.
        overlay->render(&image, QPoint(), QRegion(),
                        overlay->autoFillBackground() ? DrawWindowBackground | DrawChildren : DrawChildren);
    }
    rendering_overlays_ = false;
    if (shown.isEmpty())
        return;
    paint_device_->setSize(scene_window_->size() * ratio);
    paint_device_->setDevicePixelRatio(ratio);
    QPainter painter(paint_device_);
    for (QWidget* overlay : shown)
        painter.drawImage(overlay->pos(), overlay_images_[overlay]);
}

void LidarGLWidget::placeOverlays()
{
    show_data_widget_->move(0, 0);
    show_data_widget_->raise();
    logo_widget_->move(width() - logo_widget_->width(), height() - logo_widget_->height());
    logo_widget_->raise();
    health_line_->move(0, height() - health_line_->height());
    health_line_->raise();
    // Above the health line, which stays visible.
    notice_widget_->move(0, health_line_->y() - notice_widget_->height());
    notice_widget_->raise();
    hold_label_->adjustSize();
    hold_label_->move(width() - hold_label_->width() - kOverlayMargin, kOverlayMargin);
    hold_label_->raise();
    if (measure_ends_.size() == 2) {
        // Beside the line's middle, kept inside the view.
        const QPointF middle = (pixelPosition(measure_ends_[0]) + pixelPosition(measure_ends_[1])) / 2.0;
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
    if (!initializeOpenGLFunctions()) {
        TX_LOG << "OpenGL 4.1 functions unavailable; the view stays empty";
        return;
    }
    // Freed while the context is still alive, whoever destroys it first.
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &LidarGLWidget::cleanup, Qt::UniqueConnection);

    initGlyphs();
    paint_device_ = new QOpenGLPaintDevice;

    program_ = new QOpenGLShaderProgram(this);
    program_->addShaderFromSourceFile(QOpenGLShader::Vertex, QStringLiteral(":/Shader/lider.vert"));
    program_->addShaderFromSourceFile(QOpenGLShader::Fragment, QStringLiteral(":/Shader/lider.frag"));
    if (!program_->link())
        TX_LOG << "shader program link error" << program_->log();

    glGenVertexArrays(1, &point_vao_);
    glGenBuffers(1, &point_vbo_);
    glGenBuffers(1, &color_vbo_);
    glGenVertexArrays(1, &text_vao_);
    glGenBuffers(1, &text_vbo_);

    glBindVertexArray(text_vao_);
    glBindBuffer(GL_ARRAY_BUFFER, text_vbo_);
    glBufferData(GL_ARRAY_BUFFER, kQuadBytes, nullptr, GL_DYNAMIC_DRAW);
    glVertexAttribPointer(2, 4, GL_FLOAT, GL_FALSE, 4 * sizeof(float), nullptr);
    glEnableVertexAttribArray(2);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glBindVertexArray(0);

    matrix_location_ = program_->uniformLocation("matrix");
    model_location_ = program_->uniformLocation("model");
    view_location_ = program_->uniformLocation("view");
    projection_location_ = program_->uniformLocation("projection");
    gl_ready_ = true;
}

void LidarGLWidget::resizeGL(int w, int h)
{
    aspect_ = static_cast<float>(w) / static_cast<float>(h == 0 ? 1 : h);
    if (gl_ready_)
        glViewport(0, 0, w, h);
}

void LidarGLWidget::setCamera()
{
    matrix_.setToIdentity();
    model_.setToIdentity();
    view_.setToIdentity();
    projection_.setToIdentity();
    projection_.perspective(45.0f, aspect_, 0.01f, 1000.0f);
    eye_ = QVector3D(pan_.x(), pan_.y(), camera_distance_);
    center_ = QVector3D(pan_.x(), pan_.y(), 0.0f);
    up_ = QVector3D(0.0f, 1.0f, 0.0f);
    view_.lookAt(eye_, center_, up_);
    program_->setUniformValue(matrix_location_, matrix_);
    program_->setUniformValue(model_location_, model_);
    program_->setUniformValue(view_location_, view_);
    program_->setUniformValue(projection_location_, projection_);
}

void LidarGLWidget::paintGL()
{
    if (!gl_ready_) {
        QOpenGLFunctions* f = QOpenGLContext::currentContext()->functions();
        f->glClearColor(0, 0, 0, 0);
        f->glClear(GL_COLOR_BUFFER_BIT);
        return;
    }
    // Set each frame: the overlays' painter leaves its own state behind.
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    const qreal ratio = scene_window_->devicePixelRatio();
    glViewport(0, 0, static_cast<GLsizei>(scene_window_->width() * ratio),
               static_cast<GLsizei>(scene_window_->height() * ratio));
    glClearColor(0, 0, 0, 0);
    // Depth is cleared too: every figure lies in one plane, and depth left
    // from the last frame would hide this frame's figures.
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    program_->bind();
    setCamera();
    if (LidarGLFunction::instance()->playFlag())
        drawPoints();
    drawGrid();
    drawMeasure();
    program_->release();
    if (measure_ends_.size() == 2)
        placeOverlays(); // the figures follow the line through zoom and pan
    drawOverlays();
}

void LidarGLWidget::drawPoints()
{
    program_->setUniformValue("flag", 0);
    program_->setUniformValue("vertex_type", 0);
    glPointSize(3.0f);
    const bool colour_flag = SerialData::instance()->colorFlag();
    // Buffers are filled when the rounds change, not on every frame.
    if (arrays_dirty_ || colour_flag != drawn_colour_flag_) {
        shown_.drawArrays(colour_flag, points_, colors_);
        if (!link_lost_.isEmpty())
            for (QVector3D& colour : colors_)
                colour *= kLinkLostBrightness;
        drawn_colour_flag_ = colour_flag;
        arrays_dirty_ = false;
        drawn_count_ = std::min(points_.size(), colors_.size());
        glBindVertexArray(point_vao_);
        glBindBuffer(GL_ARRAY_BUFFER, point_vbo_);
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(points_.size() * sizeof(QVector3D)), points_.data(),
                     GL_DYNAMIC_DRAW);
        glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(QVector3D), nullptr);
        glEnableVertexAttribArray(0);
        glBindBuffer(GL_ARRAY_BUFFER, color_vbo_);
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(colors_.size() * sizeof(QVector3D)), colors_.data(),
                     GL_DYNAMIC_DRAW);
        glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, sizeof(QVector3D), nullptr);
        glEnableVertexAttribArray(1);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        glBindVertexArray(0);
    }
    if (drawn_count_ == 0)
        return;
    glBindVertexArray(point_vao_);
    glDrawArrays(GL_POINTS, 0, static_cast<GLsizei>(drawn_count_));
    glBindVertexArray(0);
}

void LidarGLWidget::drawMeasure()
{
    if (!measure_mode_ || measure_ends_.empty())
        return;
    program_->setUniformValue("flag", 1);
    program_->setUniformValue("vertex_type", 0);
    program_->setUniformValue("vertexColor", kMeasureColor);
    glPointSize(7.0f);
    ::glBegin(GL_POINTS);
    for (const QVector2D& end : measure_ends_)
        ::glVertex2f(end.x(), end.y());
    ::glEnd();
    if (measure_ends_.size() == 2) {
        ::glBegin(GL_LINES);
        ::glVertex2f(measure_ends_[0].x(), measure_ends_[0].y());
        ::glVertex2f(measure_ends_[1].x(), measure_ends_[1].y());
        ::glEnd();
    }
}

void LidarGLWidget::drawGrid()
{
    program_->setUniformValue("flag", 1);
    program_->setUniformValue("vertex_type", 0);
    const float spacing = currentGridSpacing();
    const float ring_limit = kGridRadius / spacing;
    drawLines(spacing, ring_limit);
    glFlush();
    if (glyphs_.empty())
        return; // no font, no labels
    const float scale = pan_factor_ * camera_distance_ * kLabelScale;
    const float em = static_cast<float>(kGlyphPixelHeight) * scale;
    const QRectF seen = visibleArea();
    for (int i = 1; static_cast<float>(i) <= ring_limit; ++i) {
        const float radius = static_cast<float>(i) * spacing;
        // A label never reaches beyond a few glyph heights from its pen.
        if (seen.intersects(QRectF(radius - em, -em, kLabelBoundEms * em, 2 * em)))
            renderText(ringLabel(radius), radius, 0.0f, scale, kLabelColor);
    }
}

QRectF LidarGLWidget::visibleArea() const
{
    const float half_height = camera_distance_ * std::tan(kHalfFieldOfView);
    const float half_width = half_height * aspect_;
    const float margin = 2.0f * half_height * kCullMarginPixels / static_cast<float>(std::max(height(), 1));
    return QRectF(pan_.x() - half_width - margin, pan_.y() - half_height - margin, 2 * (half_width + margin),
                  2 * (half_height + margin));
}

void LidarGLWidget::drawLines(float spacing, float ring_limit)
{
    // Each figure is one line loop, in drawing order: diameters, the hover
    // line, the rings (ring 0 collapses to the centre).
    const auto line = [](float x0, float y0, float x1, float y1) {
        ::glBegin(GL_LINE_LOOP);
        ::glVertex2f(x0, y0);
        ::glVertex2f(x1, y1);
        ::glEnd();
    };
    program_->setUniformValue("vertexColor", kGridColor);
    for (const auto& end : kDiameterEnds)
        line(end[0], end[1], -end[0], -end[1]);
    if (LidarGLFunction::instance()->playFlag() && mouse_in_view_) {
        const HoverPoint hover = hoverPoint();
        program_->setUniformValue("vertexColor", kHoverColor);
        line(0.0f, 0.0f, hover.x, hover.y);
        program_->setUniformValue("vertexColor", kGridColor);
    }
    // The rings that cross the visible area: nearer than its farthest corner
    // and farther than its nearest point.
    const QRectF seen = visibleArea();
    const float far_x = std::max(std::abs(seen.left()), std::abs(seen.right()));
    const float far_y = std::max(std::abs(seen.top()), std::abs(seen.bottom()));
    const float near_x = seen.left() > 0 ? seen.left() : seen.right() < 0 ? -seen.right() : 0.0f;
    const float near_y = seen.top() > 0 ? seen.top() : seen.bottom() < 0 ? -seen.bottom() : 0.0f;
    const float farthest = std::hypot(far_x, far_y);
    const float nearest = std::hypot(near_x, near_y);
    for (int i = 0; static_cast<float>(i) <= ring_limit; ++i) {
        const float radius = static_cast<float>(i) * spacing;
        if (radius > farthest || radius < nearest)
            continue;
        ::glBegin(GL_LINE_LOOP);
        for (int k = 0; k < kRingVertexCount; ++k) {
            const float a = static_cast<float>(k) * kRingAngleStep;
            ::glVertex2f(radius * std::cos(a), radius * std::sin(a));
        }
        ::glEnd();
    }
}

void LidarGLWidget::glyphQuad(const GlyphRecord& glyph, float x, float y, float scale, float* v) const
{
    const float xpos = x + glyph.bearing.x() * scale;
    const float ypos = y - (glyph.size.y() - glyph.bearing.y()) * scale;
    const float w = glyph.size.x() * scale;
    const float h = glyph.size.y() * scale;
    const float quad[kQuadFloats] = {
        xpos, ypos + h, 0, 0, xpos,     ypos, 0, 1, xpos + w, ypos,     1, 1,
        xpos, ypos + h, 0, 0, xpos + w, ypos, 1, 1, xpos + w, ypos + h, 1, 0,
    };
    std::copy(quad, quad + kQuadFloats, v);
}

void LidarGLWidget::renderText(std::string text, float x, float y, float scale, QVector3D color)
{
    glActiveTexture(GL_TEXTURE0);
    glBindVertexArray(text_vao_);
    program_->setUniformValue("flag", 1);
    program_->setUniformValue("vertexColor", color);
    program_->setUniformValue("vertex_type", 1);
    float quad[kQuadFloats];
    for (const char byte : text) {
        // A byte without a glyph (no font, or outside 0..127) draws nothing
        // and does not move the pen.
        const auto found = glyphs_.find(byte);
        if (found == glyphs_.end())
            continue;
        const GlyphRecord& glyph = found->second;
        glyphQuad(glyph, x, y, scale, quad);
        glBindTexture(GL_TEXTURE_2D, glyph.texture);
        glBindBuffer(GL_ARRAY_BUFFER, text_vbo_);
        glBufferSubData(GL_ARRAY_BUFFER, 0, kQuadBytes, quad);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        glDrawArrays(GL_TRIANGLES, 0, kQuadVertexCount);
        x += static_cast<float>(glyph.advance >> 6) * scale;
    }
    glBindVertexArray(0);
    glBindTexture(GL_TEXTURE_2D, 0);
}

void LidarGLWidget::initGlyphs()
{
    glyphs_.clear();
    FT_Library library = nullptr;
    const FT_Error init_error = FT_Init_FreeType(&library);
    TX_LOG << "FT_Init_FreeType error" << init_error;
    if (init_error != 0)
        return;

    QTextCodec* codec = QTextCodec::codecForName("GB2312");
    const QString path = fontFilePath();
    const QByteArray path_bytes = codec != nullptr ? codec->fromUnicode(path) : path.toLocal8Bit();
    FT_Face face = nullptr;
    const FT_Error face_error = FT_New_Face(library, path_bytes.constData(), 0, &face);
    TX_LOG << "FT_New_Face error" << face_error;
    if (face_error != 0) {
        // No face to work on: no glyphs, hence no labels; the view still works.
        FT_Done_FreeType(library);
        return;
    }
    const FT_Error size_error = FT_Set_Pixel_Sizes(face, 0, kGlyphPixelHeight);
    TX_LOG << "FT_Set_Char_Size error" << size_error;
    if (size_error != 0) {
        FT_Done_Face(face);
        FT_Done_FreeType(library);
        return;
    }

    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    for (int code = 0; code < 128; ++code) {
        if (FT_Load_Char(face, static_cast<FT_ULong>(code), FT_LOAD_RENDER) != 0) {
            TX_LOG << "ERROR::FREETYTPE: Failed to load Glyph";
            continue;
        }
        const FT_GlyphSlot slot = face->glyph;
        GLuint texture = 0;
        glGenTextures(1, &texture);
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RED, static_cast<GLsizei>(slot->bitmap.width),
                     static_cast<GLsizei>(slot->bitmap.rows), 0, GL_RED, GL_UNSIGNED_BYTE, slot->bitmap.buffer);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        GlyphRecord glyph;
        glyph.texture = texture;
        glyph.size = QVector2D(static_cast<float>(slot->bitmap.width), static_cast<float>(slot->bitmap.rows));
        glyph.bearing = QVector2D(static_cast<float>(slot->bitmap_left), static_cast<float>(slot->bitmap_top));
        glyph.advance = static_cast<quint32>(slot->advance.x);
        glyphs_.emplace(static_cast<char>(code), glyph);
    }
    glBindTexture(GL_TEXTURE_2D, 0);
    FT_Done_Face(face);
    FT_Done_FreeType(library);
}
