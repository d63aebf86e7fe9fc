// The point-cloud view drawn for real (Mesa under Xvfb) and read back, and its read-out panel.
#include <QLabel>
#include <QOpenGLWindow>
#include <QtTest>

#include "SerialPort/serial_data.h"
#include "app/logo_widget.h"
#include "panels/notice_widget.h"
#include "panels/show_data_widget.h"
#include "support/fixtures.h"
#include "support/modal_watcher.h"
#include "view/lidar_gl_function.h"
#include "view/lidar_gl_widget.h"

namespace {

constexpr int kWidth = 1000, kHeight = 800;
const QColor kWhite(255, 255, 255), kYellow(255, 255, 0), kCyan(0, 255, 255), kGrey(128, 128, 128);
const int kRoundIntensities[3] = {255, 220, 100};
const QColor kRoundColours[3] = {kCyan, kYellow, kWhite}; // with the colour map

struct ProbeView : LidarGLWidget {
    int paints = 0;
    QString font_path;
    void paintGL() override { ++paints, LidarGLWidget::paintGL(); }
    QString fontFilePath() const override { return font_path.isEmpty() ? LidarGLWidget::fontFilePath() : font_path; }
};

bool matches(const QColor& c, const QColor& want, int tolerance = 40)
{
    return std::max(
               {std::abs(c.red() - want.red()), std::abs(c.green() - want.green()), std::abs(c.blue() - want.blue())})
        <= tolerance;
}

} // namespace

class TestViewGl : public QObject
{
    Q_OBJECT

    static LidarGLFunction* hub() { return LidarGLFunction::instance(); }
    static SerialData* decoder() { return SerialData::instance(); }
    static auto like(const QColor& want, int tolerance = 40)
    {
        return [want, tolerance](const QColor& c) { return matches(c, want, tolerance); };
    }
    static bool isGreen(const QColor& c) { return c.green() > 120 && c.red() < 80 && c.blue() < 80; }

    // Screen pixel of a world point for the view's camera (square pixels, 45 degree field).
    static QPointF toScreen(const ProbeView& view, QPointF world)
    {
        const QPointF d =
            (world - view.panOffset()) * (view.height() / (2.0 * view.cameraDistance() * std::tan(M_PI / 8)));
        return QPointF(view.width() / 2.0 + d.x(), view.height() / 2.0 - d.y());
    }
    // World point at `degrees` (clockwise from -y, as the decoder places points) and `radius` metres.
    static QPointF polar(double degrees, double radius = 0.25)
    {
        return QPointF(-radius * std::sin(degrees * M_PI / 180), -radius * std::cos(degrees * M_PI / 180));
    }
    template <class Wanted> static int countPixels(const QImage& image, Wanted wanted, QRect area = QRect())
    {
        area = area.isNull() ? image.rect() : area.intersected(image.rect());
        int count = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                count += wanted(image.pixelColor(x, y)) ? 1 : 0;
        return count;
    }
    // True when a pixel of the colour lies within `radius` pixels of p.
    static bool colourNear(const QImage& image, QPointF p, const QColor& want, int radius = 2)
    {
        const QPoint corner = p.toPoint() - QPoint(radius, radius);
        return countPixels(image, like(want), QRect(corner, QSize(2 * radius + 1, 2 * radius + 1))) > 0;
    }
    // The brightest red in the 5 x 5 pixels around `at`.
    static int brightnessAt(const QImage& image, QPointF at)
    {
        int brightest = 0;
        for (int dx = -2; dx <= 2; ++dx)
            for (int dy = -2; dy <= 2; ++dy)
                brightest = std::max(brightest, QColor(image.pixel(qRound(at.x()) + dx, qRound(at.y()) + dy)).red());
        return brightest;
    }

    // One frame of four degrees from `start` (0.01 degree), all twelve points alike.
    static void sendFrame(int start, int distance, int intensity)
    {
        decoder()->parseFrame(tx710test::scanFrame(start, start + 400, distance, intensity));
    }
    // A round of frames every 10 degrees at 250 mm; the last frame's angle drop publishes it.
    static void feedRound(float hover_angle = -1.0f, int distance = 250)
    {
        decoder()->setHoverAngle(hover_angle);
        for (int k = -1; k <= 35; ++k)
            sendFrame(k < 0         ? 35000
                          : k == 35 ? 100
                                    : k * 1000 + 200,
                      distance, k < 0 || k == 35 ? 0 : kRoundIntensities[k % 3]);
    }

    static bool send(QWidget& w, QEvent&& ev) { return QCoreApplication::sendEvent(&w, &ev), ev.isAccepted(); }
    static void setMouseInside(QWidget& w, bool inside) { send(w, QEvent(inside ? QEvent::Enter : QEvent::Leave)); }
    static void sendMouse(QWidget& w, QEvent::Type type, QPoint pos, Qt::MouseButtons held = {},
                          Qt::MouseButton button = {})
    {
        send(w, QMouseEvent(type, pos, button, held, Qt::NoModifier));
    }
    static void click(QWidget& w, QPointF at)
    {
        sendMouse(w, QEvent::MouseButtonPress, at.toPoint(), Qt::LeftButton, Qt::LeftButton);
        sendMouse(w, QEvent::MouseButtonRelease, at.toPoint(), {}, Qt::LeftButton);
    }
    static bool wheel(QWidget& w, int delta)
    {
        return send(
            w, QWheelEvent(QPointF(500, 400), QPointF(500, 400), {}, {0, delta}, {}, {}, Qt::NoScrollPhase, false));
    }

    static std::unique_ptr<ProbeView> makeView(const QString& font_path = QString())
    {
        auto view = std::make_unique<ProbeView>();
        view->font_path = font_path;
        view->setGeometry(0, 0, kWidth, kHeight);
        view->show();
        if (QTest::qWaitForWindowExposed(view.get()))
            view->grabFramebuffer(); // the camera of the first frame
        return view;
    }
    static QStringList shown(const QWidget& panel)
    {
        QStringList texts;
        for (const char* name :
             {"angle_label", "distance_label", "intensity_label", "speed_label", "spot_frequency_label"})
            texts << panel.findChild<QLabel*>(name)->text();
        return texts;
    }

private slots:
    void init() { QCursor::setPos(1919, 1079); } // the real pointer stays away from the test windows
    void cleanup()
    {
        hub()->setPlayFlag(true);
        decoder()->setColorFlag(false);
        decoder()->display_points_.clear();
    }

    // Points only while playing; the hover line only while playing with the
    // mouse inside; the grid always.
    void sceneFollowsColourMapPlayAndMouse()
    {
        const struct {
            bool colour_map, playing, inside;
        } cases[] = {{true, true, true}, {false, true, false}, {true, false, true}};
        for (const auto& c : cases) {
            decoder()->setColorFlag(c.colour_map);
            feedRound(293.0f); // picks the point at 292 + 3 * 4/11 degrees
            auto view = makeView();
            hub()->setPlayFlag(c.playing);
            setMouseInside(*view, c.inside);

            const QImage image = view->grabFramebuffer(); // a second frame: no depth left from the first may hide it
            for (int k = 0; k < 35; ++k) {                // the middle point of each frame
                // Frame 0 lies below the previous frame's start angle: a next-round point, white.
                const QColor want = k == 0 || !c.colour_map ? kWhite : kRoundColours[k % 3];
                const QPointF p = toScreen(*view, polar(k * 10 + 2 + 20.0 / 11));
                for (const QColor& hue : {kWhite, kYellow, kCyan})
                    QVERIFY2(colourNear(image, p, hue, 1) == (c.playing && hue == want), QByteArray::number(k));
            }
            for (const double r : {0.1, 0.18}) // the hover line
                QCOMPARE(colourNear(image, toScreen(*view, polar(292 + 12.0 / 11, r)), kYellow), c.playing && c.inside);
            QVERIFY(colourNear(image, toScreen(*view, QPointF(-0.2, 0.001)), kGrey)); // ring of 0.2 m to the left
        }
    }

    // The camera alone: pixels of a 1000 x 800 view to the scan plane and back.
    void cameraMapsPixelsToTheScanPlane_data()
    {
        const QSize size(kWidth, kHeight);
        QTest::addColumn<int>("zoom_outs");
        QTest::addColumn<QPoint>("drag"); // pixels right and up
        QTest::addColumn<QSize>("viewport");
        QTest::addColumn<QPoint>("pixel");
        QTest::addColumn<QPoint>("scene_mm");
        QTest::newRow("centre") << 0 << QPoint() << size << QPoint(500, 400) << QPoint(0, 0);
        QTest::newRow("right edge at 1 m") << 0 << QPoint() << size << QPoint(1000, 400) << QPoint(518, 0);
        QTest::newRow("dragged") << 0 << QPoint(100, -50) << size << QPoint(500, 400) << QPoint(-100, 50);
        QTest::newRow("top, clamped at 50 m") << 12 << QPoint() << size << QPoint(500, 0) << QPoint(0, 20711);
        QTest::newRow("viewport without height")
            << 0 << QPoint() << QSize(300, 0) << QPoint(1000, 400) << QPoint(124264, 0);
    }
    void cameraMapsPixelsToTheScanPlane()
    {
        QFETCH(int, zoom_outs);
        QFETCH(QPoint, drag);
        QFETCH(QSize, viewport);
        QFETCH(QPoint, pixel);
        QFETCH(QPoint, scene_mm);
        tx710::ViewCamera camera;
        for (int i = 0; i < zoom_outs; ++i)
            camera.zoomOut();
        camera.dragBy(drag.x(), drag.y());
        camera.setViewport(viewport.width(), viewport.height());
        camera.setViewSize({kWidth, kHeight});
        camera.updateMatrices();
        const QVector2D scene = camera.scenePosition(pixel);
        QCOMPARE((scene * 1000).toPoint(), scene_mm);
        QCOMPARE(camera.pixelPosition(scene).toPoint(), pixel);
    }

    void hoverAngleFollowsTheMouse()
    {
        auto view = makeView();
        const int cx = kWidth / 2, cy = kHeight / 2;
        // Clockwise from straight down, in [low, high]; exactly above the centre the last angle stays.
        const struct {
            QPoint pos;
            float low, high;
        } cases[] = {{{cx, 100}, 180, 180},
                     {{100, cy}, 90, 90},
                     {{900, cy}, 270, 270},
                     {{cx - 1, 700}, 0.0001f, 1},
                     {{cx, cy}, 0.0001f, 1}};
        for (const auto& c : cases) {
            sendMouse(*view, QEvent::MouseMove, c.pos);
            QVERIFY(decoder()->hoverAngle() >= c.low);
            QVERIFY(decoder()->hoverAngle() <= c.high);
        }
    }

    void dragPansWithLeftOrMiddleAlone()
    {
        const struct {
            Qt::MouseButtons held;
            bool pans;
        } cases[] = {{Qt::LeftButton, true}, // the lowest is pressed
                     {Qt::MiddleButton, true},
                     {Qt::RightButton, false},
                     {Qt::LeftButton | Qt::RightButton, false}};
        feedRound();
        for (const auto& c : cases) {
            auto view = makeView();
            const QPointF before = toScreen(*view, polar(294)); // a point of frame 29, in the drag's direction
            sendMouse(*view, QEvent::MouseButtonPress, {400, 300}, c.held, Qt::MouseButton(int(c.held) & -int(c.held)));
            sendMouse(*view, QEvent::MouseMove, QPoint(500, 350), c.held); // 100 right, 50 down
            const QImage image = view->grabFramebuffer();
            // The scene follows the cursor: 1 mm per pixel at 1 m height.
            QCOMPARE((view->panOffset() * 1000).toPoint(), c.pans ? QPoint(-100, 50) : QPoint(0, 0));
            QVERIFY(colourNear(image, toScreen(*view, polar(294)), kWhite));
            QCOMPARE(colourNear(image, before, kWhite), !c.pans);
            sendMouse(*view, QEvent::MouseMove, QPoint(510, 350), c.held); // from the last position
            QCOMPARE(qRound(view->panOffset().x() * 1000), c.pans ? -110 : 0);
        }
    }

    void wheelStepsRingsAndLabels()
    {
        auto view = makeView();
        const char* spacings[] = {"0.1", "0.25", "0.5", "0.8", "1", "2", "2.5", "4", "5"};
        const float heights[] = {1, 2, 3, 4, 5, 10, 20, 30, 50}; // of the camera
        for (int step = 0; step <= 8; ++step) {
            const int paints = view->paints;
            QVERIFY(!wheel(*view, step ? -120 : 120)); // the parent sees it too; step 0: the nearest stays
            QCOMPARE(view->cameraDistance(), heights[step]);
            QTRY_VERIFY(!step || view->paints > paints);
            const QImage image = view->grabFramebuffer();
            // Up to 20 m: rings at multiples of the spacing on the 45 degree ray, none half-way; green labels on +x.
            const float s = QString(spacings[step]).toFloat();
            const auto grey_at = [&](double r) { return colourNear(image, toScreen(*view, polar(225, r)), kGrey, 1); };
            for (int i = 1; image.rect().contains(toScreen(*view, polar(225, i * s)).toPoint()); ++i) {
                const bool ring = i * s <= 20 + 1e-4f;
                const QPoint at = toScreen(*view, {i * s, 0}).toPoint();
                const int px = at.x() + 40 > kWidth ? -1 : countPixels(image, isGreen, {at.x(), at.y() - 24, 30, 26});
                const QByteArray where = QStringLiteral("step %1 ring %2").arg(step).arg(i).toUtf8();
                QVERIFY2(grey_at(i * s) == ring, where);
                QVERIFY2(!grey_at((i - 0.5) * s), where);
                if (px >= 0)
                    QVERIFY2((px > 10) == ring, where);
            }
            QCOMPARE(countPixels(image, isGreen, QRect(0, 0, kWidth / 2 - 5, kHeight)), 0);
        }
        for (const auto& [delta, height] : {std::pair(-120, 50.f), std::pair(1, 30.f), std::pair(0, 50.f)}) {
            wheel(*view, delta);
            QCOMPARE(view->cameraDistance(), height); // clamped; no delta zooms out
        }
    }

    void missingFontLeavesViewWorking()
    {
        feedRound();
        tx710test::LogCapture log;
        auto view = makeView(QDir::tempPath() + QStringLiteral("/tx710-no-such-font.otf"));
        const QImage image = view->grabFramebuffer();
        const QString text = log.lines().join('\n');
        QVERIFY2(text.contains("FT_New_Face error"), qPrintable(text));
        QVERIFY2(!text.contains("Face error 0"), qPrintable(text));
        QVERIFY2(!text.contains("FT_Set"), qPrintable(text));
        QCOMPARE(countPixels(image, isGreen), 0); // no labels; points and rings as ever
        QVERIFY(colourNear(image, toScreen(*view, polar(14)), kWhite));
        QVERIFY(countPixels(image, like(kGrey, 20)) > 1000);
    }

    // Every child widget of the view is drawn over the scene as it looks now; the
    // mouse over one still reaches the view.
    void childWidgetsAreOverlays()
    {
        hub()->setRendererNote("drawn in software"); // told as a notice
        auto view = makeView();
        hub()->setRendererNote({});
        QLabel marker(view.get());
        marker.setStyleSheet("background-color: rgb(255, 0, 255);");
        marker.setGeometry(600, 300, 40, 30);
        const auto magenta = [&] {
            return countPixels(view->grabFramebuffer(), like(Qt::magenta, 8), marker.geometry());
        };
        QCOMPARE(magenta(), 0);
        for (const bool shown : {true, false}) {
            marker.setVisible(shown);
            QTRY_COMPARE(magenta(), shown ? 40 * 30 : 0);
        }
        marker.show();
        marker.setStyleSheet("background-color: rgb(0, 0, 255);");
        QTRY_COMPARE(magenta(), 0);

        auto* panel = view->findChild<ShowDataWidget*>();
        const QImage before = view->grabFramebuffer().copy(panel->geometry());
        QVERIFY(countPixels(before, like(kWhite)) > 200); // its texts
        panel->showData(ShowData{1, 2, 3, 456, 789});
        QTRY_VERIFY(view->grabFramebuffer().copy(panel->geometry()) != before);
        const auto* note = view->findChild<QLabel*>("notice_widget");
        QCOMPARE(note->text(), QStringLiteral("drawn in software"));
        const auto* health = view->findChild<QLabel*>("health_line");
        QCOMPARE(health->geometry().bottomLeft(), QPoint(0, kHeight - 1));
        QCOMPARE(note->geometry().bottom() + 1, health->y());
        QVERIFY(countPixels(view->grabFramebuffer(), like(kWhite), note->geometry()) > 20); // its text

        auto* scene = view->windowHandle()->findChild<QOpenGLWindow*>();
        QVERIFY(scene);
        QTest::mouseMove(scene, QPoint(100, 100)); // over the read-out panel
        QCOMPARE(qRound(decoder()->hoverAngle()), 127);

        // The health line and the notices have a translucent dark backing and stay clear of the logo; a long
        // path is cut in its middle.
        const auto* logo = view->findChild<LogoWidget*>();
        for (const QSize size : {QSize(800, 600), QSize(1200, 700), QSize(640, 900)}) {
            view->resize(size);
            QCOMPARE(panel->pos(), QPoint(0, 0));
            QCOMPARE(logo->geometry().bottomRight(), QPoint(size.width() - 1, size.height() - 1));
        }
        marker.hide();
        view->resize(640, 480);
        view->showNotice("Saved 100 rounds to /tmp/" + QString(120, 'x') + "/round.txt");
        const QString lines = view->findChild<NoticeWidget*>()->shownLines().join('|');
        QVERIFY2(QRegularExpression("^Saved 100 rounds to\\|/tmp/x+…x+/round.txt$").match(lines).hasMatch(),
                 qPrintable(lines));
        for (const char* name : {"health_line", "notice_widget"}) {
            auto* overlay = view->findChild<QLabel*>(name);
            QVERIFY(!overlay->geometry().intersects(logo->geometry()));
            QVERIFY(overlay->geometry().right() < 640);
            // The grid's grey in its top margin (no text there) is dimmed.
            const QRect margin(overlay->x(), overlay->y(), overlay->width(), overlay->margin());
            overlay->hide();
            QVERIFY2(countPixels(view->grabFramebuffer().copy(margin), like(kGrey, 20)) > 0, name);
            overlay->show();
            const QImage backed = view->grabFramebuffer().copy(margin);
            QCOMPARE(countPixels(backed, [](const QColor& c) { return c.red() > 100; }), 0);
        }
    }

    void readoutFormats()
    {
        const QStringList live{"12.35°", "1.23457e+06mm", "255", "300.5RPM", "4563"};
        ShowDataWidget panel(nullptr);
        for (const int state : {0, 1, 0, 2}) { // live, paused, live, mouse outside
            hub()->setPlayFlag(state != 1);
            panel.setMouseInView(state != 2);
            panel.showData(ShowData{12.345f, 1234567, 255, 300.5f, 4563}); // nothing of a live point stays
            QCOMPARE(shown(panel), state ? QStringList({"--", "--", "--"}) + live.mid(3) : live);
        }
    }

    void pickedPointReachesTheReadout()
    {
        {
            ProbeView gone;
        } // the round and the pick below reach the callbacks of a view that is gone
        feedRound(12 + 20.0f / 11);
        auto view = makeView();
        setMouseInside(*view, true);
        feedRound(32 + 20.0f / 11); // the middle point of frame 3
        QCOMPARE(shown(*view).mid(0, 4), (QStringList{"33.82°", "250mm", "255", "600RPM"}));

        // A pick goes out with the next round's repaint; when no round follows, shortly after.
        decoder()->setHoverAngle(20 + 12.0f / 11);
        sendFrame(2000, 300, 7);
        QCoreApplication::processEvents();
        QCOMPARE(shown(*view).first(), QStringLiteral("33.82°"));
        QTRY_COMPARE(shown(*view).mid(0, 3), (QStringList{"21.09°", "300mm", "7"}));
    }

    // With decay, older rounds stay on screen dimmer, newest on top; one round by default.
    void decayFadesOlderRounds()
    {
        auto view = makeView();
        // Each fed round publishes a small round around 0 degrees too: five
        // rounds reach back to the first of the three.
        const int expected[2][3] = {{0, 0, 255}, {51, 153, 255}}; // oldest first
        for (const int decay : {1, 5}) {
            view->setDecayRounds(decay);
            for (const int distance : {120, 220, 320})
                feedRound(-1, distance);
            const QImage image = view->grabFramebuffer();
            for (int age = 0; age < 3; ++age) {
                const int want = expected[decay == 5][age];
                QVERIFY2(std::abs(brightnessAt(image, toScreen(*view, polar(112, 0.12 + 0.1 * age))) - want) <= 3,
                         qPrintable(QString("decay %1, round %2").arg(decay).arg(age)));
            }
        }
        for (int round = 0; round < 3; ++round) // a wall that stands still stays white
            feedRound(-1, 420);
        QCOMPARE(brightnessAt(view->grabFramebuffer(), toScreen(*view, polar(112, 0.42))), 255);
    }

    // Where two figures cover one pixel, the one drawn first stays: points,
    // diameters, hover line, rings. Pixels grey without the figure shown by
    // `toggle`; with it, does any show `front`?
    void overlapKeepsDrawingOrder_data()
    {
        QTest::addColumn<bool>("toggle_points"); // else the hover line
        QTest::addColumn<double>("angle");       // the round's point the check is near, degrees
        QTest::addColumn<double>("radius");      // of the check, metres
        QTest::addColumn<QColor>("front");
        QTest::addColumn<bool>("front_shows");
        QTest::newRow("points over diameters") << true << 0.0 << 0.25 << kWhite << true;
        QTest::newRow("points over rings") << true << 75.0 << 0.2 << kWhite << true;
        QTest::newRow("hover line over rings") << false << 45.0 << 0.2 << kYellow << true;
        QTest::newRow("diameters over hover line") << false << 0.0 << 0.15 << kYellow << false;
    }
    void overlapKeepsDrawingOrder()
    {
        QFETCH(bool, toggle_points);
        QFETCH(double, angle);
        QFETCH(double, radius);
        QFETCH(QColor, front);
        QFETCH(bool, front_shows);
        auto view = makeView();
        decoder()->setHoverAngle(float(angle)); // the replayed round's point there is picked
        view->showRecordedRound({{9, 250, 0}, {9, 250, 45}, {9, 200, 75}}, 600);
        const auto frame = [&view, toggle_points](bool with) {
            hub()->setPlayFlag(with || !toggle_points);
            setMouseInside(*view, with || toggle_points);
            return view->grabFramebuffer();
        };
        const QImage without = frame(false), with = frame(true);
        const QPoint at = toScreen(*view, polar(angle, radius)).toPoint();
        int turned = 0;
        for (int x = at.x() - 3; x <= at.x() + 3; ++x)
            for (int y = at.y() - 3; y <= at.y() + 3; ++y)
                turned += matches(without.pixelColor(x, y), kGrey, 8) && matches(with.pixelColor(x, y), front, 8);
        QCOMPARE(turned > 0, front_shows);
    }

    // Two clicks measure: an end near a drawn point snaps to it, else it is
    // where the cursor is; the figures follow zoom.
    void measureSnapsShowsFiguresAndClears()
    {
        feedRound();
        auto view = makeView();
        view->setMeasureMode(true);
        const QPointF point = polar(2);
        click(*view, toScreen(*view, point) + QPointF(0, 3)); // 3 pixels outward of the 2-degree point
        click(*view, toScreen(*view, QPointF(0.1, 0.0)));     // nothing drawn near
        QCOMPARE(view->measureEnds().size(), std::size_t(2));
        QVERIFY(std::hypot(view->measureEnds()[0].x() - point.x(), view->measureEnds()[0].y() - point.y()) < 1e-6);
        auto* label = view->findChild<QLabel*>("measure_label");
        const QStringList figures = label->text().split(' ', Qt::SkipEmptyParts);
        QCOMPARE(figures.size(), 3);
        QVERIFY(std::abs(figures[0].toDouble() - 272.5) < 2.0);            // mm from (-8.7, -249.8) to (100, 0)
        QVERIFY(std::abs(figures[2].chopped(1).toDouble() - 203.5) < 0.5); // degrees, 0 on -y and 180 on +y
        const QPointF middle = (point + QPointF(0.1, 0.0)) / 2;
        const auto line_at_middle = [&view, middle] {
            const QRect around(toScreen(*view, middle).toPoint() - QPoint(2, 2), QSize(5, 5));
            return countPixels(view->grabFramebuffer(), like(QColor(255, 89, 255), 20), around);
        };
        QVERIFY(line_at_middle() > 0);
        wheel(*view, -120);
        QVERIFY(line_at_middle() > 0);
        QVERIFY((label->pos() - (toScreen(*view, middle) + QPointF(8, 8)).toPoint()).manhattanLength() <= 2);

        hub()->setPlayFlag(false); // paused: no point drawn to snap to
        click(*view, toScreen(*view, point) + QPointF(0, 3));
        QVERIFY(std::hypot(view->measureEnds()[0].x() - point.x(), view->measureEnds()[0].y() - point.y()) > 1e-3);
    }

    // Hold and replay show their round while live rounds go on arriving; the
    // read-out then comes from the shown round.
    void heldAndReplayedRoundsStayWhileLiveOnesArrive()
    {
        feedRound();
        auto view = makeView();
        setMouseInside(*view, true);
        const auto shows = [&view](double radius) {
            return brightnessAt(view->grabFramebuffer(), toScreen(*view, polar(2, radius))) > 200;
        };
        view->setHeld(true);
        feedRound(-1, 150);
        QVERIFY(shows(0.25));
        QVERIFY(!shows(0.15));
        QVERIFY(view->findChild<QLabel*>("hold_label")->isVisible());
        sendMouse(*view, QEvent::MouseMove, toScreen(*view, polar(42)).toPoint());
        QCOMPARE(shown(*view)[1], QStringLiteral("250mm"));
        view->setHeld(false);

        view->showRecordedRound({{7, 0, 1}, {9, 180, 2.0f}}, std::nan(""));
        feedRound(-1, 150);
        QVERIFY(shows(0.18));
        QVERIFY(!shows(0.15));
        sendMouse(*view, QEvent::MouseMove, toScreen(*view, polar(2, 0.18)).toPoint());
        QCOMPARE(shown(*view), (QStringList{"2.00°", "180mm", "9", "--", "--"}));
        view->endReplay();
        feedRound(-1, 150);
        QVERIFY(shows(0.15));
    }

    // The health line tells the link's figures each second, and how long no data has come.
    void healthLineShowsFiguresAndSilence()
    {
        auto view = makeView();
        const auto* line = view->findChild<QLabel*>("health_line");
        // One round through the frame finder, then a frame with a wrong CRC.
        for (int k = 0; k <= 36; ++k)
            decoder()->findFrame(
                tx710test::scanFrame(k == 36 ? 100 : k * 1000 + 200, k == 36 ? 500 : k * 1000 + 600, 250, 9));
        QByteArray broken = tx710test::scanFrame(200, 600, 250, 9);
        broken[46] = char(broken[46] ^ 0x5a);
        decoder()->findFrame(broken);
        // Rounds keep coming, past the finder's counts, until the next sample.
        const auto figures_shown = [line] {
            feedRound();
            return line->text().endsWith(QStringLiteral("%1 points/round   CRC rejects (10 s): 1 (2.63 %)")
                                             .arg(decoder()->display_points_.size())); // 37 frames, 1 rejected
        };
        QTRY_VERIFY2(figures_shown(), qPrintable(line->text()));
        QVERIFY(line->text().startsWith("600.0 RPM"));
        QTRY_VERIFY_WITH_TIMEOUT(line->text().startsWith("no data for "), 4000);
        const QImage image = view->grabFramebuffer().copy(line->geometry());
        QVERIFY(countPixels(image, like(QColor(255, 150, 40), 60)) > 20);
    }
};

QTEST_MAIN(TestViewGl)
#include "tst_view_gl.moc"
