#pragma once

#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <mutex>

// Owns the one serial port the LiDAR is attached to: lists ports, opens the
// chosen one at the LiDAR's fixed settings, waits for the first data, feeds
// every received chunk to the decoder and ends the application when the link
// is lost. The link is receive-only: nothing is ever written to the port.
class SerialLogic : public QObject
{
    Q_OBJECT
public:
    using PortLister = std::function<QStringList()>;

    static constexpr qint32 kBaudRate = 230400;
    static constexpr int kDetectTimeoutMs = 3000;

    static SerialLogic* instance();

    // Names of the ports the platform reports, in the order reported.
    QStringList availablePortNames() const;
    // Replaces the platform port listing (tests, diagnostics); an empty
    // function restores the platform listing.
    void setPortLister(PortLister lister);

    // Opens `port_name` (a port name or a full device path) and waits up to
    // 3 s for data. On false the user has already been told.
    bool open(const QString& port_name);

    // Ends the link: the port is closed, which also removes its lock file.
    // Every way out of the program calls it; harmless when nothing is open.
    void close();

    // The port of the last open(), or null before the first one.
    std::shared_ptr<QSerialPort> serialPort() const { return serial_port_; }

private:
    SerialLogic();

    void readData();
    // Hands everything `port` has buffered to the decoder, if it is the
    // current, open port.
    void readBuffered(QSerialPort* port);
    void handleError(QSerialPort::SerialPortError error);
    void reportNoLidar();

    std::shared_ptr<QSerialPort> serial_port_;
    std::mutex mutex_;
    PortLister port_lister_;
};
