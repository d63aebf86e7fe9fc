// The whole program in one process, fed by the simulated LiDAR through a pseudo-terminal at the full
// 230400-baud line rate. The functions run in order on one session, as a user would go through them.

#include <QtTest>
#include <QtWidgets>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "SerialPort/serial_data.h"
#include "SerialPort/serial_logic.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "panels/lidar_tool_bar.h"
#include "recording/data_file.h"
#include "support/fixtures.h"
#include "support/modal_watcher.h"
#include "support/pty.h"
#include "view/lidar_gl_widget.h"

namespace {

// Ten bits a byte, twelve points a frame.
constexpr double kLinePointsPerSecond = 230400.0 / 10 / tx710::kFrameLength * tx710::kPointsPerFrame;

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

    // Each test removes the files it adds; whatever is left goes at the end.
    const tx710test::FolderCleanup data_{tx710test::programPath("data")};
    const tx710test::FolderCleanup screenshots_{tx710test::programPath("Screenshots")};
    tx710test::PseudoTerminal pty_;
    std::atomic<bool> stop_feed_{false}, hang_up_{false};
    std::thread feed_;
    std::unique_ptr<tx710::StartupSession> session_;
    LidarGLWidget* view_ = nullptr;
    LidarToolBar* tool_bar_ = nullptr;
    QProgressDialog* progress_ = nullptr;
    const double step_ = tx710::SimulatedLidar(kLinePointsPerSecond).degreesPerPoint();

    QToolButton* button(const char* name) const { return tool_bar_->findChild<QToolButton*>(name); }
    void click(const char* name) const { QTest::mouseClick(button(name), Qt::LeftButton); }
    static void waitForRounds(int rounds) { QTest::qWait(rounds * 100 + 50); } // ten a second
    // The view without its health line, whose figures change every second.
    QImage scene() const
    {
        QImage image = view_->grabFramebuffer();
        const QWidget* line = view_->findChild<QWidget*>("health_line");
        QPainter(&image).fillRect(0, line->y(), image.width(), line->height(), Qt::black); // its width varies
        return image;
    }

    // Streams in real time from its own thread, which no modal box can stall; a hang-up is an unplugged adapter.
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
    // The rounds in the one file the last save wrote, which then goes; -1 unless they are numbered
    // 1..n and each is a whole revolution: from just after 0 to just before 360 degrees, growing.
    int savedRounds()
    {
        const QStringList files = data_.added();
        const QString path = tx710test::programPath("data/") + files.value(0);
        const QByteArray text = tx710test::fileBytes(path);
        tx710::datafile::Contents contents;
        tx710::datafile::ReadError error;
        const bool read = files.size() == 1 && text.startsWith(tx710::datafile::headerLine())
            && tx710::datafile::parse(text, contents, error);
        QFile::remove(path);
        const auto descending = [](const PointRecord& a, const PointRecord& b) { return a.angle >= b.angle; };
        int expected = 1;
        for (const auto& [save, number, points] : contents.rounds)
            if (number != expected++ || std::abs(double(points.size()) - 360 / step_) > 2
                || points.front().angle >= 2 * step_ || points.back().angle <= 360 - 2 * step_
                || std::adjacent_find(points.begin(), points.end(), descending) != points.end())
                return -1;
        return read ? int(contents.rounds.size()) : -1;
    }

private slots:
    void init() { QVERIFY(view_ || !session_); } // the session's window is there
    void initTestCase()
    {
        SerialLogic::instance()->setPortLister([p = pty_.slavePath()] { return QStringList{p}; });
    }
    void cleanupTestCase()
    {
        SerialData::instance()->stopSaveData();
        QTRY_VERIFY_WITH_TIMEOUT(!SerialData::instance()->saveRunning(), 10000);
        stop_feed_ = true;
        if (feed_.joinable())
            feed_.join();
        session_.reset();
    }

    void pickingThePortReplacesTheDialog()
    {
        session_ = std::make_unique<tx710::StartupSession>();
        SerialDialog& dialog = session_->dialog();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTRY_COMPARE_WITH_TIMEOUT(dialog.findChild<QComboBox*>("serial_combo_box")->currentText(), pty_.slavePath(),
                                  3000);
        feed_ = std::thread([this] { feed(); });
        QTest::mouseClick(dialog.findChild<QPushButton*>("ok_button"), Qt::LeftButton);
        QVERIFY(session_->mainWindow());
        QVERIFY(QTest::qWaitForWindowExposed(session_->mainWindow().get()));
        QVERIFY(!dialog.isVisible());
        view_ = session_->mainWindow()->findChild<LidarGLWidget*>("openGLWidget");
        tool_bar_ = session_->mainWindow()->findChild<LidarToolBar*>();
        QVERIFY(view_);
        QVERIFY(tool_bar_);
        progress_ = tool_bar_->findChild<QProgressDialog*>();
    }

    void liveRoundsPauseAndColourMap()
    {
        for (int i = 0; i < 4; ++i) // the room's walls lie beyond the first steps
            click("zoom_out_button");
        waitForRounds(5);
        const QImage live = scene();
        const auto icon = [this] { return button("play_button")->icon().pixmap(32, 32).toImage(); };
        click("play_button");
        QCOMPARE(icon(), QPixmap(":/Image/play.png").scaled(32, 32).toImage());
        const QImage paused = scene();
        QVERIFY(live != paused); // the points are gone
        waitForRounds(3);
        QCOMPARE(scene(), paused); // rounds arrive but are not shown
        click("play_button");
        QCOMPARE(icon(), QPixmap(":/Image/pause.png").scaled(32, 32).toImage());
        waitForRounds(2);
        const QImage resumed = scene();
        QVERIFY(resumed != paused);
        for (const bool on : {true, false}) { // the colour map
            tool_bar_->findChild<QCheckBox*>("checkBox_colormap")->click();
            waitForRounds(3); // the reflector's intensities above 210 are drawn yellow or cyan
            const QImage image = view_->grabFramebuffer();
            bool coloured = false;
            for (int i = 0; i < image.width() * image.height(); ++i) {
                const QColor c = image.pixelColor(i % image.width(), i / image.width());
                coloured |= c.green() > 200 && ((c.red() > 200 && c.blue() < 80) || (c.red() < 80 && c.blue() > 200));
            }
            QCOMPARE(coloured, on);
        }
    }

    void zoomAndOriginFromTheToolBar()
    {
        for (const char* name : {"zoom_in_button", "zoom_in_button", "zoom_out_button"}) // from 5 m: 2 in, 1 out
            click(name);
        QCOMPARE(view_->cameraDistance(), 4.0f);
        const QPoint from = view_->rect().center(), to = from + QPoint(120, -80); // a drag, then back
        QTest::mousePress(view_, Qt::LeftButton, {}, from);
        QMouseEvent drag(QEvent::MouseMove, to, view_->mapToGlobal(to), Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(view_, &drag);
        QTest::mouseRelease(view_, Qt::LeftButton, {}, to);
        QVERIFY(view_->panOffset() != QPointF(0, 0));
        click("origin_button");
        QCOMPARE(view_->panOffset(), QPointF(0, 0));
        QCOMPARE(view_->zoomIndex(), 3); // the zoom stays
    }

    void saveOfHundredRoundsAtLineRate()
    {
        int highest = 0;
        QObject scope; // holds the connection for this test only
        connect(progress_->findChild<QProgressBar*>(), &QProgressBar::valueChanged, &scope,
                [&](int value) { highest = std::max(highest, value); });
        click("save_button");
        QTRY_VERIFY_WITH_TIMEOUT(button("save_button")->isEnabled(), 30000);
        QVERIFY(!progress_->isVisible());
        QVERIFY(!SerialData::instance()->saveRunning()); // back only when written
        QCOMPARE(highest, 100);
        QCOMPARE(savedRounds(), 100);
    }

    void screenshotOfTheView()
    {
        QLabel marker(view_); // over the view on screen, so in the picture where it sits in the view
        marker.setStyleSheet("background-color: rgb(255, 0, 255);");
        marker.setGeometry(view_->width() / 2, view_->height() / 2, 40, 30);
        marker.show();
        QTest::qWait(300);
        click("intercept_button");
        const QStringList files = screenshots_.added();
        QCOMPARE(files.size(), 1);
        const QImage shot(tx710test::programPath("Screenshots/") + files[0], "PNG");
        screenshots_.clean();
        QVERIFY(QRegularExpression(R"(^\d{4}(-\d\d){2}(_\d\d){3}_\d{3}-Screenshot\.png$)").match(files[0]).hasMatch());
        QCOMPARE(shot.size(), view_->size());
        for (const QPoint& offset : {QPoint(20, 15), QPoint(-5, 15), QPoint(20, -5)})
            QCOMPARE(shot.pixelColor(marker.pos() + offset) == QColor(255, 0, 255), offset == QPoint(20, 15));
    }

    // Last: the link loss ends the application's event loops.
    void hangUpMidSaveEndsWithExitCodeZero()
    {
        click("save_button");
        QTRY_VERIFY_WITH_TIMEOUT(progress_->findChild<QProgressBar*>()->value() >= 10, 10000);
        tx710test::ModalWatcher watcher;
        QEventLoop loop; // stands for the application's event loop
        hang_up_ = true;
        QTimer::singleShot(20000, &loop, [&loop] { loop.exit(99); });
        QCOMPARE(loop.exec(), 0);
        QCOMPARE(watcher.seen(), QStringList{tx710test::kLinkLostBox});
        SerialData::instance()->stopSaveData(); // no more rounds can come: let the writer drain
        QTRY_VERIFY_WITH_TIMEOUT(!SerialData::instance()->saveRunning(), 10000);
        const int rounds = savedRounds();
        QVERIFY2(rounds >= 10, qPrintable(QString::number(rounds)));
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_end_to_end.moc"
