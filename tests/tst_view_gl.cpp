// The point-cloud view drawn for real (Mesa under Xvfb) and read back.
#include <QCursor>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QtTest>

#include <cmath>
#include <functional>

#include "SerialPort/frame_protocol.h"
#include "SerialPort/serial_data.h"
#include "app/logo_widget.h"
#include "panels/show_data_widget.h"
#include "view/lidar_gl_function.h"
#include "view/lidar_gl_widget.h"

namespace {

constexpr int kWidth = 1000;
constexpr int kHeight = 800;
const double kTanHalfFov = std::tan(22.5 * M_PI / 180.0);

// Reaches the decoder's hover state, which only the view and the decoder touch.
struct DecoderProbe : SerialData {
    static float hoverAngle() { return SerialData::instance()->*(&DecoderProbe::hover_angle_); }
    static void setHoverPoint(float x, float y) { SerialData::instance()->*(&DecoderProbe::hover_point_) = {x, y}; }
};

class ProbeView : public LidarGLWidget
{
public:
    int paints = 0;
    int initialisations = 0;
    QString font_path;

    void callResizeGL(int w, int h)
    {
        makeCurrent();
        resizeGL(w, h);
        doneCurrent();
    }

protected:
    void initializeGL() override
    {
        ++initialisations;
        LidarGLWidget::initializeGL();
    }
    void paintGL() override
    {
        ++paints;
        LidarGLWidget::paintGL();
    }
    QString fontFilePath() const override
    {
        return font_path.isEmpty() ? LidarGLWidget::fontFilePath() : font_path;
    }
};

// Screen pixel of a world point for the view's camera (square pixels, 45 degree field).
QPointF toScreen(const ProbeView& view, double x, double y)
{
    const double k = view.height() / (2.0 * view.cameraDistance() * kTanHalfFov);
    const QPointF pan = view.panOffset();
    return QPointF(view.width() / 2.0 + (x - pan.x()) * k, view.height() / 2.0 - (y - pan.y()) * k);
}

bool colourMatches(const QColor& c, const QColor& want, int tolerance = 40)
{
    return std::abs(c.red() - want.red()) <= tolerance && std::abs(c.green() - want.green()) <= tolerance
        && std::abs(c.blue() - want.blue()) <= tolerance;
}

// True when a pixel of the colour lies within `radius` pixels of p.
bool colourNear(const QImage& image, QPointF p, const QColor& want, int radius = 2)
{
    const int cx = qRound(p.x());
    const int cy = qRound(p.y());
    for (int y = cy - radius; y <= cy + radius; ++y)
        for (int x = cx - radius; x <= cx + radius; ++x)
            if (image.valid(x, y) && colourMatches(image.pixelColor(x, y), want))
                return true;
    return false;
}

int countPixels(const QImage& image, const std::function<bool(const QColor&)>& wanted, QRect area = QRect())
{
    if (area.isNull())
        area = image.rect();
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (image.valid(x, y) && wanted(image.pixelColor(x, y)))
                ++count;
    return count;
}

bool isGreen(const QColor& c)
{
    return c.green() > 120 && c.red() < 80 && c.blue() < 80;
}
bool isYellow(const QColor& c)
{
    return colourMatches(c, QColor(255, 255, 0), 60);
}
bool isGrey(const QColor& c)
{
    return colourMatches(c, QColor(128, 128, 128), 20);
}

const QColor kWhite(255, 255, 255);
const QColor kYellow(255, 255, 0);
const QColor kCyan(0, 255, 255);
const QColor kBlack(0, 0, 0);

void parse(const tx710::ScanFrameFields& fields)
{
    const tx710::FrameBytes bytes = tx710::encodeFrame(fields);
    SerialData::instance()->parseFrame(QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size())));
}

tx710::ScanFrameFields frameAt(int start_centideg, int distance_mm, int intensity)
{
    tx710::ScanFrameFields f;
    f.speed = 3600;
    f.start_angle = static_cast<std::uint16_t>(start_centideg);
    f.end_angle = static_cast<std::uint16_t>(start_centideg + 400);
    for (auto& p : f.points) {
        p.distance = static_cast<std::uint16_t>(distance_mm);
        p.intensity = static_cast<std::uint8_t>(intensity);
    }
    return f;
}

const int kRoundIntensities[3] = {255, 220, 100};

// One complete round through the decoder: frames of 4 degrees every 10 degrees,
// at 250 mm, their intensities cycling through 255, 220, 100.
void feedRound()
{
    SerialData::instance()->setHoverAngle(-1.0f);
    parse(frameAt(35000, 250, 0));
    for (int k = 0; k < 35; ++k)
        parse(frameAt(k * 1000 + 200, 250, kRoundIntensities[k % 3]));
    parse(frameAt(100, 250, 0)); // start angle drops: the round is published
}

QMouseEvent mouseEvent(QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    return QMouseEvent(type, QPointF(pos), QPointF(pos), QPointF(pos), button, buttons, Qt::NoModifier);
}

void moveMouse(QWidget& w, QPoint pos, Qt::MouseButtons buttons = Qt::NoButton)
{
    QMouseEvent ev = mouseEvent(QEvent::MouseMove, pos, Qt::NoButton, buttons);
    QCoreApplication::sendEvent(&w, &ev);
}

void pressMouse(QWidget& w, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent ev = mouseEvent(QEvent::MouseButtonPress, pos, button, buttons);
    QCoreApplication::sendEvent(&w, &ev);
}

bool wheel(QWidget& w, int delta)
{
    const QPointF pos(kWidth / 2.0, kHeight / 2.0);
    QWheelEvent ev(pos, pos, QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(&w, &ev);
    return ev.isAccepted();
}

void setMouseInside(QWidget& w, bool inside)
{
    QEvent ev(inside ? QEvent::Enter : QEvent::Leave);
    QCoreApplication::sendEvent(&w, &ev);
}

} // namespace

class TestViewGl : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ProbeView> makeView()
    {
        auto view = std::make_unique<ProbeView>();
        view->setGeometry(0, 0, kWidth, kHeight);
        view->show();
        if (!QTest::qWaitForWindowExposed(view.get()))
            qWarning("view window not exposed");
        return view;
    }

    void clearRound()
    {
        SerialData::instance()->display_points_.clear();
        SerialData::instance()->display_colors_.clear();
    }

private slots:
    void init()
    {
        // Keep the real pointer away from the test windows.
        QCursor::setPos(1919, 1079);
        LidarGLFunction::instance()->setPlayFlag(true);
        SerialData::instance()->setColorFlag(false);
        clearRound();
    }
    void cleanup()
    {
        LidarGLFunction::instance()->setPlayFlag(true);
        SerialData::instance()->setColorFlag(false);
        SerialData::instance()->setHoverAngle(-1.0f);
        clearRound();
    }

    void knownRoundLandsInItsColours_data()
    {
        QTest::addColumn<bool>("colour_map");
        QTest::newRow("colour map on") << true;
        QTest::newRow("colour map off") << false;
    }
    void knownRoundLandsInItsColours()
    {
        QFETCH(bool, colour_map);
        SerialData::instance()->setColorFlag(colour_map);
        feedRound();
        QCOMPARE(SerialData::instance()->display_points_.size(), std::size_t(35 * 12));
        auto view = makeView();
        const QImage image = view->grabFramebuffer();
        for (int k = 0; k < 35; ++k) {
            // Middle point of frame k.
            const double angle = (k * 1000 + 200) / 100.0 + 5 * 4.0 / 11.0;
            const double a = angle * M_PI / 180.0;
            const QPointF p = toScreen(*view, -0.25 * std::sin(a), -0.25 * std::cos(a));
            // Frame 0 lies below the previous frame's start angle, so it joins
            // the round as a next-round point: white whatever its intensity.
            QColor want = kWhite;
            if (k == 0)
                want = kWhite;
            else if (colour_map && kRoundIntensities[k % 3] == 255)
                want = kCyan;
            else if (colour_map && kRoundIntensities[k % 3] == 220)
                want = kYellow;
            QVERIFY2(colourNear(image, p, want, 1),
                     qPrintable(QStringLiteral("frame %1 at (%2, %3)").arg(k).arg(p.x()).arg(p.y())));
            for (const QColor& other : {kWhite, kYellow, kCyan})
                if (other != want)
                    QVERIFY2(!colourNear(image, p, other, 1), qPrintable(QStringLiteral("frame %1").arg(k)));
        }
        // Between two frames' sectors: background.
        const double gap = 7.5 * M_PI / 180.0;
        QVERIFY(colourNear(image, toScreen(*view, -0.25 * std::sin(gap), -0.25 * std::cos(gap)), kBlack, 0));
    }

    void pausedShowsGridOnly()
    {
        SerialData* data = SerialData::instance();
        data->display_points_ = {QVector3D(0.15f, -0.15f, 0), QVector3D(-0.25f, 0.05f, 0)};
        data->display_colors_ = {QVector3D(1, 1, 1), QVector3D(0, 1, 1)};
        DecoderProbe::setHoverPoint(-0.3f, -0.3f);
        auto view = makeView();
        setMouseInside(*view, true);
        QImage image = view->grabFramebuffer();
        QVERIFY(colourNear(image, toScreen(*view, 0.15, -0.15), kWhite));
        QVERIFY(colourNear(image, toScreen(*view, -0.25, 0.05), kCyan));

        LidarGLFunction::instance()->setPlayFlag(false);
        image = view->grabFramebuffer();
        QVERIFY(!colourNear(image, toScreen(*view, 0.15, -0.15), kWhite));
        QVERIFY(!colourNear(image, toScreen(*view, -0.25, 0.05), kCyan));
        QCOMPARE(countPixels(image, isYellow), 0);
        QVERIFY(countPixels(image, isGrey) > 1000);
        // Ring of 0.2 m straight to the left is still drawn.
        QVERIFY(colourNear(image, toScreen(*view, -0.2, 0.001), QColor(128, 128, 128)));

        // Playing again: the points are back with the next frame.
        LidarGLFunction::instance()->setPlayFlag(true);
        QVERIFY(colourNear(view->grabFramebuffer(), toScreen(*view, 0.15, -0.15), kWhite));
        // An empty round draws the grid only, not the previous round's buffer.
        clearRound();
        image = view->grabFramebuffer();
        QVERIFY(!colourNear(image, toScreen(*view, 0.15, -0.15), kWhite));
        QVERIFY(!colourNear(image, toScreen(*view, -0.25, 0.05), kCyan));
    }

    void hoverAngleFollowsCursor()
    {
        auto view = makeView();
        view->grabFramebuffer(); // the camera of the first frame
        const int cx = kWidth / 2;
        const int cy = kHeight / 2;
        moveMouse(*view, QPoint(cx, 100));
        QCOMPARE(DecoderProbe::hoverAngle(), 180.0f);
        moveMouse(*view, QPoint(100, cy));
        QCOMPARE(DecoderProbe::hoverAngle(), 90.0f);
        moveMouse(*view, QPoint(900, cy));
        QCOMPARE(DecoderProbe::hoverAngle(), 270.0f);
        moveMouse(*view, QPoint(cx, 700));
        const float below = DecoderProbe::hoverAngle();
        QVERIFY2(below > 359.9f && below <= 360.0f, qPrintable(QString::number(below)));
        moveMouse(*view, QPoint(cx - 1, 700));
        const float below_left = DecoderProbe::hoverAngle();
        QVERIFY2(below_left > 0.0f && below_left < 1.0f, qPrintable(QString::number(below_left)));
        // Diagonals keep the clockwise convention: up-left 135, down-right 315.
        moveMouse(*view, QPoint(cx - 200, cy - 200));
        QVERIFY(std::fabs(DecoderProbe::hoverAngle() - 135.0f) < 0.01f);
        moveMouse(*view, QPoint(cx + 200, cy + 200));
        QVERIFY(std::fabs(DecoderProbe::hoverAngle() - 315.0f) < 0.01f);
        // Exactly above the centre: no angle, the last one stays.
        SerialData::instance()->setHoverAngle(42.0f);
        moveMouse(*view, QPoint(cx, cy));
        QCOMPARE(DecoderProbe::hoverAngle(), 42.0f);
    }

    void wheelZoomClampsAndRepaints()
    {
        auto view = makeView();
        view->grabFramebuffer();
        QCOMPARE(view->zoomIndex(), 0);
        QCOMPARE(view->cameraDistance(), 1.0f);

        int paints = view->paints;
        QVERIFY(!wheel(*view, 120)); // in, already at the nearest step
        QCOMPARE(view->zoomIndex(), 0);
        QCOMPARE(view->cameraDistance(), 1.0f);
        QTRY_VERIFY(view->paints > paints);

        const float heights[] = {1, 2, 3, 4, 5, 10, 20, 30, 50};
        for (int step = 1; step <= 8; ++step) {
            wheel(*view, -120);
            QCOMPARE(view->zoomIndex(), step);
            QCOMPARE(view->cameraDistance(), heights[step]);
        }
        paints = view->paints;
        wheel(*view, -120);
        QCOMPARE(view->zoomIndex(), 8);
        QCOMPARE(view->cameraDistance(), 50.0f);
        QTRY_VERIFY(view->paints > paints);

        wheel(*view, 120);
        QCOMPARE(view->zoomIndex(), 7);
        wheel(*view, 0); // no delta counts as zooming out
        QCOMPARE(view->zoomIndex(), 8);
        wheel(*view, 1);
        QCOMPARE(view->zoomIndex(), 7);
    }

    void hubZoomWaitsForNextRepaint()
    {
        auto view = makeView();
        view->grabFramebuffer();
        QCoreApplication::processEvents();
        const int paints = view->paints;
        LidarGLFunction::instance()->emitZoomOut();
        QCOMPARE(view->zoomIndex(), 1);
        QCOMPARE(view->cameraDistance(), 2.0f);
        LidarGLFunction::instance()->emitZoomIn();
        LidarGLFunction::instance()->emitZoomIn();
        QCOMPARE(view->zoomIndex(), 0);
        QCOMPARE(view->cameraDistance(), 1.0f);
        QTest::qWait(200);
        QCOMPARE(view->paints, paints);
    }

    void dragPansWithLeftOrMiddleAlone_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("buttons");
        QTest::addColumn<bool>("pans");
        QTest::newRow("left") << int(Qt::LeftButton) << int(Qt::LeftButton) << true;
        QTest::newRow("middle") << int(Qt::MiddleButton) << int(Qt::MiddleButton) << true;
        QTest::newRow("right") << int(Qt::RightButton) << int(Qt::RightButton) << false;
        QTest::newRow("left and right") << int(Qt::LeftButton) << int(Qt::LeftButton | Qt::RightButton) << false;
    }
    void dragPansWithLeftOrMiddleAlone()
    {
        QFETCH(int, button);
        QFETCH(int, buttons);
        QFETCH(bool, pans);
        SerialData* data = SerialData::instance();
        data->display_points_ = {QVector3D(0.15f, -0.05f, 0)};
        data->display_colors_ = {QVector3D(0, 1, 1)};
        auto view = makeView();
        const QPointF before = toScreen(*view, 0.15, -0.05);
        QVERIFY(colourNear(view->grabFramebuffer(), before, kCyan));

        const auto mb = static_cast<Qt::MouseButton>(button);
        const Qt::MouseButtons held(buttons);
        SerialData::instance()->setHoverAngle(-1.0f);
        pressMouse(*view, QPoint(400, 300), mb, held);
        moveMouse(*view, QPoint(500, 350), held); // 100 right, 50 down
        QVERIFY(DecoderProbe::hoverAngle() >= 0.0f); // hover still follows

        const QImage image = view->grabFramebuffer();
        if (pans) {
            QVERIFY(std::fabs(view->panOffset().x() + 0.1) < 1e-6);
            QVERIFY(std::fabs(view->panOffset().y() - 0.05) < 1e-6);
            // The scene follows the cursor: 1 mm per pixel at 1 m height.
            const QPointF after = toScreen(*view, 0.15, -0.05);
            QVERIFY(std::fabs(after.x() - before.x() - 100) < 5 && std::fabs(after.y() - before.y() - 50) < 3);
            QVERIFY(colourNear(image, after, kCyan));
            QVERIFY(!colourNear(image, before, kCyan));
            // A second step continues from the last position.
            moveMouse(*view, QPoint(510, 350), held);
            QVERIFY(std::fabs(view->panOffset().x() + 0.11) < 1e-6);
        } else {
            QCOMPARE(view->panOffset(), QPointF(0, 0));
            QVERIFY(colourNear(image, before, kCyan));
        }
    }

    void originReturnsAboveCentreKeepingZoom()
    {
        auto view = makeView();
        view->grabFramebuffer();
        wheel(*view, -120);
        pressMouse(*view, QPoint(400, 300), Qt::LeftButton, Qt::LeftButton);
        moveMouse(*view, QPoint(450, 320), Qt::LeftButton);
        QVERIFY(view->panOffset() != QPointF(0, 0));
        const int paints = view->paints;
        LidarGLFunction::instance()->emitOriginView();
        QCOMPARE(view->panOffset(), QPointF(0, 0));
        QCOMPARE(view->zoomIndex(), 1);
        QCOMPARE(view->cameraDistance(), 2.0f);
        QTRY_VERIFY(view->paints > paints);
    }

    void ringsAndLabelsPerZoomStep()
    {
        auto view = makeView();
        const bool labels = view->grabFramebuffer().isNull() == false && view->glyphCount() > 0;
        const float spacings[] = {0.1f, 0.25f, 0.5f, 0.8f, 1, 2, 2.5f, 4, 5};
        for (int step = 0; step <= 8; ++step) {
            const QImage image = view->grabFramebuffer();
            const float s = spacings[step];
            const double h = view->cameraDistance();
            const double k = kHeight / (2.0 * h * kTanHalfFov);
            // Rings crossed by the 45 degree ray, up to near the window's edge.
            const double end_px = (kHeight / 2.0 - 5) * std::sqrt(2.0);
            int expected = 0;
            for (int i = 1; i * s <= 20.0f + 1e-4f; ++i)
                if (i * s * k < end_px)
                    ++expected;
            int runs = 0;
            bool in_run = false;
            for (double r = s * k / 2; r < end_px; r += 0.5) {
                const QPointF p(kWidth / 2.0 + r / std::sqrt(2.0), kHeight / 2.0 - r / std::sqrt(2.0));
                const bool grey = colourNear(image, p, QColor(128, 128, 128), 1);
                if (grey && !in_run)
                    ++runs;
                in_run = grey;
            }
            QVERIFY2(runs == expected, qPrintable(QStringLiteral("step %1: %2 rings, expected %3")
                                                      .arg(step).arg(runs).arg(expected)));
            // The read-out panel shows this step's spacing.
            QCOMPARE(view->findChild<QLabel*>("spacing_label")->text(), QString::number(s, 'g', 6));

            if (labels) {
                // A green label just right of each ring on the +x axis, none on the -x side.
                for (int i = 1; i * s <= 20.0f + 1e-4f; ++i) {
                    const QPointF p = toScreen(*view, i * s, 0);
                    if (p.x() + 40 > kWidth)
                        break;
                    const QRect area(qRound(p.x()), qRound(p.y()) - 24, 30, 26);
                    QVERIFY2(countPixels(image, isGreen, area) > 10,
                             qPrintable(QStringLiteral("step %1 label %2").arg(step).arg(i)));
                }
                QCOMPARE(countPixels(image, isGreen, QRect(0, 0, kWidth / 2 - 5, kHeight)), 0);
            } else {
                QCOMPARE(countPixels(image, isGreen), 0);
            }
            wheel(*view, -120);
        }
        if (!labels)
            QSKIP("label font unreadable beside the test binary: rings checked, labels not");
    }

    void missingFontLeavesViewWorking()
    {
        QStringList log;
        static QStringList* sink = nullptr;
        sink = &log;
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& message) { sink->append(message); });
        ProbeView view;
        view.font_path = QDir::tempPath() + QStringLiteral("/tx710-no-such-font.otf");
        view.setGeometry(0, 0, kWidth, kHeight);
        SerialData::instance()->display_points_ = {QVector3D(0.15f, -0.15f, 0)};
        SerialData::instance()->display_colors_ = {QVector3D(1, 1, 0)};
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const QImage image = view.grabFramebuffer();
        qInstallMessageHandler(previous);

        QCOMPARE(view.glyphCount(), 0);
        const QString joined = log.join('\n');
        QVERIFY2(joined.contains("FT_New_Face error"), qPrintable(joined));
        QVERIFY(!joined.contains("FT_New_Face error 0"));
        QVERIFY(!joined.contains("FT_Set_Char_Size"));
        QCOMPARE(countPixels(image, isGreen), 0);
        QVERIFY(colourNear(image, toScreen(view, 0.15, -0.15), kYellow));
        QVERIFY(countPixels(image, isGrey) > 1000);
    }

    void hoverLineOnlyWhilePlayingWithMouseInside()
    {
        DecoderProbe::setHoverPoint(0.3f, -0.2f);
        auto view = makeView();
        const QPointF middle = toScreen(*view, 0.15, -0.1);
        QCOMPARE(countPixels(view->grabFramebuffer(), isYellow), 0); // mouse outside

        setMouseInside(*view, true);
        QVERIFY(view->mouseInView());
        QImage image = view->grabFramebuffer();
        QVERIFY(colourNear(image, middle, kYellow));
        QVERIFY(colourNear(image, toScreen(*view, 0.27, -0.18), kYellow));
        QVERIFY(!colourNear(image, toScreen(*view, -0.15, 0.1), kYellow)); // not through the centre

        LidarGLFunction::instance()->setPlayFlag(false);
        QCOMPARE(countPixels(view->grabFramebuffer(), isYellow), 0);
        LidarGLFunction::instance()->setPlayFlag(true);

        setMouseInside(*view, false);
        QVERIFY(!view->mouseInView());
        QCOMPARE(countPixels(view->grabFramebuffer(), isYellow), 0);
    }

    void overlaysKeepTheirCornersOnResize()
    {
        auto view = makeView();
        auto* panel = view->findChild<ShowDataWidget*>();
        auto* logo = view->findChild<LogoWidget*>();
        QVERIFY(panel && logo);
        const QSize panel_size = panel->size();
        const QSize logo_size = logo->size();
        for (const QSize size : {QSize(800, 600), QSize(1200, 700), QSize(640, 900)}) {
            view->resize(size);
            QCoreApplication::processEvents();
            QCOMPARE(view->size(), size);
            QCOMPARE(panel->pos(), QPoint(0, 0));
            QCOMPARE(panel->size(), panel_size);
            QCOMPARE(logo->size(), logo_size);
            QCOMPARE(logo->geometry().bottomRight(), QPoint(size.width() - 1, size.height() - 1));
            QVERIFY(panel->isVisible() && logo->isVisible());
        }
        view->callResizeGL(300, 0);
        QCOMPARE(view->aspect(), 300.0f);
        view->callResizeGL(1000, 800);
        QCOMPARE(view->aspect(), 1.25f);
    }

    void readoutPanelFollowsTheView()
    {
        ProbeView view;
        view.setGeometry(0, 0, kWidth, kHeight);
        auto* panel = view.findChild<ShowDataWidget*>();
        auto* spacing = view.findChild<QLabel*>("spacing_label");
        auto* angle = view.findChild<QLabel*>("angle_label");
        QVERIFY(panel && spacing && angle);
        QCOMPARE(spacing->text(), QStringLiteral("2")); // until the first frame
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.grabFramebuffer();
        QCOMPARE(spacing->text(), QStringLiteral("0.1"));
        view.zoomOut();
        view.grabFramebuffer();
        QCOMPARE(spacing->text(), QStringLiteral("0.25"));

        ShowData data;
        data.angle = 90.0f;
        data.distance = 1520.0f;
        setMouseInside(view, true);
        panel->showData(data);
        QCOMPARE(angle->text(), QStringLiteral("90.00°"));
        setMouseInside(view, false);
        panel->showData(data);
        QCOMPARE(angle->text(), QStringLiteral("--"));
    }

    void batchedDrawingMatchesFigureByFigure_data()
    {
        QTest::addColumn<int>("zoom_outs");
        QTest::newRow("step 0") << 0;
        QTest::newRow("step 3") << 3;
        QTest::newRow("step 8") << 8;
    }
    void batchedDrawingMatchesFigureByFigure()
    {
        QFETCH(int, zoom_outs);
        feedRound();
        SerialData::instance()->setColorFlag(true);
        DecoderProbe::setHoverPoint(0.2f, 0.3f);
        auto view = makeView();
        setMouseInside(*view, true);
        for (int i = 0; i < zoom_outs; ++i)
            view->zoomOut();
        view->setBufferedDrawing(false);
        const QImage immediate = view->grabFramebuffer();
        view->setBufferedDrawing(true);
        const QImage batched = view->grabFramebuffer();
        QCOMPARE(batched.size(), immediate.size());
        int differing = 0;
        for (int y = 0; y < batched.height(); ++y)
            for (int x = 0; x < batched.width(); ++x)
                if (batched.pixel(x, y) != immediate.pixel(x, y))
                    ++differing;
        QCOMPARE(differing, 0);
        QVERIFY(countPixels(batched, isGrey) > 500); // something was drawn at all
    }

    void newContextAfterReparentingDrawsAgain()
    {
        SerialData::instance()->display_points_ = {QVector3D(0.15f, -0.15f, 0)};
        SerialData::instance()->display_colors_ = {QVector3D(0, 1, 1)};
        auto owned = makeView();
        owned->grabFramebuffer();
        QCOMPARE(owned->initialisations, 1);
        const int glyphs = owned->glyphCount();

        // A new top-level window means a new context: the old objects are
        // freed with the old context and made again in the new one.
        QWidget host;
        host.setGeometry(0, 0, kWidth, kHeight);
        ProbeView* view = owned.release();
        view->setParent(&host);
        view->setGeometry(0, 0, kWidth, kHeight);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        const QImage image = view->grabFramebuffer();
        QCOMPARE(view->initialisations, 2);
        QCOMPARE(view->glyphCount(), glyphs);
        QVERIFY(colourNear(image, toScreen(*view, 0.15, -0.15), kCyan));
        QVERIFY(countPixels(image, isGrey) > 1000);
        if (glyphs > 0)
            QVERIFY(countPixels(image, isGreen) > 100);
    }

    void roundAfterViewIsGoneIsHarmless()
    {
        {
            auto view = makeView();
            view->grabFramebuffer();
        }
        feedRound(); // calls the round callback of the destroyed view
        QCOMPARE(SerialData::instance()->display_points_.size(), std::size_t(35 * 12));
    }
};

QTEST_MAIN(TestViewGl)
#include "tst_view_gl.moc"
