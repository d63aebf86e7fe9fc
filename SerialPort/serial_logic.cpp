#include "SerialPort/serial_logic.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QSerialPortInfo>
#include <QSound>

#include "app/app_settings.h"

namespace {

const QString kWarningSound = QStringLiteral(":/Sound/Windows Ding.wav");
constexpr int kReadIntervalMs = 20;

void warnUser(const QString& text, const QString& details)
{
    QSound::play(kWarningSound);
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Error"), text, QMessageBox::Ok);
    box.setDetailedText(details);
    box.exec();
}

const QString kBrltty = QStringLiteral(
    "On Ubuntu, the braille display service brltty takes CH340 and CP210x adapters away right after they are "
    "plugged in: remove it (sudo apt remove brltty) or disable it (sudo systemctl mask brltty-udev.service), then "
    "plug the adapter in again.");

} // namespace

QString connectionRemedy(QSerialPort::SerialPortError error, const QString& reason)
{
    // The system reports a port held by another program as a permission
    // error too; its text tells the two apart.
    const bool busy = error == QSerialPort::OpenError
        || (error == QSerialPort::PermissionError
            && (reason.contains(QStringLiteral("lock"), Qt::CaseInsensitive)
                || reason.contains(QStringLiteral("busy"), Qt::CaseInsensitive)));
    if (busy)
        return QStringLiteral("Another program holds the port: close it (sudo fuser -v PORT names it), then try "
                              "again.");
    if (reason.contains(QStringLiteral("hung up")) || error == QSerialPort::ResourceError)
        return QStringLiteral("The device went away: check the cable, the adapter and the LiDAR's power. ") + kBrltty;
    switch (error) {
    case QSerialPort::PermissionError:
        return QStringLiteral("Your user may not open the port: add it to the dialout group (sudo usermod -aG "
                              "dialout $USER), then log out and in again.");
    case QSerialPort::DeviceNotFoundError:
        return QStringLiteral("There is no such port: check its name and that the adapter is plugged in. ") + kBrltty;
    case QSerialPort::NoError:
    case QSerialPort::TimeoutError:
        return QStringLiteral("Nothing was received: this may be the wrong port, or the LiDAR is not powered or "
                              "not connected.");
    default:
        return QStringLiteral("Check the cable, the adapter and the LiDAR's power, then try again.");
    }
}

SerialLogic* SerialLogic::instance()
{
    // Created once, safely under concurrent first use, never destroyed.
    static SerialLogic* const logic = new SerialLogic;
    return logic;
}

SerialLogic::SerialLogic() : QObject(nullptr)
{
    // Bytes are taken in batches: a wake-up for every chunk the line
    // delivers costs more than decoding them, and a round lasts 100 ms.
    link_.setReadInterval(kReadIntervalMs);
    follower_.setEnabled(false);
    // After the follower's own connection, which sees the loss first.
    connect(&link_, &SerialLink::linkLost, this, &SerialLogic::linkLost);
}

void SerialLogic::setReconnect(bool on)
{
    const bool waiting = follower_.waiting();
    follower_.setEnabled(on);
    if (!on && waiting)
        linkLost();
}

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
    switch (link_.open(port_name)) {
    case SerialLink::OpenResult::Opened:
        follower_.follow(port_name);
        tx710::setSetting(tx710::kLastPortKey, port_name);
        return true;
    case SerialLink::OpenResult::OpenFailed:
        // Same thread, so this runs before open() returns.
        QMetaObject::invokeMethod(
            this, [this] { reportNoLidar(); }, Qt::AutoConnection);
        return false;
    case SerialLink::OpenResult::NoData:
        break;
    }
    reportNoLidar();
    return false;
}

void SerialLogic::close()
{
    follower_.stop();
    link_.close();
}

QString SerialLogic::details() const
{
    const auto port = link_.serialPort();
    return QStringLiteral("Port: %1\nReason: %2\n\n%3")
        .arg(port ? port->portName() : QString(), link_.errorString(),
             connectionRemedy(link_.errorCode(), link_.errorString()));
}

void SerialLogic::linkLost()
{
    if (follower_.enabled())
        return; // it waits for the device
    warnUser(QStringLiteral("Lidar connection fail,please check the connection"), details());
    QCoreApplication::exit(0);
}

void SerialLogic::reportNoLidar()
{
    warnUser(QStringLiteral("No Lidar detected. please check the connection and restart the software."), details());
}
