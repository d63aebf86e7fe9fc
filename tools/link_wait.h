#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include "SerialPort/port_follower.h"

class SerialLink;

namespace tx710 {

// The recorder's --reconnect: follows the port through a lost link, says
// each loss and return in one line on stderr (time, and the gap), and gives
// up after `timeout_s` without the device (0: never).
class LinkWait : public QObject
{
    Q_OBJECT
public:
    // `clear_line` runs before each line (it wipes a progress line).
    LinkWait(SerialLink& link, const QString& port, double timeout_s, std::function<void()> clear_line,
             QObject* parent = nullptr);

    bool waiting() const { return follower_.waiting(); }
    // When the link went down, invalid while it is up (for diagnostics).
    QDateTime downSince() const { return follower_.downSince(); }
    // The progress line during a wait: "waiting for /dev/ttyUSB0 (12 s)".
    QString progressText() const;

signals:
    // No device within the timeout: the recording ends with `error`.
    void gaveUp(const QString& error);

private:
    void say(const QString& text);

    PortFollower follower_;
    QString port_;
    QString reason_;
    QTimer timeout_;
    std::function<void()> clear_line_;
};

} // namespace tx710
