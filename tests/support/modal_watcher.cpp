#include "support/modal_watcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QMutex>
#include <QMutexLocker>

namespace tx710test {

ModalWatcher::ModalWatcher(int poll_ms)
{
    connect(&timer_, &QTimer::timeout, this, &ModalWatcher::poll);
    timer_.start(poll_ms);
}

void ModalWatcher::poll()
{
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    SeenMessageBox seen;
    seen.title = box->windowTitle();
    seen.text = box->text();
    seen.warning_icon = box->icon() == QMessageBox::Warning;
    seen.had_parent = box->parentWidget() != nullptr;
    const auto buttons = box->buttons();
    for (QAbstractButton* button : buttons)
        seen.buttons.append(button->text());
    boxes_.append(seen);
    if (on_box_)
        on_box_(seen);
    if (QAbstractButton* ok = box->button(QMessageBox::Ok))
        ok->click();
    else
        box->reject();
}

namespace {

QMutex g_log_mutex;
QStringList g_log_lines;
QtMessageHandler g_previous_handler = nullptr;

void captureMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    {
        QMutexLocker lock(&g_log_mutex);
        g_log_lines.append(message);
    }
    if (g_previous_handler)
        g_previous_handler(type, context, message);
}

} // namespace

LogCapture::LogCapture()
{
    QMutexLocker lock(&g_log_mutex);
    g_log_lines.clear();
    g_previous_handler = qInstallMessageHandler(captureMessage);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(g_previous_handler);
    QMutexLocker lock(&g_log_mutex);
    g_log_lines.clear();
}

QStringList LogCapture::lines() const
{
    QMutexLocker lock(&g_log_mutex);
    return g_log_lines;
}

bool LogCapture::contains(const QString& fragment) const
{
    const QStringList all = lines();
    for (const QString& line : all)
        if (line.contains(fragment))
            return true;
    return false;
}

} // namespace tx710test
