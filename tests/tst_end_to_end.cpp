// The whole program in one process, fed by the simulated LiDAR through a
// pseudo-terminal at the full 230400-baud line rate. The functions run in
// order on one session, as a user would go through them.

#include <QtTest>
#include <QtWidgets>

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <thread>

#include "SerialPort/serial_data.h"
#include "SerialPort/serial_logic.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "panels/lidar_tool_bar.h"
#include "support/modal_watcher.h"
#include "support/pty.h"
#include "view/lidar_gl_widget.h"

namespace {

// Ten bits a byte, twelve points a frame.
constexpr double kLinePointsPerSecond = 230400.0 / 10 / tx710::kFrameLength * tx710::kPointsPerFrame;

// The rounds in a recorded file, or -1 unless they are numbered 1..n and each
// is a whole revolution: from just after 0 to just before 360 degrees, with
// growing angles.
int wholeRounds(const QString& path, double step)
{
    std::ifstream in(path.toStdString());
    std::string header, error;
    std::vector<tx710::RecordedPoint> points;
    if (!std::getline(in, header) || header != "Round angle distance intensity"
        || !tx710::readRecordedPoints(in, points, error))
        return -1;
    std::map<int, std::vector<double>> rounds;
    for (const auto& point : points)
        rounds[point.round].push_back(point.angle);
    int expected = 1;
    for (const auto& [round, angles] : rounds)
        if (round != expected++ || angles.front() >= 2 * step || angles.back() <= 360 - 2 * step
            || std::adjacent_find(angles.begin(), angles.end(), std::greater_equal<>()) != angles.end()
            || std::abs(double(angles.size()) - 360 / step) > 2)
            return -1;
    return int(rounds.size());
}

// Pixels where `pick` holds for the colours of two images of one size.
template <typename Pick = std::not_equal_to<>> int pixels(const QImage& a, const QImage& b, Pick pick = {})
{
    int count = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            count += pick(a.pixelColor(x, y), b.pixelColor(x, y)) ? 1 : 0;
    return count;
}

QString beside(const QString& name) { return QCoreApplication::applicationDirPath() + '/' + name; }
QStringList filesIn(const QString& dir) { return QDir(beside(dir)).entryList(QDir::Files); }

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

    QMap<QString, QStringList> before_{{"data", filesIn("data")}, {"Screenshots", filesIn("Screenshots")}};
    tx710test::PseudoTerminal pty_;
    std::atomic<bool> stop_feed_{false}, hang_up_{false};
    std::thread feed_;
    std::unique_ptr<tx710::StartupSession> session_;
    LidarGLWidget* view_ = nullptr;
    LidarToolBar* tool_bar_ = nullptr;
    QProgressDialog* progress_ = nullptr;
    const double step_ = tx710::SimulatedLidar(kLinePointsPerSecond).degreesPerPoint();

    QImage frame() const { return view_->grabFramebuffer().convertToFormat(QImage::Format_RGB32); }
    QToolButton* button(const char* name) const { return tool_bar_->findChild<QToolButton*>(name); }
    void click(const char* name) const { QTest::mouseClick(button(name), Qt::LeftButton); }
    static void waitForRounds(int rounds) { QTest::qWait(rounds * 100 + 50); } // ten a second

    // Streams frames in real time from its own thread, so that a GUI thread
    // blocked in a modal box or a wait cannot stall the device. A hang-up
    // closes the line as an unplugged adapter would.
    void feed()
    {
        tx710::SimulatedLidar lidar(kLinePointsPerSecond);
        const auto start = std::chrono::steady_clock::now();
        for (QByteArray bytes; !stop_feed_ && !hang_up_ && pty_.write(std::exchange(bytes, {}));) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
            while (lidar.sceneTime() <= elapsed.count())
                bytes += tx710test::frameBytes(lidar);
        }
        if (hang_up_)
            pty_.hangUp();
    }
    void startSave(int rounds)
    {
        click("save_button");
        QTRY_VERIFY_WITH_TIMEOUT(progress_->findChild<QProgressBar*>()->value() >= rounds, 10000);
    }
    // Files the run has added to a folder; each test removes its own.
    QStringList added(const QString& folder) const
    {
        QStringList names = filesIn(folder);
        for (const QString& name : before_[folder])
            names.removeAll(name);
        return names;
    }
    // Whole rounds in the one file the last save wrote, which then goes.
    int savedRounds()
    {
        const QStringList files = added("data");
        const int rounds = files.size() == 1 ? wholeRounds(beside("data/" + files[0]), step_) : -2;
        QFile::remove(beside("data/" + files.value(0)));
        return rounds;
    }

private slots:
    void init() { QVERIFY(view_ || !session_); } // the session's window is there
    void initTestCase()
    {
        SerialLogic::instance()->setPortLister([port = pty_.slavePath()] { return QStringList{port}; });
    }

    void cleanupTestCase()
    {
        SerialData::instance()->stopSaveData();
        QTRY_VERIFY_WITH_TIMEOUT(!SerialData::instance()->saveRunning(), 10000);
        stop_feed_ = true;
        if (feed_.joinable())
            feed_.join();
        session_.reset();
        for (const QString& folder : before_.keys()) {
            for (const QString& name : added(folder))
                QFile::remove(beside(folder + '/' + name));
            if (before_[folder].isEmpty())
                QDir().rmdir(beside(folder));
        }
    }

    void pickingThePortReplacesTheDialog()
    {
        session_ = std::make_unique<tx710::StartupSession>();
        SerialDialog& dialog = session_->dialog();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTRY_COMPARE_WITH_TIMEOUT(dialog.findChild<QComboBox*>("serial_combo_box")->currentText(),
                                  pty_.slavePath(), 3000);
        feed_ = std::thread([this] { feed(); });
        QTest::mouseClick(dialog.findChild<QPushButton*>("ok_button"), Qt::LeftButton);

        QVERIFY(session_->mainWindow() && QTest::qWaitForWindowExposed(session_->mainWindow().get())
                && !dialog.isVisible());
        view_ = session_->mainWindow()->findChild<LidarGLWidget*>("openGLWidget");
        tool_bar_ = session_->mainWindow()->findChild<LidarToolBar*>();
        QVERIFY(view_ && tool_bar_);
        progress_ = tool_bar_->findChild<QProgressDialog*>();
    }

    void liveRoundsAreDrawnUntilPaused()
    {
        waitForRounds(5);
        // About 490 frames a second arrive, all of them intact.
        QVERIFY(SerialData::instance()->acceptedFrameCount() > 250);
        QCOMPARE(SerialData::instance()->rejectedFrameCount(), std::uint64_t(0));
        // One round of points is shown, less the directions without a return.
        const double points = double(SerialData::instance()->display_points_.size());
        QVERIFY2(points > 0.7 * 360 / step_ && points < 360 / step_ + 13, qPrintable(QString::number(points)));

        for (int i = 0; i < 4; ++i) // the room's walls lie beyond the first steps
            click("zoom_out_button");
        waitForRounds(1);
        const QImage live = frame();
        auto showsIcon = [this](const char* icon) {
            return button("play_button")->icon().pixmap(32, 32).toImage() == QPixmap(icon).scaled(32, 32).toImage();
        };
        click("play_button");
        QVERIFY(showsIcon(":/Image/play.png"));
        const QImage paused = frame();
        QVERIFY(pixels(live, paused) > 200); // the points are gone
        waitForRounds(3);
        QCOMPARE(pixels(paused, frame()), 0); // rounds arrive but are not shown
        click("play_button");
        QVERIFY(showsIcon(":/Image/pause.png"));
        waitForRounds(2);
        const QImage resumed = frame();
        QVERIFY(pixels(resumed, paused) > 200);
        waitForRounds(2);
        QVERIFY(pixels(resumed, frame()) > 0); // noisy ranges: live rounds differ
    }

    void colorMapShowsStrongReturns()
    {
        auto* box = tool_bar_->findChild<QCheckBox*>("checkBox_colormap");
        for (bool on : {false, true, false}) {
            if (box->isChecked() != on)
                box->click();
            waitForRounds(3);
            // The reflector's intensities above 210 are drawn yellow or cyan.
            const QImage image = frame();
            QCOMPARE(pixels(image, image, [](QColor c, QColor) {
                return c.green() > 200 && ((c.red() > 200 && c.blue() < 80) || (c.red() < 80 && c.blue() > 200));
            }) > 0, on);
        }
    }

    void zoomAndOriginFromTheToolBar()
    {
        click("zoom_in_button");
        click("zoom_in_button");
        QCOMPARE(view_->cameraDistance(), 3.0f);
        click("zoom_out_button");
        QCOMPARE(view_->cameraDistance(), 4.0f);
        // Drag the scene with the left button, then back to the origin.
        const QPoint from = view_->rect().center(), to = from + QPoint(120, -80);
        QTest::mousePress(view_, Qt::LeftButton, {}, from);
        QMouseEvent drag(QEvent::MouseMove, to, view_->mapToGlobal(to), Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(view_, &drag);
        QTest::mouseRelease(view_, Qt::LeftButton, {}, to);
        QVERIFY(view_->panOffset() != QPointF(0, 0));
        click("origin_button");
        QCOMPARE(view_->panOffset(), QPointF(0, 0));
        QCOMPARE(view_->zoomIndex(), 3);
    }

    void saveOfHundredRoundsAtLineRate()
    {
        int highest = 0;
        bool enabled_while_writing = false;
        QTimer watch;
        connect(progress_->findChild<QProgressBar*>(), &QProgressBar::valueChanged, &watch,
                [&](int value) { highest = std::max(highest, value); });
        connect(&watch, &QTimer::timeout, this, [&] {
            enabled_while_writing |= button("save_button")->isEnabled() && SerialData::instance()->saveRunning();
        });
        watch.start(5);
        click("save_button");
        QVERIFY(!button("save_button")->isEnabled() && progress_->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(button("save_button")->isEnabled(), 30000);
        QVERIFY(!enabled_while_writing && !progress_->isVisible() && !SerialData::instance()->saveRunning());
        QCOMPARE(highest, 100);
        QCOMPARE(savedRounds(), 100);
    }

    void cancelMidSave()
    {
        startSave(20);
        QTest::mouseClick(progress_->findChild<QPushButton*>(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(button("save_button")->isEnabled(), 10000);
        QVERIFY(!progress_->isVisible() && !SerialData::instance()->saveRunning());
        const int rounds = savedRounds();
        QVERIFY2(rounds >= 20 && rounds < 100, qPrintable(QString::number(rounds)));
    }

    void screenshotOfTheView()
    {
        QLabel marker(view_); // lies over the view on screen, so it is in the picture
        marker.setStyleSheet("background-color: rgb(255, 0, 255);");
        marker.setGeometry(view_->width() / 2, view_->height() / 2, 40, 30);
        marker.show();
        QTest::qWait(300);
        click("intercept_button");
        const QStringList files = added("Screenshots");
        QCOMPARE(files.size(), 1);
        const QImage shot(beside("Screenshots/" + files[0]), "PNG");
        QVERIFY(QFile::remove(beside("Screenshots/" + files[0])));
        QVERIFY2(QRegularExpression(R"(^\d{4}-\d\d-\d\d_\d\d_\d\d_\d\d_\d{3}-Screenshot\.png$)")
                     .match(files[0]).hasMatch(), qPrintable(files[0]));
        QCOMPARE(shot.size(), view_->size());
        // The view's area only: the marker sits where it sits in the view.
        const QPoint at(view_->width() / 2, view_->height() / 2);
        for (const QPoint& offset : {QPoint(20, 15), QPoint(-5, 15), QPoint(20, -5)})
            QCOMPARE(shot.pixelColor(at + offset) == QColor(255, 0, 255), offset == QPoint(20, 15));
    }

    // Last: the link loss ends the application's event loops.
    void hangUpMidSaveEndsWithExitCodeZero()
    {
        startSave(10);
        tx710test::ModalWatcher watcher;
        QEventLoop loop; // stands for the application's event loop
        hang_up_ = true;
        QTimer::singleShot(20000, &loop, [&loop] { loop.exit(99); });
        QCOMPARE(loop.exec(), 0);
        QCOMPARE(watcher.seen(), QStringList{tx710test::kLinkLostBox});

        // No more rounds can come: end the collection and let the writer drain.
        SerialData::instance()->stopSaveData();
        QTRY_VERIFY_WITH_TIMEOUT(!SerialData::instance()->saveRunning(), 10000);
        const int rounds = savedRounds();
        QVERIFY2(rounds >= 10, qPrintable(QString::number(rounds)));
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_end_to_end.moc"
