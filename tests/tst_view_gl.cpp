// The point-cloud view drawn for real (Mesa under Xvfb) and read back.
#include <QCursor>
#include <QLabel>
#include <QtTest>

#include <cmath>

#include "SerialPort/frame_protocol.h"
#include "SerialPort/serial_data.h"
#include "app/logo_widget.h"
#include "panels/show_data_widget.h"
#include "support/modal_watcher.h"
#include "view/lidar_gl_function.h"
#include "view/lidar_gl_widget.h"

namespace {

constexpr int kWidth = 1000, kHeight = 800;
const QColor kWhite(255, 255, 255), kYellow(255, 255, 0), kCyan(0, 255, 255), kGrey(128, 128, 128);
const int kRoundIntensities[3] = {255, 220, 100};

// Reaches the decoder's hover state, which only the view and the decoder touch.
struct DecoderProbe : SerialData {
    static float hoverAngle() { return instance()->*(&DecoderProbe::hover_angle_); }
    static void setHoverPoint(float x, float y) { instance()->*(&DecoderProbe::hover_point_) = {x, y}; }
};

class ProbeView : public LidarGLWidget
{
public:
    int paints = 0;
    QString font_path;
    void callResizeGL(int w, int h) { makeCurrent(); resizeGL(w, h); doneCurrent(); }

protected:
    void paintGL() override { ++paints; LidarGLWidget::paintGL(); }
    QString fontFilePath() const override { return font_path.isEmpty() ? LidarGLWidget::fontFilePath() : font_path; }
};

LidarGLFunction* hub() { return LidarGLFunction::instance(); }
SerialData* decoder() { return SerialData::instance(); }

// Screen pixel of a world point for the view's camera (square pixels, 45 degree field).
QPointF toScreen(const ProbeView& view, double x, double y)
{
    const double k = view.height() / (2.0 * view.cameraDistance() * std::tan(M_PI / 8));
    const QPointF pan = view.panOffset();
    return QPointF(view.width() / 2.0 + (x - pan.x()) * k, view.height() / 2.0 - (y - pan.y()) * k);
}

bool matches(const QColor& c, const QColor& want, int tolerance = 40)
{
    return std::max({std::abs(c.red() - want.red()), std::abs(c.green() - want.green()),
                     std::abs(c.blue() - want.blue())}) <= tolerance;
}
bool isGreen(const QColor& c) { return c.green() > 120 && c.red() < 80 && c.blue() < 80; }
bool isYellow(const QColor& c) { return matches(c, kYellow, 60); }
bool isGrey(const QColor& c) { return matches(c, kGrey, 20); }

// True when a pixel of the colour lies within `radius` pixels of p.
bool colourNear(const QImage& image, QPointF p, const QColor& want, int radius = 2)
{
    for (int y = qRound(p.y()) - radius; y <= qRound(p.y()) + radius; ++y)
        for (int x = qRound(p.x()) - radius; x <= qRound(p.x()) + radius; ++x)
            if (image.valid(x, y) && matches(image.pixelColor(x, y), want))
                return true;
    return false;
}

int countPixels(const QImage& image, bool (*wanted)(const QColor&), QRect area = QRect())
{
    area = area.isNull() ? image.rect() : area.intersected(image.rect());
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            count += wanted(image.pixelColor(x, y)) ? 1 : 0;
    return count;
}

// One complete round through the decoder: frames of 4 degrees every 10 degrees at 250 mm,
// intensities cycling through kRoundIntensities; the last frame's angle drop publishes it.
void feedRound()
{
    decoder()->setHoverAngle(-1.0f);
    for (int k = -1; k <= 35; ++k) {
        tx710::ScanFrameFields f;
        f.speed = 3600;
        f.start_angle = static_cast<std::uint16_t>(k < 0 ? 35000 : k == 35 ? 100 : k * 1000 + 200);
        f.end_angle = static_cast<std::uint16_t>(f.start_angle + 400);
        for (auto& p : f.points)
            p = {250, static_cast<std::uint8_t>(k < 0 || k == 35 ? 0 : kRoundIntensities[k % 3])};
        const tx710::FrameBytes bytes = tx710::encodeFrame(f);
        decoder()->parseFrame(QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size())));
    }
}

void setRound(std::vector<QVector3D> points, std::vector<QVector3D> colours)
{
    decoder()->display_points_ = std::move(points);
    decoder()->display_colors_ = std::move(colours);
}

void sendMouse(QWidget& w, QEvent::Type type, QPoint pos, Qt::MouseButtons held = {}, Qt::MouseButton button = {})
{
    QMouseEvent ev(type, pos, pos, pos, button, held, Qt::NoModifier);
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

std::unique_ptr<ProbeView> makeView(const QString& font_path = QString())
{
    auto view = std::make_unique<ProbeView>();
    view->font_path = font_path;
    view->setGeometry(0, 0, kWidth, kHeight);
    view->show();
    if (!QTest::qWaitForWindowExposed(view.get()))
        qWarning("view window not exposed");
    view->grabFramebuffer(); // the camera of the first frame
    return view;
}

} // namespace

class TestViewGl : public QObject
{
    Q_OBJECT

private slots:
    void init() { QCursor::setPos(1919, 1079); } // the real pointer stays away from the test windows
    void cleanup()
    {
        hub()->setPlayFlag(true);
        decoder()->setColorFlag(false);
        decoder()->setHoverAngle(-1.0f);
        setRound({}, {});
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
        decoder()->setColorFlag(colour_map);
        { ProbeView gone; } // the round below reaches the callback of a view that is gone
        feedRound();
        QCOMPARE(decoder()->display_points_.size(), std::size_t(35 * 12));
        auto view = makeView();
        const QImage image = view->grabFramebuffer();
        for (int k = 0; k < 35; ++k) {
            const double a = ((k * 1000 + 200) / 100.0 + 5 * 4.0 / 11.0) * M_PI / 180.0; // middle point
            // Frame 0 lies below the previous frame's start angle: a next-round point, white.
            const int level = kRoundIntensities[k % 3];
            const QColor want = k == 0 || !colour_map || level == 100 ? kWhite : level == 255 ? kCyan : kYellow;
            for (const QColor& c : {kWhite, kYellow, kCyan})
                QVERIFY2(colourNear(image, toScreen(*view, -0.25 * std::sin(a), -0.25 * std::cos(a)), c, 1)
                             == (c == want), qPrintable(QStringLiteral("frame %1").arg(k)));
        }
        const double gap = 7.5 * M_PI / 180.0; // between two frames' sectors: background
        QVERIFY(colourNear(image, toScreen(*view, -0.25 * std::sin(gap), -0.25 * std::cos(gap)), Qt::black, 0));
    }

    // Points only while playing; the hover line and the point read-out only
    // while playing with the mouse inside; the grid always.
    void playAndMouseGateWhatShows_data()
    {
        QTest::addColumn<bool>("playing");
        QTest::addColumn<bool>("inside");
        QTest::newRow("playing, mouse inside") << true << true;
        QTest::newRow("playing, mouse outside") << true << false;
        QTest::newRow("paused, mouse inside") << false << true;
    }
    void playAndMouseGateWhatShows()
    {
        QFETCH(bool, playing);
        QFETCH(bool, inside);
        setRound({QVector3D(-0.25f, 0.05f, 0)}, {QVector3D(0, 1, 1)});
        DecoderProbe::setHoverPoint(0.3f, -0.2f);
        auto view = makeView();
        const QPointF point = toScreen(*view, -0.25, 0.05), line_middle = toScreen(*view, 0.15, -0.1);
        hub()->setPlayFlag(playing);
        setMouseInside(*view, inside);
        view->findChild<ShowDataWidget*>()->showData(ShowData{90.0f, 1520.0f});
        QCOMPARE(view->findChild<QLabel*>("angle_label")->text(), QString(playing && inside ? "90.00°" : "--"));
        QImage image = view->grabFramebuffer();
        QCOMPARE(colourNear(image, point, kCyan), playing);
        QCOMPARE(colourNear(image, line_middle, kYellow), playing && inside);
        QCOMPARE(colourNear(image, toScreen(*view, 0.27, -0.18), kYellow), playing && inside);
        QCOMPARE(countPixels(image, isYellow) > 0, playing && inside);
        QVERIFY(!colourNear(image, toScreen(*view, -0.15, 0.1), kYellow)); // from the centre, not through it
        QVERIFY(colourNear(image, toScreen(*view, -0.2, 0.001), kGrey)); // ring of 0.2 m to the left

        // The next frame shows all again: nothing of the last frame's depth hides it.
        hub()->setPlayFlag(true);
        setMouseInside(*view, true);
        image = view->grabFramebuffer();
        QVERIFY(colourNear(image, point, kCyan) && colourNear(image, line_middle, kYellow));
        setRound({}, {}); // an empty round: the grid only, not the last round's buffer
        QVERIFY(!colourNear(view->grabFramebuffer(), point, kCyan));
    }

    void hoverAngleFollowsCursor()
    {
        auto view = makeView();
        const int cx = kWidth / 2, cy = kHeight / 2;
        // Clockwise from straight down; the angle must lie in [low, high].
        const struct { QPoint pos; float low, high; } cases[] = {
            {{cx, 100}, 180, 180},   {{100, cy}, 90, 90},          {{900, cy}, 270, 270},
            {{cx, 700}, 359.9f, 360}, {{cx - 1, 700}, 0.0001f, 1}, {{cx - 200, cy - 200}, 134.99f, 135.01f},
            {{cx + 200, cy + 200}, 314.99f, 315.01f}};
        for (const auto& c : cases) {
            sendMouse(*view, QEvent::MouseMove, c.pos);
            const float angle = DecoderProbe::hoverAngle();
            QVERIFY2(angle >= c.low && angle <= c.high, qPrintable(QStringLiteral("%1 at %2,%3")
                                                                      .arg(angle).arg(c.pos.x()).arg(c.pos.y())));
        }
        decoder()->setHoverAngle(42.0f);
        sendMouse(*view, QEvent::MouseMove, QPoint(cx, cy)); // exactly above the centre: the last angle stays
        QCOMPARE(DecoderProbe::hoverAngle(), 42.0f);
    }

    void zoomStepsClampAndHubCommands()
    {
        auto view = makeView();
        const int paints = view->paints;
        QVERIFY(!wheel(*view, 120)); // in at the nearest step; the event goes on to the parent
        QCOMPARE(view->zoomIndex(), 0);
        QTRY_VERIFY(view->paints > paints);
        const float heights[] = {1, 2, 3, 4, 5, 10, 20, 30, 50, 50};
        for (int step = 1; step <= 9; ++step) {
            wheel(*view, -120);
            QCOMPARE(view->cameraDistance(), heights[step]);
        }
        const int delta_then_step[][2] = {{120, 7}, {0, 8}, {1, 7}}; // no delta zooms out
        for (const auto& z : delta_then_step) {
            wheel(*view, z[0]);
            QCOMPARE(view->zoomIndex(), z[1]);
        }
        hub()->emitZoomIn();
        hub()->emitZoomIn();
        hub()->emitZoomOut();
        QCOMPARE(view->cameraDistance(), 20.0f);
        // Re-centring keeps the zoom and repaints.
        sendMouse(*view, QEvent::MouseButtonPress, QPoint(400, 300), Qt::LeftButton, Qt::LeftButton);
        sendMouse(*view, QEvent::MouseMove, QPoint(450, 320), Qt::LeftButton);
        QVERIFY(view->panOffset() != QPointF(0, 0));
        const int before_origin = view->paints;
        hub()->emitOriginView();
        QCOMPARE(view->panOffset(), QPointF(0, 0));
        QCOMPARE(view->zoomIndex(), 6);
        QTRY_VERIFY(view->paints > before_origin);
    }

    void dragPansWithLeftOrMiddleAlone_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("held");
        QTest::addColumn<bool>("pans");
        QTest::newRow("left") << int(Qt::LeftButton) << int(Qt::LeftButton) << true;
        QTest::newRow("middle") << int(Qt::MiddleButton) << int(Qt::MiddleButton) << true;
        QTest::newRow("right") << int(Qt::RightButton) << int(Qt::RightButton) << false;
        QTest::newRow("left and right") << int(Qt::LeftButton) << int(Qt::LeftButton | Qt::RightButton) << false;
    }
    void dragPansWithLeftOrMiddleAlone()
    {
        QFETCH(int, button);
        QFETCH(int, held);
        QFETCH(bool, pans);
        setRound({QVector3D(0.15f, -0.05f, 0)}, {QVector3D(0, 1, 1)});
        auto view = makeView();
        const QPointF before = toScreen(*view, 0.15, -0.05);
        sendMouse(*view, QEvent::MouseButtonPress, QPoint(400, 300), Qt::MouseButtons(held), Qt::MouseButton(button));
        sendMouse(*view, QEvent::MouseMove, QPoint(500, 350), Qt::MouseButtons(held)); // 100 right, 50 down
        QVERIFY(DecoderProbe::hoverAngle() >= 0.0f); // the hover angle follows while dragging
        const QImage image = view->grabFramebuffer();
        // The scene follows the cursor: 1 mm per pixel at 1 m height.
        QCOMPARE((view->panOffset() * 1000).toPoint(), pans ? QPoint(-100, 50) : QPoint(0, 0));
        QVERIFY(colourNear(image, toScreen(*view, 0.15, -0.05), kCyan));
        QCOMPARE(colourNear(image, before, kCyan), !pans);
        sendMouse(*view, QEvent::MouseMove, QPoint(510, 350), Qt::MouseButtons(held)); // from the last position
        QCOMPARE(qRound(view->panOffset().x() * 1000), pans ? -110 : 0);
    }

    void ringsAndLabelsPerZoomStep()
    {
        auto view = makeView();
        QVERIFY2(view->glyphCount() > 0, "label font missing beside the test binary");
        const char* spacings[] = {"0.1", "0.25", "0.5", "0.8", "1", "2", "2.5", "4", "5"};
        for (int step = 0; step <= 8; ++step, view->zoomOut()) {
            const QImage image = view->grabFramebuffer();
            QCOMPARE(view->findChild<QLabel*>("spacing_label")->text(), QString(spacings[step]));
            // Count the rings crossed by the 45 degree ray up to near the window's edge.
            const float s = QString(spacings[step]).toFloat();
            const double k = toScreen(*view, 1, 0).x() - kWidth / 2.0, end_px = (kHeight / 2.0 - 5) * M_SQRT2;
            int expected = 0, runs = 0;
            for (int i = 1; i * s <= 20.0f + 1e-4f; ++i)
                expected += i * s * k < end_px ? 1 : 0;
            bool in_run = false;
            for (double r = s * k / 2; r < end_px; r += 0.5) {
                const bool grey = colourNear(image, QPointF(kWidth / 2.0 + r / M_SQRT2, kHeight / 2.0 - r / M_SQRT2),
                                             kGrey, 1);
                runs += grey && !in_run ? 1 : 0;
                in_run = grey;
            }
            QVERIFY2(runs == expected, qPrintable(QStringLiteral("step %1: %2 rings").arg(step).arg(runs)));
            // A green label just right of each ring on the +x axis, none on the -x side.
            for (int i = 1; i * s <= 20.0f + 1e-4f && toScreen(*view, i * s, 0).x() + 40 <= kWidth; ++i) {
                const QPoint p = toScreen(*view, i * s, 0).toPoint();
                QVERIFY2(countPixels(image, isGreen, QRect(p.x(), p.y() - 24, 30, 26)) > 10,
                         qPrintable(QStringLiteral("step %1 label %2").arg(step).arg(i)));
            }
            QCOMPARE(countPixels(image, isGreen, QRect(0, 0, kWidth / 2 - 5, kHeight)), 0);
        }
    }

    void missingFontLeavesViewWorking()
    {
        setRound({QVector3D(0.15f, -0.15f, 0)}, {QVector3D(1, 1, 0)});
        tx710test::LogCapture log;
        auto view = makeView(QDir::tempPath() + QStringLiteral("/tx710-no-such-font.otf"));
        const QImage image = view->grabFramebuffer();
        const QString joined = log.lines().join('\n');
        QVERIFY2(joined.contains("FT_New_Face error") && !joined.contains("FT_New_Face error 0")
                     && !joined.contains("FT_Set_Char_Size"), qPrintable(joined));
        QCOMPARE(view->glyphCount(), 0);
        QCOMPARE(countPixels(image, isGreen), 0);
        QVERIFY(colourNear(image, toScreen(*view, 0.15, -0.15), kYellow) && countPixels(image, isGrey) > 1000);
    }

    void overlaysKeepTheirCornersOnResize()
    {
        ProbeView view;
        view.setGeometry(0, 0, kWidth, kHeight);
        QCOMPARE(view.findChild<QLabel*>("spacing_label")->text(), QStringLiteral("2")); // until the first frame
        auto* panel = view.findChild<ShowDataWidget*>();
        auto* logo = view.findChild<LogoWidget*>();
        const QSize panel_size = panel->size(), logo_size = logo->size();
        view.show();
        for (const QSize size : {QSize(800, 600), QSize(1200, 700), QSize(640, 900)}) {
            view.resize(size);
            QCoreApplication::processEvents();
            QCOMPARE(panel->geometry(), QRect(QPoint(0, 0), panel_size));
            QCOMPARE(logo->geometry(), QRect(QPoint(size.width() - logo_size.width(), size.height()
                                                    - logo_size.height()), logo_size));
            QVERIFY(panel->isVisible() && logo->isVisible());
        }
        view.callResizeGL(300, 0); // a window without height keeps a finite aspect
        QCOMPARE(view.aspect(), 300.0f);
    }

    // The buffered drawing must give exactly the picture of the figure-by-figure one.
    void batchedDrawingMatchesFigureByFigure_data()
    {
        QTest::addColumn<int>("zoom_step");
        for (int step : {0, 3, 8})
            QTest::addRow("step %d", step) << step;
    }
    void batchedDrawingMatchesFigureByFigure()
    {
        QFETCH(int, zoom_step);
        feedRound();
        decoder()->setColorFlag(true);
        DecoderProbe::setHoverPoint(0.2f, 0.3f);
        auto view = makeView();
        setMouseInside(*view, true);
        while (view->zoomIndex() < zoom_step)
            view->zoomOut();
        view->setBufferedDrawing(false);
        const QImage immediate = view->grabFramebuffer();
        view->setBufferedDrawing(true);
        const QImage batched = view->grabFramebuffer();
        QVERIFY(countPixels(batched, isGrey) > 500 && countPixels(batched, isGreen) > 50); // something was drawn
        QCOMPARE(batched, immediate);
    }

    void newContextAfterReparentingDrawsAgain()
    {
        setRound({QVector3D(0.15f, -0.15f, 0)}, {QVector3D(0, 1, 1)});
        QWidget host; // a new top-level window, hence a new context: all GL objects made again
        host.setGeometry(0, 0, kWidth, kHeight);
        ProbeView* view = makeView().release();
        view->setParent(&host);
        view->setGeometry(0, 0, kWidth, kHeight);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        const QImage image = view->grabFramebuffer();
        QVERIFY(colourNear(image, toScreen(*view, 0.15, -0.15), kCyan));
        QVERIFY(countPixels(image, isGrey) > 1000 && countPixels(image, isGreen) > 100);
    }
};

QTEST_MAIN(TestViewGl)
#include "tst_view_gl.moc"
