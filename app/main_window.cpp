#include "app/main_window.h"
#include "ui_main_window.h"

#include <algorithm>

#include <QBuffer>
#include <QDataStream>
#include <QDateTime>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageWriter>
#include <QMessageBox>
#include <QMimeData>
#include <QPixmap>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QStyle>
#include <QTimer>

#include "SerialPort/serial_data.h"
#include "SerialPort/serial_logic.h"
#include "app/app_settings.h"
#include "app/log.h"
#include "panels/health_line.h"
#include "panels/lidar_tool_bar.h"
#include "recording/output_folder.h"
#include "recording/scan_options.h"
#include "replay/replay_player.h"

namespace {

// The size the window opens with when it remembers none that fits.
const QSize kDefaultSize(1000, 800);
// Below this a remembered geometry is not used: the view would be a sliver.
const QSize kSmallestRestored(400, 300);

// True when `rect` is of a usable size and lies wholly on one screen's
// available area: a crafted or stale setting can neither make the window
// larger than the screens nor put it where it cannot be seen.
bool fitsAScreen(const QRect& rect)
{
    if (rect.width() < kSmallestRestored.width() || rect.height() < kSmallestRestored.height())
        return false;
    const QList<QScreen*> screens = QGuiApplication::screens();
    return std::any_of(screens.begin(), screens.end(),
                       [&rect](const QScreen* screen) { return screen->availableGeometry().contains(rect); });
}

// The one local file a drag brings, empty for anything else.
QString draggedFile(const QMimeData* mime)
{
    const QList<QUrl> urls = mime ? mime->urls() : QList<QUrl>();
    return urls.size() == 1 && urls.first().isLocalFile() ? urls.first().toLocalFile() : QString();
}

} // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui_(new Ui::MainWindow)
{
    ui_->setupUi(this);

    tool_bar_ = std::make_shared<LidarToolBar>(nullptr);
    ui_->mainToolBar->addWidget(tool_bar_.get());

    setWindowTitle(QStringLiteral("TX710Viewer"));
    restoreGeometrySetting();

    connect(tool_bar_.get(), &LidarToolBar::sig_screenshot_clicked, this, &MainWindow::saveScreenshot);
    connect(tool_bar_.get(), &LidarToolBar::sig_open_clicked, this, &MainWindow::chooseRecording);
    connect(tool_bar_.get(), &LidarToolBar::sig_color, SerialData::instance(), &SerialData::setColorFlag);
    LidarGLWidget* view = ui_->openGLWidget;
    view->setDecayRounds(tool_bar_->decayRounds());
    connect(tool_bar_.get(), &LidarToolBar::sig_decay_changed, view, &LidarGLWidget::setDecayRounds);
    connect(tool_bar_.get(), &LidarToolBar::sig_hold_toggled, view, &LidarGLWidget::setHeld);
    connect(tool_bar_.get(), &LidarToolBar::sig_measure_toggled, view, &LidarGLWidget::setMeasureMode);
    connect(tool_bar_.get(), &LidarToolBar::sig_save_ended, this, [this](bool ok, const QString& message) {
        const QString note = tr("\nThe link was lost: the save ended with the whole rounds it had.");
        const bool cut = !save_cut_by_loss_.isEmpty()
            && std::exchange(save_cut_by_loss_, QString()) == SerialData::instance()->lastSaveOutcome().path;
        showOutcome(ok, tr("Save failed"), cut ? message + note : message);
    });
    addReconnectToggle();

    player_ = new tx710::replay::ReplayPlayer(this);
    ui_->playback_bar->attach(player_);
    ui_->playback_bar->hide();
    connect(ui_->playback_bar, &PlaybackBar::closeClicked, this, &MainWindow::closeRecording);
    connect(player_, &tx710::replay::ReplayPlayer::roundChanged, this, &MainWindow::showReplayRound);
    connect(ui_->openGLWidget, &LidarGLWidget::frameDrawn, player_, &tx710::replay::ReplayPlayer::frameDrawn);
    setAcceptDrops(true);
}

MainWindow::~MainWindow()
{
    // Also on the ways out that close no window (a signal).
    if (isVisible())
        saveGeometrySetting();
    delete ui_;
    // The tool bar goes while it is still a child of mainToolBar, so the base
    // class no longer finds it among the children it deletes.
    tool_bar_.reset();
}

void MainWindow::addReconnectToggle()
{
    QAction* toggle = ui_->mainToolBar->addAction(tr("Reconnect"));
    toggle->setObjectName(QStringLiteral("reconnect_action"));
    toggle->setCheckable(true);
    toggle->setChecked(SerialLogic::instance()->reconnect());
    toggle->setToolTip(tr("Reconnect: when the LiDAR's link is lost, wait for the device and go on instead of "
                          "ending (remembered)"));
    connect(toggle, &QAction::toggled, this, [](bool on) {
        tx710::setSetting(tx710::kReconnectKey, on);
        SerialLogic::instance()->setReconnect(on);
    });
    tx710::PortFollower& follower = SerialLogic::instance()->follower();
    connect(&follower, &tx710::PortFollower::linkDown, this, &MainWindow::linkDown);
    connect(&follower, &tx710::PortFollower::linkBack, this, &MainWindow::linkBack);
    link_wait_timer_ = new QTimer(this);
    link_wait_timer_->setInterval(1000);
    connect(link_wait_timer_, &QTimer::timeout, this, &MainWindow::showLinkWait);
}

void MainWindow::linkDown()
{
    SerialData* decoder = SerialData::instance();
    if (decoder->saveRunning()) {
        save_cut_by_loss_ = decoder->lastSaveOutcome().path;
        decoder->stopSaveData();
    }
    showLinkWait();
    link_wait_timer_->start();
}

void MainWindow::showLinkWait()
{
    const tx710::PortFollower& follower = SerialLogic::instance()->follower();
    ui_->openGLWidget->setLinkLost(
        tr("link lost: waiting for %1 (%2 s)").arg(follower.port()).arg(follower.waitedSeconds()));
}

void MainWindow::linkBack()
{
    link_wait_timer_->stop();
    ui_->openGLWidget->setLinkLost(QString());
}

void MainWindow::resizeEvent(QResizeEvent* /*event*/)
{
    // The layouts do all resizing.
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    saveGeometrySetting();
    QMainWindow::closeEvent(event);
}

bool MainWindow::geometryFits() const
{
    // A maximised window also keeps the size it goes back to.
    return fitsAScreen(geometry()) && (!(isMaximized() || isFullScreen()) || fitsAScreen(normalGeometry()));
}

void MainWindow::restoreGeometrySetting()
{
    const QByteArray geometry = tx710::setting(tx710::kGeometryKey).toByteArray();
    if (geometry.isEmpty())
        return;
    // What was saved, before the restore moves it: Qt moves a window from
    // off the screens but keeps its size, or a part of it off the screen.
    QDataStream stream(geometry);
    quint32 magic = 0;
    quint16 major = 0, minor = 0;
    QRect frame, normal;
    stream >> magic >> major >> minor >> frame >> normal;
    if (stream.status() == QDataStream::Ok && fitsAScreen(normal) && restoreGeometry(geometry) && geometryFits())
        return;
    TX_LOG << "remembered window geometry" << this->geometry() << "does not fit the screen, using the default";
    setWindowState(Qt::WindowNoState);
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(QPoint(0, 0), kDefaultSize);
    setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, kDefaultSize, available));
}

void MainWindow::saveGeometrySetting() const
{
    // Never one that would be refused next time.
    if (geometryFits())
        tx710::setSetting(tx710::kGeometryKey, saveGeometry());
}

void MainWindow::saveScreenshot()
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_hh_mm_ss_zzz-"));
    const QString preferred = tx710::besideExecutable(QStringLiteral("Screenshots"));
    const tx710::OutputFolder folder = tx710::prepareOutputFolder(preferred, QStringLiteral("Screenshots"));
    const QString file_name = stamp + QStringLiteral("Screenshot.png");
    const QString file_path = (folder.path.isEmpty() ? preferred : folder.path) + QLatin1Char('/') + file_name;
    const QString failure_title = tr("Screenshot failed");
    if (folder.path.isEmpty()) {
        TX_LOG << "screenshot path create error:" << preferred + QLatin1Char('/');
        TX_LOG << "screenshot save error:" << file_path;
        showOutcome(false, failure_title, tr("Screenshot failed: cannot create a folder: %1").arg(folder.reason));
        return;
    }

    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        TX_LOG << "screenshot failed, no screen:" << file_path;
        showOutcome(false, failure_title, tr("Screenshot failed: no screen to capture"));
        return;
    }
    // Whatever lies over the view on screen is captured too (read-out panel, logo).
    const QWidget* view = ui_->openGLWidget;
    const QPoint top_left = view->mapToGlobal(QPoint(0, 0));
    const QPixmap pixmap = screen->grabWindow(0, top_left.x(), top_left.y(), view->width(), view->height());
    const QString reason =
        pixmap.isNull() ? tr("the screen could not be captured") : writeScreenshotFile(pixmap.toImage(), file_path);
    if (!reason.isEmpty()) {
        TX_LOG << "screenshot save error:" << file_path << reason;
        showOutcome(false, failure_title, tr("Screenshot failed: %1: %2").arg(file_path, reason));
        return;
    }
    QString message = tr("Screenshot saved to %1").arg(file_path);
    if (folder.fallback)
        message += tr("\n(the folder beside the program cannot be written: %1)").arg(folder.reason);
    showOutcome(true, failure_title, message);
}

QString MainWindow::writeScreenshotFile(const QImage& image, const QString& path)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "PNG");
    writer.setQuality(100);
    if (!writer.write(image))
        return writer.errorString();

    // Written beside the target and renamed into place on commit: a failed
    // write leaves neither a torn nor an empty picture. Unbuffered, and a
    // short write retried, so that the system's reason is seen.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return file.errorString();
    qint64 done = 0;
    while (done < png.size()) {
        const qint64 count = file.write(png.constData() + done, png.size() - done);
        if (count <= 0) {
            const QString reason = file.errorString();
            file.cancelWriting();
            return reason;
        }
        done += count;
    }
    if (!file.commit())
        return file.errorString();
    return QString();
}

void MainWindow::setNoPortOpen()
{
    no_port_ = true;
    tool_bar_->setSaveUnavailable(tr("Save records live rounds: no port is open"));
    if (auto* line = findChild<HealthLine*>())
        line->setNoPort(true);
}

void MainWindow::showOutcome(bool ok, const QString& failure_title, const QString& message)
{
    ui_->openGLWidget->showNotice(message);
    if (ok)
        return;
    // One box, brought back with the latest failure; the view keeps running.
    if (!failure_box_) {
        failure_box_ = new QMessageBox(QMessageBox::Warning, failure_title, message, QMessageBox::Ok, this);
        failure_box_->setObjectName(QStringLiteral("failure_box"));
        failure_box_->setWindowModality(Qt::NonModal);
        failure_box_->setAttribute(Qt::WA_DeleteOnClose);
    }
    if (QAbstractButton* offer = failure_box_->findChild<QAbstractButton*>(QStringLiteral("open_other_button")))
        failure_box_->removeButton(offer); // offered for a recording only
    failure_box_->setWindowTitle(failure_title);
    failure_box_->setText(message);
    failure_box_->show();
    failure_box_->raise();
}

void MainWindow::openRecording(const QString& path)
{
    tx710::replay::Recording recording;
    QString reason;
    if (!recording.open(path, reason)) {
        TX_LOG << "replay open error:" << path << reason;
        showOutcome(false, tr("Cannot open recording"), tr("Cannot open %1: %2").arg(path, reason));
        if (no_port_) { // nothing else to show: offer another file
            QPushButton* offer = failure_box_->addButton(tr("Open another..."), QMessageBox::ActionRole);
            offer->setObjectName(QStringLiteral("open_other_button"));
            connect(offer, &QPushButton::clicked, this, &MainWindow::chooseRecording, Qt::QueuedConnection);
        }
        return;
    }
    TX_LOG << "replaying" << path << recording.count() << "rounds";
    tx710::setSetting(tx710::kLastRecordingFolderKey, QFileInfo(path).absolutePath());
    QStringList names;
    for (const tx710::mcap::DevicePlacement& device : recording.devices()) {
        names << (device.frame_id.isEmpty()
                      ? tr("LiDAR %1").arg(names.size() + 1)
                      : QString::fromStdString(tx710::shortEscaped(device.frame_id.toStdString())));
        if (recording.devices().size() > 1 && !device.placed)
            TX_LOG << "replay:" << device.frame_id << "has no transform: drawn at the base frame's origin";
    }
    replay_name_ = QFileInfo(path).fileName();
    ui_->playback_bar->show();
    ui_->openGLWidget->setReplayDevices(names);
    player_->load(std::move(recording));
    player_->play();
}

void MainWindow::showReplayRound(int index)
{
    LidarGLWidget* view = ui_->openGLWidget;
    // After a jump, the older rounds that decay shows are the ones before
    // `index`, not the ones seen last.
    std::vector<int> shown{index};
    if (index != shown_index_ + 1 && !view->held()) {
        view->endReplay();
        shown = player_->roundsShownAt(index, view->decayRounds());
    }
    for (const int k : shown) {
        const tx710::replay::Round round = player_->round(k);
        view->showRecordedRound(round.points, round.speed_rpm, round.device);
    }
    shown_index_ = index;
    view->setReplayStatus(tr("%1  round %2 of %3").arg(replay_name_).arg(index + 1).arg(player_->count()));
}

void MainWindow::chooseRecording()
{
    const QString folder = tx710::setting(tx710::kLastRecordingFolderKey).toString();
    const QString path =
        QFileDialog::getOpenFileName(this, tr("Open recording"), folder, tr("Recordings (*.txt *.mcap)"));
    if (!path.isEmpty())
        openRecording(path);
}

void MainWindow::closeRecording()
{
    player_->clear();
    shown_index_ = -1;
    ui_->playback_bar->hide();
    ui_->openGLWidget->setReplayDevices({});
    ui_->openGLWidget->endReplay();
    TX_LOG << "replay closed:" << replay_name_;
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    if (!draggedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event)
{
    const QString path = draggedFile(event->mimeData());
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    openRecording(path);
}
