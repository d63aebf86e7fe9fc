#include "tools/link_wait.h"

#include <cstdio>

#include "SerialPort/serial_link.h"

namespace tx710 {

namespace {

QString now()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
}

} // namespace

LinkWait::LinkWait(SerialLink& link, const QString& port, double timeout_s, std::function<void()> clear_line,
                   QObject* parent)
    : QObject(parent), follower_(link), port_(port), clear_line_(std::move(clear_line))
{
    follower_.follow(port);
    timeout_.setSingleShot(true);
    timeout_.setInterval(int(timeout_s * 1000.0));
    connect(&timeout_, &QTimer::timeout, this, [this] {
        emit gaveUp(QStringLiteral("%1: no device for %2 s after the link was lost: %3")
                        .arg(port_)
                        .arg(timeout_.interval() / 1000.0)
                        .arg(reason_));
    });
    connect(&follower_, &PortFollower::linkDown, this, [this, timeout_s](const QString& reason) {
        reason_ = reason;
        say(QStringLiteral("%1 link lost on %2: %3; waiting for it").arg(now(), port_, reason));
        if (timeout_s > 0)
            timeout_.start();
    });
    connect(&follower_, &PortFollower::linkBack, this, [this](const QString& device, qint64 gap_ms) {
        timeout_.stop();
        say(QStringLiteral("%1 link back on %2 after %3 s").arg(now(), device).arg(gap_ms / 1000.0, 0, 'f', 1));
    });
}

QString LinkWait::progressText() const
{
    return QStringLiteral("waiting for %1 (%2 s)").arg(port_).arg(follower_.waitedSeconds());
}

void LinkWait::say(const QString& text)
{
    if (clear_line_)
        clear_line_();
    std::fprintf(stderr, "tx710-record: %s\n", qUtf8Printable(text));
}

} // namespace tx710
