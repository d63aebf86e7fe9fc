// The point-cloud view drawn for real (Mesa under Xvfb) and read back, and its read-out panel.
#include <QLabel>
#include <QtTest>

#include "SerialPort/frame_protocol.h"
#include "SerialPort/serial_data.h"
#include "app/logo_widget.h"
#include "panels/show_data_widget.h"
#include "support/modal_watcher.h"
#include "view/lidar_gl_function.h"
#include "view/lidar_gl_widget.h"

Q_DECLARE_METATYPE(ShowData)

namespace {

constexpr int kWidth = 1000, kHeight = 800;
const QColor kWhite(255, 255, 255), kYellow(255, 255, 0), kCyan(0, 255, 255), kGrey(128, 128, 128);
const int kRoundIntensities[3] = {255, 220, 100};

// Reaches the decoder's hover state, which only the view and the decoder touch.
struct DecoderProbe : SerialData {
    static float hoverAngle() { return instance()->*(&DecoderProbe::hover_angle_); }
    static void setHoverPoint(QPointF p) { instance()->*(&DecoderProbe::hover_point_) = {float(p.x()), float(p.y())}; }
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
QPointF toScreen(const ProbeView& view, QPointF world)
{
    const double k = view.height() / (2.0 * view.cameraDistance() * std::tan(M_PI / 8));
    const QPointF from_pan = world - view.panOffset();
    return QPointF(view.width() / 2.0 + from_pan.x() * k, view.height() / 2.0 - from_pan.y() * k);
}

// World point at `degrees` (clockwise from -y, as the decoder places points) and `radius` metres.
QPointF polar(double degrees, double radius = 0.25)
{
    return QPointF(-radius * std::sin(degrees * M_PI / 180), -radius * std::cos(degrees * M_PI / 180));
}

bool matches(const QColor& c, const QColor& want, int tolerance = 40)
{
    return std::max({std::abs(c.red() - want.red()), std::abs(c.green() - want.green()),
                     std::abs(c.blue() - want.blue())}) <= tolerance;
}
bool isGreen(const QColor& c) { return c.green() > 120 && c.red() < 80 && c.blue() < 80; }
bool isGrey(const QColor& c) { return matches(c, kGrey, 20); }

template <class Wanted>
int countPixels(const QImage& image, Wanted wanted, QRect area = QRect())
{
    area = area.isNull() ? image.rect() : area.intersected(image.rect());
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            count += wanted(image.pixelColor(x, y)) ? 1 : 0;
    return count;
}

// True when a pixel of the colour lies within `radius` pixels of p.
bool colourNear(const QImage& image, QPointF p, const QColor& want, int radius = 2)
{
    const QRect area(p.toPoint() - QPoint(radius, radius), QSize(2 * radius + 1, 2 * radius + 1));
    return countPixels(image, [&want](const QColor& c) { return matches(c, want); }, area) > 0;
}

// One complete round through the decoder: frames of 4 degrees every 10 degrees at 250 mm,
// intensities cycling through kRoundIntensities; the last frame's angle drop publishes it.
void feedRound(float hover_angle = -1.0f)
{
    decoder()->setHoverAngle(hover_angle);
    for (int k = -1; k <= 35; ++k) {
        const auto start = static_cast<std::uint16_t>(k < 0 ? 35000 : k == 35 ? 100 : k * 1000 + 200);
        tx710::ScanFrameFields f{3600, start, static_cast<std::uint16_t>(start + 400), 0, {}};
        for (auto& p : f.points)
            p = {250, static_cast<std::uint8_t>(k < 0 || k == 35 ? 0 : kRoundIntensities[k % 3])};
        const tx710::FrameBytes bytes = tx710::encodeFrame(f);
        decoder()->parseFrame(QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size())));
    }
}

// Sends the event to the widget; true when accepted.
bool send(QWidget& w, QEvent&& ev) { return QCoreApplication::sendEvent(&w, &ev), ev.isAccepted(); }
void setMouseInside(QWidget& w, bool inside) { send(w, QEvent(inside ? QEvent::Enter : QEvent::Leave)); }
void sendMouse(QWidget& w, QEvent::Type type, QPoint pos, Qt::MouseButtons held = {}, Qt::MouseButton button = {})
{
    send(w, QMouseEvent(type, pos, button, held, Qt::NoModifier));
}

std::unique_ptr<ProbeView> makeView(const QString& font_path = QString())
{
    auto view = std::make_unique<ProbeView>();
    view->font_path = font_path;
    view->setGeometry(0, 0, kWidth, kHeight);
    view->show();
    if (QTest::qWaitForWindowExposed(view.get()))
        view->grabFramebuffer(); // the camera of the first frame
    return view;
}

// The read-out's angle, distance, intensity, speed and spot frequency.
QStringList shown(const QWidget& panel)
{
    QStringList texts;
    for (const char* name : {"angle_label", "distance_label", "intensity_label", "speed_label", "spot_frequency_label"})
        texts << panel.findChild<QLabel*>(name)->text();
    return texts;
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
        decoder()->display_points_.clear();
    }

    // Points only while playing; the hover line and the point read-out only
    // while playing with the mouse inside; the grid always.
    void sceneFollowsColourMapPlayAndMouse_data()
    {
        QTest::addColumn<bool>("colour_map");
        QTest::addColumn<bool>("playing");
        QTest::addColumn<bool>("inside");
        QTest::newRow("colour map on, mouse inside") << true << true << true;
        QTest::newRow("colour map off, mouse outside") << false << true << false;
        QTest::newRow("paused, mouse inside") << true << false << true;
    }
    void sceneFollowsColourMapPlayAndMouse()
    {
        QFETCH(bool, colour_map);
        QFETCH(bool, playing);
        QFETCH(bool, inside);
        decoder()->setColorFlag(colour_map);
        feedRound();
        DecoderProbe::setHoverPoint(polar(297.5, 0.36)); // between two frames
        auto view = makeView();
        hub()->setPlayFlag(playing);
        setMouseInside(*view, inside);
        view->findChild<ShowDataWidget*>()->showData(ShowData{90.0f, 1520.0f});
        QCOMPARE(shown(*view).first(), QString(playing && inside ? "90.00°" : "--"));

        const QImage image = view->grabFramebuffer(); // a second frame: no depth left from the first may hide it
        for (int k = 0; k < 35; ++k) { // the middle point of each frame
            // Frame 0 lies below the previous frame's start angle: a next-round point, white.
            const int level = kRoundIntensities[k % 3];
            const QColor want = k == 0 || !colour_map || level == 100 ? kWhite : level == 255 ? kCyan : kYellow;
            const QPointF p = toScreen(*view, polar(k * 10 + 2 + 20.0 / 11));
            for (const QColor& c : {kWhite, kYellow, kCyan})
                QVERIFY2(colourNear(image, p, c, 1) == (playing && c == want), qPrintable(QString::number(k)));
        }
        for (const double r : {0.18, 0.33}) // the hover line, from the centre and not through it
            QCOMPARE(colourNear(image, toScreen(*view, polar(297.5, r)), kYellow), playing && inside);
        QVERIFY(!colourNear(image, toScreen(*view, polar(117.5, 0.18)), kYellow));
        QVERIFY(colourNear(image, toScreen(*view, QPointF(-0.2, 0.001)), kGrey)); // ring of 0.2 m to the left
    }

    void hoverAngleFollowsCursor()
    {
        auto view = makeView();
        const int cx = kWidth / 2, cy = kHeight / 2;
        // Clockwise from straight down, in [low, high]; exactly above the centre the last angle stays.
        const struct { QPoint pos; float low, high; } cases[] = {{{cx, 100}, 180, 180}, {{100, cy}, 90, 90},
            {{900, cy}, 270, 270}, {{cx, 700}, 359.9f, 360}, {{cx - 1, 700}, 0.0001f, 1}, {{700, 600}, 314.9f, 315.1f},
            {{cx, cy}, 314.9f, 315.1f}};
        for (const auto& c : cases) {
            sendMouse(*view, QEvent::MouseMove, c.pos);
            QVERIFY2(DecoderProbe::hoverAngle() >= c.low && DecoderProbe::hoverAngle() <= c.high,
                     qPrintable(QString::number(DecoderProbe::hoverAngle())));
        }
    }

    void zoomStepsClampAndHubCommands()
    {
        auto view = makeView();
        const int paints = view->paints;
        // Camera height after each wheel delta: clamped at both ends; no delta zooms out.
        const int delta_then_height[][2] = {{120, 1},   {-120, 2},  {-120, 3},  {-120, 4}, {-120, 5}, {-120, 10},
                                            {-120, 20}, {-120, 30}, {-120, 50}, {-120, 50}, {1, 30}, {0, 50}};
        for (const auto& z : delta_then_height) {
            QVERIFY(!send(*view, QWheelEvent(QPointF(500, 400), QPointF(500, 400), {}, {0, z[0]}, Qt::NoButton,
                                             Qt::NoModifier, Qt::NoScrollPhase, false))); // the parent sees it too
            QCOMPARE(view->cameraDistance(), float(z[1]));
        }
        QTRY_VERIFY(view->paints > paints);
        hub()->emitZoomIn();
        QCOMPARE(view->cameraDistance(), 30.0f);
        hub()->emitZoomOut();
        const int before_origin = view->paints;
        hub()->emitOriginView(); // re-centring keeps the zoom and repaints
        QCOMPARE(view->cameraDistance(), 50.0f);
        QTRY_VERIFY(view->paints > before_origin);
    }

    void dragPansWithLeftOrMiddleAlone_data()
    {
        QTest::addColumn<Qt::MouseButtons>("held"); // the lowest held button is the one pressed
        QTest::addColumn<bool>("pans");
        QTest::newRow("left") << Qt::MouseButtons(Qt::LeftButton) << true;
        QTest::newRow("middle") << Qt::MouseButtons(Qt::MiddleButton) << true;
        QTest::newRow("right") << Qt::MouseButtons(Qt::RightButton) << false;
        QTest::newRow("left and right") << (Qt::LeftButton | Qt::RightButton) << false;
    }
    void dragPansWithLeftOrMiddleAlone()
    {
        QFETCH(Qt::MouseButtons, held);
        QFETCH(bool, pans);
        feedRound();
        auto view = makeView();
        const QPointF before = toScreen(*view, polar(294)); // a point of frame 29, in the drag's direction
        sendMouse(*view, QEvent::MouseButtonPress, QPoint(400, 300), held, Qt::MouseButton(int(held) & -int(held)));
        sendMouse(*view, QEvent::MouseMove, QPoint(500, 350), held); // 100 right, 50 down
        const QImage image = view->grabFramebuffer();
        // The scene follows the cursor: 1 mm per pixel at 1 m height.
        QCOMPARE((view->panOffset() * 1000).toPoint(), pans ? QPoint(-100, 50) : QPoint(0, 0));
        QVERIFY(colourNear(image, toScreen(*view, polar(294)), kWhite));
        QCOMPARE(colourNear(image, before, kWhite), !pans);
        sendMouse(*view, QEvent::MouseMove, QPoint(510, 350), held); // from the last position
        QCOMPARE(qRound(view->panOffset().x() * 1000), pans ? -110 : 0);
        hub()->emitOriginView();
        QCOMPARE(view->panOffset(), QPointF(0, 0));
    }

    void ringsAndLabelsPerZoomStep()
    {
        auto view = makeView();
        const char* spacings[] = {"0.1", "0.25", "0.5", "0.8", "1", "2", "2.5", "4", "5"};
        for (int step = 0; step <= 8; ++step, view->zoomOut()) {
            const QImage image = view->grabFramebuffer();
            QCOMPARE(view->findChild<QLabel*>("spacing_label")->text(), QString(spacings[step]));
            // Up to 20 m: a ring at each multiple of the spacing on the 45 degree ray, none half-way,
            // and a green label just right of it on the +x axis.
            const float s = QString(spacings[step]).toFloat();
            const auto grey_at = [&](double r) { return colourNear(image, toScreen(*view, polar(225, r)), kGrey, 1); };
            for (int i = 1; image.rect().contains(toScreen(*view, polar(225, i * s)).toPoint()); ++i) {
                const bool ring = i * s <= 20 + 1e-4f;
                const QString where = QStringLiteral("step %1 ring %2").arg(step).arg(i);
                QVERIFY2(grey_at(i * s) == ring && !grey_at((i - 0.5) * s), qPrintable(where));
                const QPoint label = toScreen(*view, {i * s, 0}).toPoint();
                if (label.x() + 40 <= kWidth)
                    QVERIFY2((countPixels(image, isGreen, QRect(label.x(), label.y() - 24, 30, 26)) > 10) == ring,
                             qPrintable(where));
            }
            QCOMPARE(countPixels(image, isGreen, QRect(0, 0, kWidth / 2 - 5, kHeight)), 0);
        }
    }

    void missingFontLeavesViewWorking()
    {
        feedRound();
        tx710test::LogCapture log;
        auto view = makeView(QDir::tempPath() + QStringLiteral("/tx710-no-such-font.otf"));
        const QImage image = view->grabFramebuffer();
        const QString text = log.lines().join('\n');
        QVERIFY2(text.contains("FT_New_Face error") && !text.contains("FT_New_Face error 0")
                     && !text.contains("FT_Set_Char_Size"), qPrintable(text));
        QCOMPARE(countPixels(image, isGreen), 0);
        QVERIFY(colourNear(image, toScreen(*view, polar(14)), kWhite) && countPixels(image, isGrey) > 1000);
    }

    void overlaysKeepTheirCornersOnResize()
    {
        auto view = makeView();
        auto* panel = view->findChild<ShowDataWidget*>();
        auto* logo = view->findChild<LogoWidget*>();
        const QSize panel_size = panel->size(), logo_size = logo->size();
        for (const QSize size : {QSize(800, 600), QSize(1200, 700), QSize(640, 900)}) {
            view->resize(size);
            QCOMPARE(panel->geometry(), QRect(QPoint(0, 0), panel_size));
            QCOMPARE(QRect(logo->pos(), logo_size).bottomRight(), QPoint(size.width() - 1, size.height() - 1));
            QVERIFY(panel->isVisible() && logo->isVisible());
        }
        view->callResizeGL(300, 0); // a window without height keeps a finite aspect
        QCOMPARE(view->aspect(), 300.0f);
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
        DecoderProbe::setHoverPoint(QPointF(0.2, 0.3));
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

    void readoutFormats_data()
    {
        QTest::addColumn<ShowData>("data");
        QTest::addColumn<QStringList>("expected"); // while playing with the mouse in the view
        QTest::newRow("rounded angle") << ShowData{12.345f, 1520, 200, 360, 4500}
                                       << QStringList{"12.35°", "1520mm", "200", "360RPM", "4500"};
        QTest::newRow("far distance") << ShowData{0, 1234567, 255, 300.5f, 4563}
                                      << QStringList{"0.00°", "1.23457e+06mm", "255", "300.5RPM", "4563"};
    }
    void readoutFormats()
    {
        QFETCH(ShowData, data);
        QFETCH(QStringList, expected);
        ShowDataWidget panel(nullptr);
        for (const bool playing : {true, false}) { // not live: paused, or the mouse outside
            hub()->setPlayFlag(true);
            panel.setMouseInView(true);
            panel.showData(data);
            QCOMPARE(shown(panel), expected);
            hub()->setPlayFlag(playing);
            panel.setMouseInView(!playing);
            panel.showData(data); // nothing of the last point stays; speed and spot frequency go on
            QCOMPARE(shown(panel), QStringList({"--", "--", "--"}) + expected.mid(3));
        }
    }

    void pickedPointReachesTheReadout()
    {
        { ProbeView gone; } // the round and the pick below reach the callbacks of a view that is gone
        feedRound(12 + 20.0f / 11);
        auto view = makeView();
        setMouseInside(*view, true);
        feedRound(32 + 20.0f / 11); // the middle point of frame 3
        QCOMPARE(shown(*view).mid(0, 4), (QStringList{"33.82°", "250mm", "255", "600RPM"}));

        // A pick goes out with the next round's repaint; when no round follows, shortly after.
        decoder()->setHoverAngle(20 + 12.0f / 11);
        tx710::ScanFrameFields f{3600, 2000, 2400, 0, {}};
        f.points.fill({300, 7});
        const tx710::FrameBytes bytes = tx710::encodeFrame(f);
        decoder()->parseFrame(QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size())));
        QCoreApplication::processEvents();
        QCOMPARE(shown(*view).first(), QStringLiteral("33.82°"));
        QTRY_COMPARE(shown(*view).mid(0, 3), (QStringList{"21.09°", "300mm", "7"}));
    }
};

QTEST_MAIN(TestViewGl)
#include "tst_view_gl.moc"
