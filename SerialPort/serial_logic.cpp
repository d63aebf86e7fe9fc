#include "SerialPort/serial_logic.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QSerialPortInfo>
#include <QSound>

namespace {

const QString kWarningSound = QStringLiteral(":/Sound/Windows Ding.wav");

void warnUser(const QString& text)
{
    QSound::play(kWarningSound);
    QMessageBox::warning(nullptr, QStringLiteral("Error"), text, QMessageBox::Ok, QMessageBox::NoButton);
}

} // namespace

SerialLogic* SerialLogic::instance()
{
    // Created once, safely under concurrent first use, never destroyed.
    static SerialLogic* const logic = new SerialLogic;
    return logic;
}

SerialLogic::SerialLogic() : QObject(nullptr)
{
    connect(&link_, &SerialLink::linkLost, this, &SerialLogic::linkLost);
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
    link_.close();
}

void SerialLogic::linkLost()
{
    warnUser(QStringLiteral("Lidar connection fail,please check the connection"));
    QCoreApplication::exit(0);
}

void SerialLogic::reportNoLidar()
{
    warnUser(QStringLiteral("No Lidar detected. please check the connection and restart the software."));
}
