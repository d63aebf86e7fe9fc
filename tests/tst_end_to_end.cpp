// The whole program in one process, fed by the simulated LiDAR through a
// pseudo-terminal at the full 230400-baud line rate: port choice, live view,
// tool bar, recording, screenshots and the loss of the link. The functions
// run in order on one session, as a user would go through them.

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMouseEvent>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextStream>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <thread>

#include "SerialPort/serial_data.h"
#include "SerialPort/serial_logic.h"
#include "SerialPort/simulated_lidar.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "panels/lidar_tool_bar.h"
#include "support/modal_watcher.h"
#include "support/pty.h"
#include "view/lidar_gl_function.h"
#include "view/lidar_gl_widget.h"

namespace {

// 230400 baud, ten bits a byte, twelve points a frame.
constexpr double kLinePointsPerSecond =
    230400.0 / 10.0 / double(tx710::kFrameLength) * double(tx710::kPointsPerFrame);

// Streams simulated frames to the pseudo-terminal in real time from its own
// thread, so that a GUI thread busy in a blocking wait cannot stall it.
class SimulatorFeed
{
public:
    SimulatorFeed(tx710test::PseudoTerminal& pty, double points_per_second)
        : pty_(pty), lidar_(points_per_second)
    {
        thread_ = std::thread([this] { run(); });
    }
    ~SimulatorFeed()
    {
        stop_ = true;
        thread_.join();
    }
    // Closes the line as an unplugged adapter would, then stops.
    void hangUp() { hang_up_ = true; }
    bool hungUp() const { return hung_up_done_; }

private:
    void run()
    {
        const auto start = std::chrono::steady_clock::now();
        std::uint64_t sent = 0;
        while (!stop_) {
            if (hang_up_) {
                pty_.hangUp();
                hung_up_done_ = true;
                return;
            }
            const double elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const auto due = std::uint64_t(elapsed / lidar_.secondsPerFrame()) + 1;
            QByteArray bytes;
            for (; sent < due; ++sent) {
                const tx710::FrameBytes frame = lidar_.nextFrame();
                bytes.append(reinterpret_cast<const char*>(frame.data()), int(frame.size()));
            }
            if (!bytes.isEmpty() && !pty_.write(bytes))
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    tx710test::PseudoTerminal& pty_;
    tx710::SimulatedLidar lidar_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> hang_up_{false};
    std::atomic<bool> hung_up_done_{false};
    std::thread thread_;
};

struct DataFile {
    bool header_ok = false;
    std::map<int, std::vector<double>> angles; // round -> angles in file order
    int bad_lines = 0;
};

DataFile readDataFile(const QString& path)
{
    DataFile data;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return data;
    const QList<QByteArray> lines = file.readAll().split('\n');
    data.header_ok = !lines.isEmpty() && lines.first() == "Round angle distance intensity";
    for (int i = 1; i < lines.size(); ++i) {
        if (lines[i].isEmpty()) {
            if (i != lines.size() - 1)
                ++data.bad_lines;
            continue;
        }
        const QList<QByteArray> fields = lines[i].split(' ');
        bool round_ok = false, angle_ok = false;
        const int round = fields.value(0).toInt(&round_ok);
        const double angle = fields.value(1).toDouble(&angle_ok);
        if (fields.size() != 4 || !round_ok || !angle_ok) {
            ++data.bad_lines;
            continue;
        }
        data.angles[round].push_back(angle);
    }
    return data;
}

// Rounds numbered 1..n without gaps, each a whole revolution: it starts just
// after 0 degrees, ends just before 360, and its angles only grow.
void verifyWholeRounds(const DataFile& data, double degrees_per_point)
{
    QVERIFY(data.header_ok);
    QCOMPARE(data.bad_lines, 0);
    QVERIFY(!data.angles.empty());
    int expected_round = 1;
    for (const auto& [round, angles] : data.angles) {
        QCOMPARE(round, expected_round++);
        QVERIFY2(angles.front() < 2 * degrees_per_point, qPrintable(QString::number(angles.front())));
        QVERIFY2(angles.back() > 360.0 - 2 * degrees_per_point, qPrintable(QString::number(angles.back())));
        for (std::size_t i = 1; i < angles.size(); ++i)
            QVERIFY(angles[i] > angles[i - 1]);
        const double expected_points = 360.0 / degrees_per_point;
        QVERIFY(std::abs(double(angles.size()) - expected_points) <= 2.0);
    }
}

int differingPixels(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return -1;
    int count = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                ++count;
    return count;
}

int yellowOrCyanPixels(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            const bool yellow = c.red() > 200 && c.green() > 200 && c.blue() < 80;
            const bool cyan = c.red() < 80 && c.green() > 200 && c.blue() > 200;
            if (yellow || cyan)
                ++count;
        }
    return count;
}

QStringList filesIn(const QString& dir)
{
    return QDir(dir).entryList(QDir::Files, QDir::Name);
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void pickingThePortReplacesTheDialog();
    void liveRoundsAreDrawn();
    void pauseAndResume();
    void colorMapShowsStrongReturns();
    void zoomAndOriginFromTheToolBar();
    void saveOfHundredRoundsAtLineRate();
    void cancelMidSave();
    void screenshotOfTheView();
    // Last: the link loss ends the application's event loops.
    void hangUpMidSaveEndsWithExitCodeZero();

private:
    QToolButton* button(const char* name) const;
    QImage frame() const { return view_->grabFramebuffer().convertToFormat(QImage::Format_RGB32); }
    void waitForRounds(int rounds);
    QString newDataFile(const QStringList& before) const;
    QProgressBar* progressBar() const { return progress_dialog_->findChild<QProgressBar*>(); }

    std::unique_ptr<tx710test::PseudoTerminal> pty_;
    std::unique_ptr<SimulatorFeed> feed_;
    std::unique_ptr<tx710::StartupSession> session_;
    MainWindow* window_ = nullptr;
    LidarGLWidget* view_ = nullptr;
    LidarToolBar* tool_bar_ = nullptr;
    QProgressDialog* progress_dialog_ = nullptr;
    QString data_dir_;
    QString screenshot_dir_;
    QStringList data_before_;
    QStringList screenshots_before_;
    bool data_dir_existed_ = false;
    bool screenshot_dir_existed_ = false;
    double degrees_per_point_ = 0;
};

void TestEndToEnd::initTestCase()
{
    data_dir_ = QCoreApplication::applicationDirPath() + QStringLiteral("/data");
    screenshot_dir_ = QCoreApplication::applicationDirPath() + QStringLiteral("/Screenshots");
    data_dir_existed_ = QDir(data_dir_).exists();
    screenshot_dir_existed_ = QDir(screenshot_dir_).exists();
    data_before_ = filesIn(data_dir_);
    screenshots_before_ = filesIn(screenshot_dir_);

    pty_ = std::make_unique<tx710test::PseudoTerminal>();
    QVERIFY(pty_->isOpen());
    degrees_per_point_ = tx710::SimulatedLidar(kLinePointsPerSecond).degreesPerPoint();
    const QString port = pty_->slavePath();
    SerialLogic::instance()->setPortLister([port] { return QStringList{port}; });
}

void TestEndToEnd::cleanupTestCase()
{
    SerialData::instance()->stopSaveData();
    QTRY_VERIFY_WITH_TIMEOUT(!SerialData::instance()->saveRunning(), 10000);
    feed_.reset();
    session_.reset();
    SerialLogic::instance()->setPortLister({});
    // Only what this test wrote goes.
    for (const QString& name : filesIn(data_dir_))
        if (!data_before_.contains(name))
            QFile::remove(data_dir_ + QLatin1Char('/') + name);
    for (const QString& name : filesIn(screenshot_dir_))
        if (!screenshots_before_.contains(name))
            QFile::remove(screenshot_dir_ + QLatin1Char('/') + name);
    if (!data_dir_existed_)
        QDir().rmdir(data_dir_);
    if (!screenshot_dir_existed_)
        QDir().rmdir(screenshot_dir_);
}

QToolButton* TestEndToEnd::button(const char* name) const
{
    return tool_bar_->findChild<QToolButton*>(QLatin1String(name));
}

void TestEndToEnd::waitForRounds(int rounds)
{
    // Ten revolutions a second.
    QTest::qWait(rounds * 100 + 50);
}

QString TestEndToEnd::newDataFile(const QStringList& before) const
{
    const QRegularExpression name_format(QStringLiteral("^\\d{4}_\\d\\d_\\d\\d_\\d\\d_\\d\\d_\\d\\d\\.txt$"));
    for (const QString& name : filesIn(data_dir_))
        if (!before.contains(name) && name_format.match(name).hasMatch())
            return data_dir_ + QLatin1Char('/') + name;
    return QString();
}

void TestEndToEnd::pickingThePortReplacesTheDialog()
{
    session_ = std::make_unique<tx710::StartupSession>();
    SerialDialog& dialog = session_->dialog();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("serial_combo_box"));
    QVERIFY(combo);
    QTRY_COMPARE_WITH_TIMEOUT(combo->currentText(), pty_->slavePath(), 3000);

    feed_ = std::make_unique<SimulatorFeed>(*pty_, kLinePointsPerSecond);
    QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("ok_button")), Qt::LeftButton);

    QVERIFY(session_->mainWindow());
    window_ = session_->mainWindow().get();
    QVERIFY(window_->isVisible());
    QVERIFY(!dialog.isVisible());
    QCOMPARE(window_->windowTitle(), QStringLiteral("TX710Viewer"));
    QVERIFY(QTest::qWaitForWindowExposed(window_));

    view_ = window_->findChild<LidarGLWidget*>(QStringLiteral("openGLWidget"));
    tool_bar_ = window_->findChild<LidarToolBar*>();
    QVERIFY(view_);
    QVERIFY(tool_bar_);
    progress_dialog_ = tool_bar_->findChild<QProgressDialog*>();
    QVERIFY(progress_dialog_);
}

void TestEndToEnd::liveRoundsAreDrawn()
{
    QVERIFY(view_);
    const std::uint64_t frames_before = SerialData::instance()->acceptedFrameCount();
    waitForRounds(5);
    // At the line rate about 490 frames a second arrive, all of them intact.
    QVERIFY(SerialData::instance()->acceptedFrameCount() - frames_before > 150);
    QCOMPARE(SerialData::instance()->rejectedFrameCount(), std::uint64_t(0));
    // One round of points, less the directions without a return.
    const double points = double(SerialData::instance()->display_points_.size());
    const double per_round = 360.0 / degrees_per_point_;
    QVERIFY2(points > 0.7 * per_round && points < per_round + 13, qPrintable(QString::number(points)));

    // The room's walls lie beyond the half metre seen at the first step.
    for (int i = 0; i < 4; ++i)
        QTest::mouseClick(button("zoom_out_button"), Qt::LeftButton);
    QCOMPARE(view_->zoomIndex(), 4);
    waitForRounds(1);

    // The points are what a paused view lacks.
    const QImage live = frame();
    LidarGLFunction::instance()->setPlayFlag(false);
    const QImage grid_only = frame();
    LidarGLFunction::instance()->setPlayFlag(true);
    QVERIFY2(differingPixels(live, grid_only) > 200, qPrintable(QString::number(differingPixels(live, grid_only))));
}

void TestEndToEnd::pauseAndResume()
{
    QVERIFY(view_);
    QToolButton* play = button("play_button");
    QTest::mouseClick(play, Qt::LeftButton);
    QVERIFY(!LidarGLFunction::instance()->playFlag());
    const QImage paused_first = frame();
    waitForRounds(3);
    const QImage paused_later = frame();
    // Rounds keep arriving, but the paused view shows only the grid.
    QCOMPARE(differingPixels(paused_first, paused_later), 0);

    QTest::mouseClick(play, Qt::LeftButton);
    QVERIFY(LidarGLFunction::instance()->playFlag());
    waitForRounds(2);
    const QImage resumed = frame();
    QVERIFY(differingPixels(resumed, paused_later) > 200);
    waitForRounds(2);
    // The scene moves and the ranges are noisy: live rounds differ.
    QVERIFY(differingPixels(resumed, frame()) > 0);
}

void TestEndToEnd::colorMapShowsStrongReturns()
{
    QVERIFY(view_);
    auto* box = tool_bar_->findChild<QCheckBox*>(QStringLiteral("checkBox_colormap"));
    QVERIFY(!box->isChecked());
    waitForRounds(2);
    QCOMPARE(yellowOrCyanPixels(frame()), 0);

    box->click();
    QVERIFY(box->isChecked());
    waitForRounds(3);
    // The reflector returns intensities above 210: yellow or cyan.
    const auto& colors = SerialData::instance()->display_colors_;
    const auto coloured = std::count_if(colors.begin(), colors.end(),
                                        [](const QVector3D& c) { return c != QVector3D(1, 1, 1); });
    QVERIFY(coloured > 0);
    QVERIFY(yellowOrCyanPixels(frame()) > 0);

    box->click();
    waitForRounds(3);
    QCOMPARE(yellowOrCyanPixels(frame()), 0);
}

void TestEndToEnd::zoomAndOriginFromTheToolBar()
{
    QVERIFY(view_);
    QCOMPARE(view_->zoomIndex(), 4);
    LidarGLFunction::instance()->setPlayFlag(false); // compare grids only
    const QImage far = frame();
    QTest::mouseClick(button("zoom_in_button"), Qt::LeftButton);
    QTest::mouseClick(button("zoom_in_button"), Qt::LeftButton);
    QCOMPARE(view_->zoomIndex(), 2);
    QCOMPARE(view_->cameraDistance(), 3.0f);
    QVERIFY(differingPixels(far, frame()) > 0);
    QTest::mouseClick(button("zoom_out_button"), Qt::LeftButton);
    QCOMPARE(view_->zoomIndex(), 3);
    QCOMPARE(view_->cameraDistance(), 4.0f);
    LidarGLFunction::instance()->setPlayFlag(true);

    // Drag the scene with the left button, then back to the origin.
    const QPoint from = view_->rect().center();
    const QPoint to = from + QPoint(120, -80);
    QTest::mousePress(view_, Qt::LeftButton, {}, from);
    QMouseEvent drag(QEvent::MouseMove, to, view_->mapToGlobal(to), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view_, &drag);
    QTest::mouseRelease(view_, Qt::LeftButton, {}, to);
    QVERIFY(view_->panOffset() != QPointF(0, 0));

    QTest::mouseClick(button("origin_button"), Qt::LeftButton);
    QCOMPARE(view_->panOffset(), QPointF(0, 0));
    QCOMPARE(view_->zoomIndex(), 3);

    for (int i = 0; i < 4; ++i)
        QTest::mouseClick(button("zoom_in_button"), Qt::LeftButton);
    QCOMPARE(view_->zoomIndex(), 0);
    QCOMPARE(view_->cameraDistance(), 1.0f);
}

void TestEndToEnd::saveOfHundredRoundsAtLineRate()
{
    QVERIFY(view_);
    QToolButton* save = button("save_button");
    QVERIFY(save->isEnabled());
    const QStringList before = filesIn(data_dir_);

    int highest_value = 0;
    connect(progressBar(), &QProgressBar::valueChanged, this,
            [&highest_value](int value) { highest_value = std::max(highest_value, value); });
    // The button must stay disabled for as long as the writer runs.
    bool enabled_while_writing = false;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
        if (save->isEnabled() && SerialData::instance()->saveRunning())
            enabled_while_writing = true;
    });
    watch.start(5);

    QTest::mouseClick(save, Qt::LeftButton);
    QVERIFY(!save->isEnabled());
    QVERIFY(progress_dialog_->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(save->isEnabled(), 30000);
    watch.stop();
    disconnect(progressBar(), nullptr, this, nullptr);

    QCOMPARE(highest_value, 100);
    QVERIFY(!enabled_while_writing);
    QVERIFY(!progress_dialog_->isVisible());
    QVERIFY(!SerialData::instance()->saveRunning());

    const QString path = newDataFile(before);
    QVERIFY2(!path.isEmpty(), "no data file");
    const DataFile data = readDataFile(path);
    verifyWholeRounds(data, degrees_per_point_);
    QCOMPARE(int(data.angles.size()), 100);
    QVERIFY(QFile::remove(path));
}

void TestEndToEnd::cancelMidSave()
{
    QVERIFY(view_);
    QToolButton* save = button("save_button");
    const QStringList before = filesIn(data_dir_);
    QTest::mouseClick(save, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(progressBar()->value() >= 20, 10000);

    QTest::mouseClick(progress_dialog_->findChild<QPushButton*>(), Qt::LeftButton);
    QVERIFY(!progress_dialog_->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(save->isEnabled(), 10000);
    QVERIFY(!progress_dialog_->isVisible());
    QVERIFY(!SerialData::instance()->saveRunning());

    const QString path = newDataFile(before);
    QVERIFY2(!path.isEmpty(), "no data file");
    const DataFile data = readDataFile(path);
    verifyWholeRounds(data, degrees_per_point_);
    QVERIFY(int(data.angles.size()) >= 20);
    QVERIFY(int(data.angles.size()) < 100);
    QVERIFY(QFile::remove(path));
}

void TestEndToEnd::screenshotOfTheView()
{
    QVERIFY(view_);
    const QStringList before = filesIn(screenshot_dir_);
    QTest::mouseClick(button("intercept_button"), Qt::LeftButton);
    QStringList added;
    for (const QString& name : filesIn(screenshot_dir_))
        if (!before.contains(name))
            added << name;
    QCOMPARE(added.size(), 1);
    const QRegularExpression name_format(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\d_\\d\\d_\\d\\d_\\d\\d_\\d{3}-Screenshot\\.png$"));
    QVERIFY2(name_format.match(added.first()).hasMatch(), qPrintable(added.first()));

    const QString path = screenshot_dir_ + QLatin1Char('/') + added.first();
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.read(8) == QByteArray("\x89PNG\r\n\x1a\n", 8));
    file.close();
    const QImage shot(path, "PNG");
    QCOMPARE(shot.size(), view_->size());
    QVERIFY(QFile::remove(path));
}

void TestEndToEnd::hangUpMidSaveEndsWithExitCodeZero()
{
    QVERIFY(view_);
    QToolButton* save = button("save_button");
    const QStringList before = filesIn(data_dir_);
    QTest::mouseClick(save, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(progressBar()->value() >= 10, 10000);

    tx710test::ModalWatcher watcher;
    QEventLoop loop; // stands for the application's event loop
    QTimer::singleShot(0, this, [this] { feed_->hangUp(); });
    QTimer::singleShot(20000, &loop, [&loop] { loop.exit(99); });
    const int exit_code = loop.exec();
    QCOMPARE(exit_code, 0);

    QCOMPARE(watcher.boxes().size(), 1);
    QCOMPARE(watcher.boxes().first().title, QStringLiteral("Error"));
    QCOMPARE(watcher.boxes().first().text, QStringLiteral("Lidar connection fail,please check the connection"));

    // No more rounds can come: end the collection and let the writer drain.
    SerialData::instance()->stopSaveData();
    QTRY_VERIFY_WITH_TIMEOUT(!SerialData::instance()->saveRunning(), 10000);
    const QString path = newDataFile(before);
    QVERIFY2(!path.isEmpty(), "no data file");
    const DataFile data = readDataFile(path);
    verifyWholeRounds(data, degrees_per_point_);
    QVERIFY(int(data.angles.size()) >= 10);
    QVERIFY(QFile::remove(path));
}

QTEST_MAIN(TestEndToEnd)
#include "tst_end_to_end.moc"
