#include "app/startup.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QStringList>
#include <QThread>
#include <QTimer>

#include <cstring>

#include "SerialPort/serial_data.h"
#include "SerialPort/serial_logic.h"
#include "app/log.h"
#include "app/main_window.h"

namespace tx710 {

QFont installApplicationFont(const QString& resource)
{
    const int id = QFontDatabase::addApplicationFont(resource);
    const QStringList families = id < 0 ? QStringList() : QFontDatabase::applicationFontFamilies(id);
    if (families.isEmpty()) {
        TX_LOG << "font" << resource << "not loaded, keeping the default font";
        return QApplication::font();
    }
    const QFont font(families.first(), -1, -1, false);
    QApplication::setFont(font);
    return font;
}

StartupSession::StartupSession() : font_(installApplicationFont())
{
    dialog_.show();
    dialog_.setCallback([this](bool opened) { handlePortResult(opened); });
}

StartupSession::StartupSession(const QString& port) : font_(installApplicationFont())
{
    if (auto* refresh = dialog_.findChild<QTimer*>(QStringLiteral("refresh_timer")))
        refresh->stop(); // the dialog is never shown
    // From the event loop, so that a failure's exit(0) ends it.
    QTimer::singleShot(0, &dialog_, [this, port] { handlePortResult(SerialLogic::instance()->open(port)); });
}

std::unique_ptr<StartupSession> StartupSession::forRecording(const QString& path)
{
    return std::unique_ptr<StartupSession>(new StartupSession(RecordingTag(), path));
}

StartupSession::StartupSession(RecordingTag, const QString& path) : font_(installApplicationFont())
{
    if (auto* refresh = dialog_.findChild<QTimer*>(QStringLiteral("refresh_timer")))
        refresh->stop(); // the dialog is never shown
    main_window_ = std::make_shared<MainWindow>(nullptr);
    main_window_->setNoPortOpen();
    main_window_->show();
    // Once the window is up, so that a box about the file lies over it.
    QTimer::singleShot(0, main_window_.get(), [window = main_window_.get(), path] { window->openRecording(path); });
}

StartupSession::~StartupSession()
{
    main_window_.reset();
    SerialLogic::instance()->close();
}

void StartupSession::quitForSignal(int signal_number)
{
    TX_LOG << "signal" << signal_number << strsignal(signal_number) << "received, quitting";
    SerialData* data = SerialData::instance();
    data->stopSaveData();
    // The writer finishes the round it holds, then stops.
    constexpr int kWriterWaitMs = 10000;
    for (int waited = 0; data->saveRunning(); waited += 10) {
        if (waited >= kWriterWaitMs) {
            TX_LOG << "the data writer is still running after" << kWriterWaitMs << "ms, quitting without it";
            break;
        }
        QThread::msleep(10);
    }
    main_window_.reset();
    SerialLogic::instance()->close();
    QCoreApplication::exit(0);
}

void StartupSession::handlePortResult(bool opened)
{
    if (opened) {
        main_window_ = std::make_shared<MainWindow>(nullptr);
        dialog_.hide();
        main_window_->show();
        return;
    }
    TX_LOG;
    main_window_.reset();
    SerialLogic::instance()->close();
    QCoreApplication::exit(0);
}

} // namespace tx710
