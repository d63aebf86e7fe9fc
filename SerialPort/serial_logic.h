#pragma once

#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

#include "SerialPort/port_follower.h"
#include "SerialPort/serial_link.h"

// The viewer's side of the one serial port the LiDAR is attached to: lists
// ports, opens the chosen one through SerialLink (fixed settings, first data,
// feeding the decoder), tells the user when no LiDAR answers and ends the
// application when the link is lost.
// What the user can do about a failed or lost link, from Qt's error code and
// the reason the link gave (SerialLink::errorString()).
QString connectionRemedy(QSerialPort::SerialPortError error, const QString& reason);

class SerialLogic : public QObject
{
    Q_OBJECT
public:
    using PortLister = std::function<QStringList()>;

    static constexpr qint32 kBaudRate = SerialLink::kBaudRate;
    static constexpr int kDetectTimeoutMs = SerialLink::kDetectTimeoutMs;

    static SerialLogic* instance();

    // Names of the ports the platform reports, in the order reported.
    QStringList availablePortNames() const;
    // Replaces the platform port listing (tests, diagnostics); an empty
    // function restores the platform listing.
    void setPortLister(PortLister lister);

    // Opens `port_name` (a port name or a full device path) and waits up to
    // 3 s for data. On false the user has already been told. A port opened
    // is remembered for the port dialog's next start.
    bool open(const QString& port_name);

    // Ends the link: the port is closed, which also removes its lock file.
    // Every way out of the program calls it; harmless when nothing is open.
    void close();

    // The port of the last open(), or null before the first one.
    std::shared_ptr<QSerialPort> serialPort() const { return link_.serialPort(); }

    // With reconnect on, a lost link is waited out (follower()) instead of
    // the box and the end. Switched off during a wait, the box comes.
    void setReconnect(bool on);
    bool reconnect() const { return follower_.enabled(); }
    tx710::PortFollower& follower() { return follower_; }

private:
    SerialLogic();

    void linkLost();
    void reportNoLidar();
    QString details() const;

    SerialLink link_;
    tx710::PortFollower follower_{link_};
    PortLister port_lister_;
};
