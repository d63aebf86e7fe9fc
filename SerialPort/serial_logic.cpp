#include "SerialPort/serial_logic.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QMetaEnum>
#include <QSerialPortInfo>
#include <QSound>

#include <thread>

#include <poll.h>

#include "SerialPort/serial_data.h"
#include "app/log.h"

namespace {

const QString kWarningSound = QStringLiteral(":/Sound/Windows Ding.wav");

void warnUser(const QString& text)
{
    QSound::play(kWarningSound);
    QMessageBox::warning(nullptr, QStringLiteral("Error"), text, QMessageBox::Ok, QMessageBox::NoButton);
}

const char* errorName(QSerialPort::SerialPortError error)
{
    const char* name = QMetaEnum::fromType<QSerialPort::SerialPortError>().valueToKey(error);
    return name ? name : "UnknownError";
}

// After a hang-up Qt reports the read of end-of-file with the text of whatever
// errno an earlier call left ("File exists", "Inappropriate ioctl for
// device"), so the system's own hang-up flag is asked instead.
bool hungUp(const QSerialPort& port)
{
    pollfd fd{int(port.handle()), POLLIN, 0};
    return fd.fd >= 0 && ::poll(&fd, 1, 0) > 0 && (fd.revents & POLLHUP) != 0;
}

// The error by its name, with the system's text where that text belongs to it.
QString describeError(const QSerialPort& port, QSerialPort::SerialPortError error)
{
    const QString name = QString::fromLatin1(errorName(error));
    if (hungUp(port))
        return name + QStringLiteral(": the device hung up");
    if (error == QSerialPort::TimeoutError || error == QSerialPort::NotOpenError)
        return name;
    return name + QStringLiteral(": ") + port.errorString();
}

} // namespace

SerialLogic* SerialLogic::instance()
{
    // Created once, safely under concurrent first use, never destroyed.
    static SerialLogic* const logic = new SerialLogic;
    return logic;
}

SerialLogic::SerialLogic() : QObject(nullptr) {}

QStringList SerialLogic::availablePortNames() const
{
    if (port_lister_)
        return port_lister_();
    QStringList names;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : ports)
        names.append(info.portName());
    return names;
}

void SerialLogic::setPortLister(PortLister lister)
{
    port_lister_ = std::move(lister);
}

bool SerialLogic::open(const QString& port_name)
{
    serial_port_ = std::make_shared<QSerialPort>();
    // setPortName takes a bare name ("ttyUSB0") or a full path ("/dev/lidar").
    serial_port_->setPortName(port_name);
    serial_port_->setBaudRate(kBaudRate, QSerialPort::AllDirections);
    serial_port_->setDataBits(QSerialPort::Data8);
    serial_port_->setParity(QSerialPort::NoParity);
    serial_port_->setStopBits(QSerialPort::OneStop);
    serial_port_->setFlowControl(QSerialPort::NoFlowControl);

    if (!serial_port_->open(QIODevice::ReadWrite)) {
        TX_LOG << "open" << port_name
               << "failed:" << qUtf8Printable(describeError(*serial_port_, serial_port_->error()));
        // Same thread, so this runs before open() returns.
        QMetaObject::invokeMethod(
            this, [this] { reportNoLidar(); }, Qt::AutoConnection);
        return false;
    }

    QElapsedTimer waited;
    waited.start();
    if (!serial_port_->waitForReadyRead(kDetectTimeoutMs)) {
        const QSerialPort::SerialPortError error = serial_port_->error();
        if (error == QSerialPort::TimeoutError)
            TX_LOG << "no data from" << port_name << "within" << kDetectTimeoutMs << "ms";
        else
            TX_LOG << "port" << port_name << "closed after" << waited.elapsed() << "ms without data,"
                   << qUtf8Printable(describeError(*serial_port_, error));
        // Closing releases the port's lock file for the next program.
        close();
        reportNoLidar();
        return false;
    }

    // Connect from a short-lived thread; the handlers still run on this
    // thread, where the port and the controller live. The bytes that ended
    // the wait stay buffered until the first read.
    std::shared_ptr<QSerialPort> port = serial_port_;
    std::thread([this, port]() mutable {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            QObject::connect(port.get(), &QSerialPort::readyRead, this, &SerialLogic::readData);
            QObject::connect(port.get(), &QSerialPort::errorOccurred, this, &SerialLogic::handleError);
        }
        // A ready-read raised before the connections existed is gone, so read
        // what is buffered now rather than waiting for the next chunk. The
        // reference travels back too, so the port is never destroyed off its
        // thread, even when a later open() has already dropped it.
        QMetaObject::invokeMethod(
            this, [this, port = std::move(port)] { readBuffered(port.get()); }, Qt::QueuedConnection);
    }).detach();
    return true;
}

void SerialLogic::close()
{
    if (!serial_port_)
        return;
    {
        // Not while the connections of a fresh link are being made.
        std::lock_guard<std::mutex> lock(mutex_);
        QObject::disconnect(serial_port_.get(), nullptr, this, nullptr);
    }
    serial_port_->close();
}

void SerialLogic::readData()
{
    readBuffered(qobject_cast<QSerialPort*>(sender()));
}

void SerialLogic::readBuffered(QSerialPort* port)
{
    if (!port || port != serial_port_.get() || !port->isOpen() || port->bytesAvailable() <= 0)
        return;
    SerialData::instance()->findFrame(port->readAll());
}

void SerialLogic::handleError(QSerialPort::SerialPortError error)
{
    // Qt reports NoError after successful operations; that is no failure.
    if (error == QSerialPort::NoError)
        return;
    auto* port = qobject_cast<QSerialPort*>(sender());
    if (!port)
        return;
    if (port != serial_port_.get()) {
        // A port replaced by a later open() is no longer the link.
        QObject::disconnect(port, nullptr, this, nullptr);
        return;
    }
    TX_LOG << "serialPortError";
    TX_LOG << "port" << port->portName() << "error" << qUtf8Printable(describeError(*port, error));
    // Closing may raise further notifications; the first one ends the link.
    close();
    warnUser(QStringLiteral("Lidar connection fail,please check the connection"));
    QCoreApplication::exit(0);
}

void SerialLogic::reportNoLidar()
{
    warnUser(QStringLiteral("No Lidar detected. please check the connection and restart the software."));
}
