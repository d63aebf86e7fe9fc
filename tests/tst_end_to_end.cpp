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
#include "view/lidar_gl_function.h"
#include "view/lidar_gl_widget.h"

namespace {

// Ten bits a byte, twelve points a frame.
constexpr double kLinePointsPerSecond = 230400.0 / 10 / tx710::kFrameLength * tx710::kPointsPerFrame;

// Streams frames in real time from its own thread, so that a GUI thread
// blocked in a modal box or a wait cannot stall the device.
class SimulatorFeed
{
public:
    explicit SimulatorFeed(tx710test::PseudoTerminal& pty) : thread_([this, &pty] { run(pty); }) {}
    ~SimulatorFeed()
    {
        stop_ = true;
        thread_.join();
    }
    std::atomic<bool> hang_up{false}; // closes the line as an unplugged adapter would

private:
    void run(tx710test::PseudoTerminal& pty)
    {
        tx710::SimulatedLidar lidar(kLinePointsPerSecond);
        const auto start = std::chrono::steady_clock::now();
        for (QByteArray bytes; !stop_ && !hang_up; bytes.clear()) {
            const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
            while (lidar.sceneTime() <= elapsed.count())
                bytes += tx710test::frameBytes(lidar);
            if (!pty.write(bytes))
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (hang_up)
            pty.hangUp();
    }
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The rounds in a recorded file, or -1 unless they are numbered 1..n and each
// is a whole revolution: from just after 0 to just before 360 degrees, with
// growing angles.
int wholeRounds(const QString& path, double step)
{
    std::ifstream in(path.toStdString());
    std::string header, error;
    std::vector<tx710::RecordedPoint> points;
    if (!std::getline(in, header) || header != "Round angle distance intensity"
        || !tx710::readRecordedPoints(in, points, error) || points.empty())
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
template <typename Pick> int pixels(const QImage& a, const QImage& b, Pick pick)
{
    int count = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            count += pick(a.pixelColor(x, y), b.pixelColor(x, y)) ? 1 : 0;
    return count;
}
int differingPixels(const QImage& a, const QImage& b) { return pixels(a, b, std::not_equal_to<>()); }
int yellowOrCyanPixels(const QImage& image)
{
    return pixels(image, image, [](QColor c, QColor) {
        return c.green() > 200 && ((c.red() > 200 && c.blue() < 80) || (c.red() < 80 && c.blue() > 200));
    });
}

QString beside(const QString& name) { return QCoreApplication::applicationDirPath() + '/' + name; }
QStringList filesIn(const QString& dir) { return QDir(beside(dir)).entryList(QDir::Files); }
QStringList added(const QString& dir, const QStringList& before)
{
    QStringList names = filesIn(dir);
    for (const QString& name : before)
        names.removeAll(name);
    return names;
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

    const QStringList folders_{"data", "Screenshots"};
    QMap<QString, QStringList> before_; // files of each folder
    QStringList made_;                  // folders the run makes
    std::unique_ptr<tx710test::PseudoTerminal> pty_;
    std::unique_ptr<SimulatorFeed> feed_;
    std::unique_ptr<tx710::StartupSession> session_;
    LidarGLWidget* view_ = nullptr;
    LidarToolBar* tool_bar_ = nullptr;
    QProgressDialog* progress_ = nullptr;
    const double step_ = tx710::SimulatedLidar(kLinePointsPerSecond).degreesPerPoint();

    QImage frame() const { return view_->grabFramebuffer().convertToFormat(QImage::Format_RGB32); }
    QToolButton* button(const char* name) const { return tool_bar_->findChild<QToolButton*>(name); }
    void click(const char* name) const { QTest::mouseClick(button(name), Qt::LeftButton); }
    static void waitForRounds(int rounds) { QTest::qWait(rounds * 100 + 50); } // ten a second

    // Starts a save and waits until it has written `rounds` rounds.
    void startSave(int rounds)
    {
        click("save_button");
        QTRY_VERIFY_WITH_TIMEOUT(progress_->findChild<QProgressBar*>()->value() >= rounds, 10000);
    }
    // Whole rounds in the one file written since `before`, which then goes.
    int savedRounds(const QStringList& before)
    {
        const QStringList files = added("data", before);
        const int rounds = files.size() == 1 ? wholeRounds(beside("data/" + files[0]), step_) : -2;
        for (const QString& name : files)
            QFile::remove(beside("data/" + name));
        return rounds;
    }

private slots:
    void initTestCase()
    {
        for (const QString& folder : folders_) {
            before_[folder] = filesIn(folder);
            if (!QDir(beside(folder)).exists())
                made_ << folder;
        }
        pty_ = std::make_unique<tx710test::PseudoTerminal>();
        QVERIFY(pty_->isOpen());
        SerialLogic::instance()->setPortLister([port = pty_->slavePath()] { return QStringList{port}; });
    }

    void cleanupTestCase()
    {
        SerialData::instance()->stopSaveData();
        QTRY_VERIFY_WITH_TIMEOUT(!SerialData::instance()->saveRunning(), 10000);
        feed_.reset();
        session_.reset();
        SerialLogic::instance()->setPortLister({});
        for (const QString& folder : folders_)
            for (const QString& name : added(folder, before_[folder]))
                QFile::remove(beside(folder + '/' + name));
        for (const QString& folder : made_)
            QDir().rmdir(beside(folder));
    }

    void pickingThePortReplacesTheDialog()
    {
        session_ = std::make_unique<tx710::StartupSession>();
        SerialDialog& dialog = session_->dialog();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTRY_COMPARE_WITH_TIMEOUT(dialog.findChild<QComboBox*>("serial_combo_box")->currentText(),
                                  pty_->slavePath(), 3000);
        feed_ = std::make_unique<SimulatorFeed>(*pty_);
        QTest::mouseClick(dialog.findChild<QPushButton*>("ok_button"), Qt::LeftButton);

        QVERIFY(session_->mainWindow() && QTest::qWaitForWindowExposed(session_->mainWindow().get()));
        QVERIFY(!dialog.isVisible());
        view_ = session_->mainWindow()->findChild<LidarGLWidget*>("openGLWidget");
        tool_bar_ = session_->mainWindow()->findChild<LidarToolBar*>();
        QVERIFY(view_ && tool_bar_);
        progress_ = tool_bar_->findChild<QProgressDialog*>();
    }

    void liveRoundsAreDrawnUntilPaused()
    {
        QVERIFY(view_);
        const std::uint64_t frames_before = SerialData::instance()->acceptedFrameCount();
        waitForRounds(5);
        // About 490 frames a second arrive, all of them intact.
        QVERIFY(SerialData::instance()->acceptedFrameCount() - frames_before > 150);
        QCOMPARE(SerialData::instance()->rejectedFrameCount(), std::uint64_t(0));
        // One round of points is shown, less the directions without a return.
        const double points = double(SerialData::instance()->display_points_.size());
        QVERIFY2(points > 0.7 * 360 / step_ && points < 360 / step_ + 13, qPrintable(QString::number(points)));

        for (int i = 0; i < 4; ++i) // the room's walls lie beyond the first steps
            click("zoom_out_button");
        waitForRounds(1);
        const QImage live = frame();
        click("play_button");
        const QImage paused = frame();
        QVERIFY(differingPixels(live, paused) > 200); // the points are gone
        waitForRounds(3);
        QCOMPARE(differingPixels(paused, frame()), 0); // rounds arrive but are not shown
        click("play_button");
        waitForRounds(2);
        const QImage resumed = frame();
        QVERIFY(differingPixels(resumed, paused) > 200);
        waitForRounds(2);
        QVERIFY(differingPixels(resumed, frame()) > 0); // noisy ranges: live rounds differ
    }

    void colorMapShowsStrongReturns()
    {
        QVERIFY(view_);
        auto* box = tool_bar_->findChild<QCheckBox*>("checkBox_colormap");
        for (bool on : {false, true, false}) {
            if (box->isChecked() != on)
                box->click();
            waitForRounds(3);
            // The reflector's intensities above 210 are drawn yellow or cyan.
            QCOMPARE(yellowOrCyanPixels(frame()) > 0, on);
        }
    }

    void zoomAndOriginFromTheToolBar()
    {
        QVERIFY(view_);
        LidarGLFunction::instance()->setPlayFlag(false); // compare grids only
        const QImage far = frame();
        click("zoom_in_button");
        click("zoom_in_button");
        QCOMPARE(view_->cameraDistance(), 3.0f);
        QVERIFY(differingPixels(far, frame()) > 0);
        click("zoom_out_button");
        QCOMPARE(view_->cameraDistance(), 4.0f);
        LidarGLFunction::instance()->setPlayFlag(true);

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
        for (int i = 0; i < 4; ++i)
            click("zoom_in_button");
        QCOMPARE(view_->cameraDistance(), 1.0f);
    }

    void saveOfHundredRoundsAtLineRate()
    {
        QVERIFY(view_);
        const QStringList before = filesIn("data");
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
        QCOMPARE(savedRounds(before), 100);
    }

    void cancelMidSave()
    {
        QVERIFY(view_);
        const QStringList before = filesIn("data");
        startSave(20);
        QTest::mouseClick(progress_->findChild<QPushButton*>(), Qt::LeftButton);
        QVERIFY(!progress_->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(button("save_button")->isEnabled(), 10000);
        QVERIFY(!progress_->isVisible() && !SerialData::instance()->saveRunning());
        const int rounds = savedRounds(before);
        QVERIFY2(rounds >= 20 && rounds < 100, qPrintable(QString::number(rounds)));
    }

    void screenshotOfTheView()
    {
        QVERIFY(view_);
        const QStringList before = filesIn("Screenshots");
        click("intercept_button");
        const QStringList files = added("Screenshots", before);
        QCOMPARE(files.size(), 1);
        const QImage shot(beside("Screenshots/" + files[0]), "PNG");
        QVERIFY(QFile::remove(beside("Screenshots/" + files[0])));
        QVERIFY2(QRegularExpression(R"(^\d{4}-\d\d-\d\d_\d\d_\d\d_\d\d_\d{3}-Screenshot\.png$)")
                     .match(files[0]).hasMatch(), qPrintable(files[0]));
        QCOMPARE(shot.size(), view_->size());
    }

    // Last: the link loss ends the application's event loops.
    void hangUpMidSaveEndsWithExitCodeZero()
    {
        QVERIFY(view_);
        const QStringList before = filesIn("data");
        startSave(10);
        tx710test::ModalWatcher watcher;
        QEventLoop loop; // stands for the application's event loop
        QTimer::singleShot(0, this, [this] { feed_->hang_up = true; });
        QTimer::singleShot(20000, &loop, [&loop] { loop.exit(99); });
        QCOMPARE(loop.exec(), 0);
        QCOMPARE(watcher.seen(), QStringList{tx710test::kLinkLostBox});

        // No more rounds can come: end the collection and let the writer drain.
        SerialData::instance()->stopSaveData();
        QTRY_VERIFY_WITH_TIMEOUT(!SerialData::instance()->saveRunning(), 10000);
        const int rounds = savedRounds(before);
        QVERIFY2(rounds >= 10, qPrintable(QString::number(rounds)));
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_end_to_end.moc"
