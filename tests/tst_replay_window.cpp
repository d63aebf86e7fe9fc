// A recording replayed in the real main window (drawn by Mesa under Xvfb and
// read back), a file refused with its line and reason, and --replay through
// the real program.

#include <QProcess>
#include <QtTest>
#include <QtWidgets>

#include <cmath>
#include <csignal>

#include "app/main_window.h"
#include "panels/device_legend.h"
#include "recording/mcap_writer.h"
#include "recording/output_folder.h"
#include "support/device_scans.h"
#include "support/fixtures.h"
#include "view/lidar_gl_widget.h"
#include "view/shown_rounds.h"

namespace {

// Round r (0-based) lies in its own quarter: points every 5 degrees from 90 r + 10, 250 mm away.
std::vector<PointRecord> quarter(int r)
{
    std::vector<PointRecord> points;
    for (int a = 10; a <= 80; a += 5)
        points.push_back(PointRecord{100, 250, float(90 * r + a)}); // intensity 100: white with or without colour map
    return points;
}

// The screen pixel of a point of the robot's base frame (mm; x forward, drawn downward; y to the left,
// drawn to the right), and of a point of one LiDAR standing at its origin (clockwise from forward).
QPoint baseToScreen(const LidarGLWidget& view, QPointF base_mm)
{
    return view.pixelPosition(QVector2D(float(base_mm.y() / 1000), float(-base_mm.x() / 1000))).toPoint();
}
QPoint toScreen(const LidarGLWidget& view, const PointRecord& p)
{
    const double a = p.angle * M_PI / 180;
    return baseToScreen(view, QPointF(p.distance * std::cos(a), -p.distance * std::sin(a)));
}

// The pixels within 2 of `at` with every channel within `tolerance` of `want`'s.
int pixelsNear(const QImage& image, QPoint at, const QColor& want, int tolerance = 30)
{
    int count = 0;
    for (int i = 0; i < 25; ++i) {
        const QColor c = image.pixelColor(at + QPoint(i % 5 - 2, i / 5 - 2));
        count += std::max({std::abs(c.red() - want.red()), std::abs(c.green() - want.green()),
                           std::abs(c.blue() - want.blue())})
            <= tolerance;
    }
    return count;
}
QColor deviceColor(int device)
{
    const QVector3D colour = tx710::deviceColour(device);
    return QColor::fromRgbF(colour.x(), colour.y(), colour.z());
}

// How many of `points` have a white (or with decay grey, above `level`) pixel within 2 pixels.
int pointsOnScreen(const QImage& image, const LidarGLWidget& view, const std::vector<PointRecord>& points,
                   int level = 215)
{
    return int(std::count_if(points.begin(), points.end(), [&](const PointRecord& p) {
        return pixelsNear(image, toScreen(view, p), Qt::white, 254 - level) > 0;
    }));
}

// An MCAP recording of `rounds` of the LiDARs `devices`, as tx710-record writes it.
void writeMcap(const QString& path, const tx710::DeviceScans& devices, const std::vector<ScanRound>& rounds)
{
    QDir().mkpath(QFileInfo(path).path());
    tx710::mcap::WriterOptions options;
    options.devices = devices;
    tx710::mcap::Writer writer(options);
    QVERIFY(writer.open(path));
    for (const ScanRound& round : rounds)
        QVERIFY(writer.writeRound(round));
    QVERIFY(writer.close());
}

} // namespace

class TestReplayWindow : public QObject
{
    Q_OBJECT
    QTemporaryDir home_; // settings and files of the test
    const tx710test::FolderCleanup screenshots_{tx710::besideExecutable("Screenshots")}; // made by the tool bar
    std::unique_ptr<MainWindow> window_;
    QString good_, bad_;

    template <class T> T* child(const char* name) const { return window_->findChild<T*>(name); }
    QString roundLabel() const { return child<QLabel>("replay_round_label")->text(); }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        qputenv("HOME", home_.path().toLocal8Bit());
        QByteArray text = tx710::datafile::headerLine(), hundred = text;
        for (int r = 0; r < 100; ++r) {
            tx710::datafile::appendRound(hundred, r + 1, quarter(r % 4));
            if (r < 4)
                tx710::datafile::appendRound(text, r + 1, quarter(r));
        }
        // Two LiDARs 0.2 m apart on the robot's x axis, the rear one turned to the left and head down, and
        // their rounds in time order: front, rear, front again; and the rounds above of one LiDAR, plain and
        // placed.
        tx710::DeviceScans two = tx710test::devicesOf("front:0.1,0,0.3,0 rear:-0.1,0,0.3,90");
        two[1].upside_down = true;
        writeMcap(home_.filePath("two.mcap"), two,
                  {{1, 1000000000, {{100, 200, 0}, {100, 200, 90}}, 600, 0},
                   {1, 1050000000, {{100, 300, 90}, {100, 200, 0}}, 600, 1},
                   {2, 1100000000, {{100, 200, 45}}, 600, 0}});
        std::vector<ScanRound> rounds;
        for (int r = 0; r < 4; ++r)
            rounds.push_back({r + 1, (r + 1) * 100000000, quarter(r), 600, 0});
        writeMcap(home_.filePath("plain/one.mcap"), {tx710::ScanOptions()}, rounds);
        writeMcap(home_.filePath("placed/one.mcap"), tx710test::devicesOf("front:0.1,0,0.3,30"), rounds);
        good_ = home_.filePath("room.txt");
        bad_ = home_.filePath("bad.txt");
        const QByteArray malformed = tx710::datafile::headerLine() + "1 10.000 250 100\n1 15.000 abc 100\n";
        for (const auto& [path, bytes] :
             {std::pair(good_, text), std::pair(bad_, malformed), std::pair(home_.filePath("hundred.txt"), hundred)}) {
            QFile file(path);
            QCOMPARE(file.open(QIODevice::WriteOnly) ? file.write(bytes) : -1, qint64(bytes.size()));
        }
    }
    void init()
    {
        window_ = std::make_unique<MainWindow>(nullptr);
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
        QVERIFY(!child<QWidget>("playback_bar")->isVisible()); // nothing of a replay without a recording
    }
    void cleanup() { window_.reset(); }

    // Stepped to a round (by the bar's keys, which click its buttons), the view shows that round's
    // points and no other's; closed, the recording leaves the view.
    void steppedRoundIsOnScreen()
    {
        window_->openRecording(good_);
        QVERIFY(child<QWidget>("playback_bar")->isVisible());
        QApplication::setActiveWindow(window_.get()); // Xvfb has no window manager to do it
        QTest::keyClick(window_.get(), Qt::Key_P);    // it plays once open
        QCOMPARE(child<QToolButton>("replay_play_button")->toolTip(), QString("Play the recording (P)"));
        child<QSlider>("replay_slider")->setValue(0);
        QTest::keyClick(window_.get(), Qt::Key_Right);
        QTest::keyClick(window_.get(), Qt::Key_Right);
        QCOMPARE(roundLabel(), QString("round 3 of 4"));
        QCOMPARE(child<QLabel>("health_line")->text(), QString("room.txt  round 3 of 4"));
        auto* view = window_->findChild<LidarGLWidget*>();
        const QImage image = view->grabFramebuffer();
        QCOMPARE(pointsOnScreen(image, *view, quarter(2)), 15);
        QCOMPARE(pointsOnScreen(image, *view, quarter(0)), 0);

        // With decay, a step back shows the rounds before, not the one left.
        view->setDecayRounds(4); // the next older round at 3/4 brightness
        child<QSlider>("replay_slider")->setValue(3);
        QTest::keyClick(window_.get(), Qt::Key_Left);
        const QImage decayed = view->grabFramebuffer();
        QCOMPARE(pointsOnScreen(decayed, *view, quarter(1), 150), 15);
        QCOMPARE(pointsOnScreen(decayed, *view, quarter(3), 150), 0);

        QTest::keyClick(window_.get(), Qt::Key_W, Qt::ControlModifier);
        QVERIFY(!child<QWidget>("playback_bar")->isVisible());
        QCOMPARE(pointsOnScreen(view->grabFramebuffer(), *view, quarter(2)), 0);
    }

    // The slider of a save of 100 rounds keeps its length whatever the label says, and a click on its
    // track goes there.
    void sliderOfAHundredRounds()
    {
        window_->openRecording(home_.filePath("hundred.txt"));
        child<QToolButton>("replay_play_button")->click(); // pauses
        child<QSlider>("replay_slider")->setValue(36);
        QCOMPARE(roundLabel(), QString("round 37 of 100"));
        auto* slider = child<QSlider>("replay_slider");
        child<QWidget>("playback_bar")->layout()->activate();
        const int length = slider->width();
        slider->setValue(99);
        child<QWidget>("playback_bar")->layout()->activate();
        QCOMPARE(slider->width(), length);
        QTest::mouseClick(slider, Qt::LeftButton, Qt::NoModifier, QPoint(slider->width() / 2, slider->height() / 2));
        QVERIFY2(qAbs(slider->value() - 50) <= 3, qPrintable(roundLabel()));
    }

    // Each LiDAR's latest round at or before the step, placed by its mount in the base frame, in its colour;
    // hovered, the point nearest the cursor along its ray, of whichever LiDAR.
    void severalLidarsInTheBaseFrame_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("device");
        QTest::addColumn<QPointF>("base_mm");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<QString>("read_out"); // hovered, when given
        QTest::newRow("front ahead") << 1 << 0 << QPointF(300, 0) << true << "front 300mm";
        QTest::newRow("front to its right") << 1 << 0 << QPointF(100, -200) << true << "";
        QTest::newRow("rear, head down, to its left") << 1 << 1 << QPointF(-400, 0) << true << "rear 400mm";
        QTest::newRow("rear ahead") << 1 << 1 << QPointF(-100, 200) << true << "";
        QTest::newRow("front's next round") << 2 << 0 << QPointF(241.4, -141.4) << true << "";
        QTest::newRow("front's round before") << 2 << 0 << QPointF(100, -200) << false << "";
        QTest::newRow("rear's latest round") << 2 << 1 << QPointF(-100, 200) << true << "";
    }
    void severalLidarsInTheBaseFrame()
    {
        QFETCH(int, step);
        QFETCH(int, device);
        QFETCH(QPointF, base_mm);
        QFETCH(bool, shown);
        QFETCH(QString, read_out);
        window_->openRecording(home_.filePath("two.mcap"));
        child<QToolButton>("replay_play_button")->click(); // pauses
        child<QSlider>("replay_slider")->setValue(step);   // a jump from the first round
        auto* view = window_->findChild<LidarGLWidget*>();
        const QImage image = view->grabFramebuffer();
        QCOMPARE(pixelsNear(image, baseToScreen(*view, base_mm), deviceColor(device)) > 0, shown);
        if (read_out.isEmpty())
            return;
        QEvent enter(QEvent::Enter);
        QMouseEvent move(QEvent::MouseMove, baseToScreen(*view, base_mm), Qt::NoButton, {}, {});
        for (QEvent* event : {&enter, static_cast<QEvent*>(&move)})
            QCoreApplication::sendEvent(view, event);
        QCOMPARE(child<QLabel>("device_label")->text() + ' ' + child<QLabel>("distance_label")->text(), read_out);
    }

    // The legend names the LiDARs in their colours, in screenshots too, and goes with the recording.
    void legendInScreenshots()
    {
        window_->openRecording(home_.filePath("two.mcap"));
        auto* legend = window_->findChild<DeviceLegend*>();
        QCOMPARE(legend->lines(), QStringList({"front", "rear"}));
        const tx710test::FolderCleanup shots(tx710::besideExecutable("Screenshots"));
        QVERIFY(QSignalSpy(window_->findChild<LidarGLWidget*>(), &LidarGLWidget::frameDrawn).wait()); // on screen
        window_->saveScreenshot();
        const QImage shot(tx710::besideExecutable("Screenshots") + '/' + shots.added().value(0));
        for (int device : {0, 1}) { // the swatches, one above the other
            int swatch = 0;
            for (int y = legend->y(); y < legend->geometry().bottom(); y += 4)
                swatch += pixelsNear(shot, QPoint(legend->x() + 10, y), deviceColor(device));
            QVERIFY2(swatch > 10, qPrintable(legend->lines().value(device)));
        }
        window_->closeRecording();
        QVERIFY(!legend->isVisible());
    }

    // A recording of one LiDAR, even a placed one, looks as it always did.
    void oneLidarLooksAsEver()
    {
        auto* view = window_->findChild<LidarGLWidget*>();
        QImage images[2];
        for (const int placed : {0, 1}) {
            window_->openRecording(home_.filePath(placed ? "placed/one.mcap" : "plain/one.mcap"));
            child<QToolButton>("replay_play_button")->click();
            child<QSlider>("replay_slider")->setValue(2);
            images[placed] = view->grabFramebuffer();
        }
        QCOMPARE(pointsOnScreen(images[0], *view, quarter(2)), 15);
        QVERIFY(images[1] == images[0]);
    }

    // The dialog starts where the last recording came from; a dropped file opens.
    void dialogAndDrop()
    {
        window_->openRecording(good_);
        window_->closeRecording();
        QString folder, filter;
        QTimer::singleShot(200, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            folder = dialog ? dialog->directory().path() : "no dialog";
            filter = dialog ? dialog->nameFilters().join(';') : "";
            if (dialog)
                dialog->reject();
        });
        window_->chooseRecording();
        QCOMPARE(folder, home_.path());
        QCOMPARE(filter, QString("Recordings (*.txt *.mcap)"));

        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(good_)});
        QDragEnterEvent enter(QPoint(500, 400), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window_.get(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPoint(500, 400), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window_.get(), &drop);
        QVERIFY(child<QWidget>("playback_bar")->isVisible());
    }

    void replayOptionOpensTheWindow_data()
    {
        QTest::addColumn<bool>("readable");
        QTest::newRow("recording") << true;
        QTest::newRow("malformed file") << false;
    }
    // No port dialog; a file that cannot be read leaves the window up; exit code 0.
    void replayOptionOpensTheWindow()
    {
        QFETCH(bool, readable);
        QProcess viewer;
        viewer.setProcessChannelMode(QProcess::MergedChannels);
        viewer.start(tx710test::programPath("TX710Viewer"), {"--replay", readable ? good_ : bad_});
        const QByteArray awaited = readable ? "replaying \"" + good_.toLocal8Bit() + "\" 4 rounds"
                                            : "replay open error: \"" + bad_.toLocal8Bit() + "\" \"line 3: distance";
        QByteArray log;
        QTRY_VERIFY2_WITH_TIMEOUT((log += viewer.readAll()).contains(awaited), log.constData(), 20000);
        QVERIFY(!log.contains("setCallback")); // the port dialog's
        QVERIFY(!viewer.waitForFinished(300)); // still up
        ::kill(viewer.processId(), SIGTERM);
        QVERIFY(viewer.waitForFinished(15000));
        QCOMPARE(viewer.exitCode(), 0);
    }
};

QTEST_MAIN(TestReplayWindow)
#include "tst_replay_window.moc"
