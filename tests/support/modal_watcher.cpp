#include "support/modal_watcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QMutex>

namespace tx710test {

ModalWatcher::ModalWatcher(int poll_ms)
{
    connect(&timer_, &QTimer::timeout, this, [this] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        seen_.append(
            QStringList{box->windowTitle(), box->text(), box->icon() == QMessageBox::Warning ? "warning" : "other"}
                .join('|'));
        details_.append(box->detailedText());
        box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok)->click() : box->reject();
    });
    timer_.start(poll_ms);
}

static QMutex g_log_mutex; // messages may come from any thread
static QStringList g_log_lines;
static QtMessageHandler g_previous_handler = nullptr;

LogCapture::LogCapture()
{
    QMutexLocker lock(&g_log_mutex);
    g_log_lines.clear();
    g_previous_handler =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& message) {
            const QMutexLocker lock(&g_log_mutex);
            g_log_lines.append(message);
            if (g_previous_handler)
                g_previous_handler(type, context, message);
        });
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(g_previous_handler);
}

QStringList LogCapture::lines() const
{
    QMutexLocker lock(&g_log_mutex);
    return g_log_lines;
}

} // namespace tx710test
