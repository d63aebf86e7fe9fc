#include "app/main_window.h"
#include "ui_main_window.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include "SerialPort/serial_data.h"
#include "app/log.h"
#include "panels/lidar_tool_bar.h"

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui_(new Ui::MainWindow)
{
    ui_->setupUi(this);

    tool_bar_ = std::make_shared<LidarToolBar>(nullptr);
    ui_->mainToolBar->addWidget(tool_bar_.get());

    setWindowTitle(QStringLiteral("TX710Viewer"));

    connect(tool_bar_.get(), &LidarToolBar::sig_screenshot_clicked, this, &MainWindow::saveScreenshot);
    connect(tool_bar_.get(), &LidarToolBar::sig_color, SerialData::instance(), &SerialData::setColorFlag);
}

MainWindow::~MainWindow()
{
    delete ui_;
    // The tool bar goes while it is still a child of mainToolBar, so the base
    // class no longer finds it among the children it deletes.
    tool_bar_.reset();
}

void MainWindow::resizeEvent(QResizeEvent* /*event*/)
{
    // The layouts do all resizing.
}

void MainWindow::saveScreenshot()
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_hh_mm_ss_zzz-"));
    const QString dir_path = QCoreApplication::applicationDirPath() + QStringLiteral("/Screenshots/");
    const QString file_path = dir_path + stamp + QStringLiteral("Screenshot.png");

    // The folder is made with the tool bar; make it again if it went since.
    if (!QDir(dir_path).exists() && !QDir().mkpath(dir_path))
        TX_LOG << "screenshot path create error:" << dir_path;

    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        TX_LOG << "screenshot failed, no screen:" << file_path;
        return;
    }
    // Whatever lies over the view on screen is captured too (read-out panel, logo).
    const QWidget* view = ui_->openGLWidget;
    const QPoint top_left = view->mapToGlobal(QPoint(0, 0));
    const QPixmap pixmap = screen->grabWindow(0, top_left.x(), top_left.y(), view->width(), view->height());
    if (pixmap.isNull() || !pixmap.save(file_path, "PNG", 100))
        TX_LOG << "screenshot save error:" << file_path;
}
