#include "SerialPort/port_identity.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>

namespace tx710 {

namespace {

QString devicePath(const QString& port)
{
    return port.startsWith(QLatin1Char('/')) ? port : QStringLiteral("/dev/") + port;
}

// The USB port path ("1-1.2") of the interface a tty belongs to, from sysfs.
QString usbPathOf(const QString& port_name)
{
    static const QRegularExpression interface(QStringLiteral("^(\\d+-[\\d.]+):\\d+\\.\\d+$"));
    const QString device = QFileInfo(QStringLiteral("/sys/class/tty/%1/device").arg(port_name)).canonicalFilePath();
    const QStringList parts = device.split(QLatin1Char('/'));
    for (auto it = parts.crbegin(); it != parts.crend(); ++it) {
        const QRegularExpressionMatch match = interface.match(*it);
        if (match.hasMatch())
            return match.captured(1);
    }
    return QString();
}

QString ids(int vendor, int product)
{
    return QStringLiteral("%1:%2").arg(vendor, 4, 16, QLatin1Char('0')).arg(product, 4, 16, QLatin1Char('0'));
}

} // namespace

std::vector<PortRecord> systemPorts()
{
    std::vector<PortRecord> records;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : ports) {
        PortRecord record;
        record.location = info.systemLocation();
        record.serial_number = info.serialNumber();
        if (info.hasVendorIdentifier() && info.hasProductIdentifier()) {
            record.vendor_id = info.vendorIdentifier();
            record.product_id = info.productIdentifier();
            record.usb_path = usbPathOf(info.portName());
        }
        records.push_back(record);
    }
    return records;
}

PortIdentity PortIdentity::of(const QString& port, const std::vector<PortRecord>& ports)
{
    const QString path = devicePath(port);
    return of(port, QFileInfo(path).isSymLink() || path.startsWith(QLatin1String("/dev/serial/")), ports);
}

PortIdentity PortIdentity::of(const QString& port, bool stable_name, const std::vector<PortRecord>& ports)
{
    PortIdentity identity;
    identity.path_ = devicePath(port);
    if (stable_name)
        return identity;
    for (const PortRecord& record : ports) {
        if (record.location != identity.path_ || record.vendor_id < 0)
            continue;
        identity.vendor_id_ = record.vendor_id;
        identity.product_id_ = record.product_id;
        if (!record.serial_number.isEmpty()) {
            identity.kind_ = Kind::SerialNumber;
            identity.serial_number_ = record.serial_number;
        } else if (!record.usb_path.isEmpty()) {
            identity.kind_ = Kind::UsbPath;
            identity.usb_path_ = record.usb_path;
        }
        break;
    }
    return identity;
}

QString PortIdentity::find(const std::vector<PortRecord>& ports,
                           const std::function<bool(const QString&)>& exists) const
{
    if (kind_ == Kind::Name)
        return exists(path_) ? path_ : QString();
    QString found;
    for (const PortRecord& record : ports) {
        const bool same = record.vendor_id == vendor_id_ && record.product_id == product_id_
            && (kind_ == Kind::SerialNumber ? record.serial_number == serial_number_ : record.usb_path == usb_path_);
        // Under its old name where two adapters share a serial number.
        if (same && (found.isEmpty() || record.location == path_))
            found = record.location;
    }
    return found;
}

QString PortIdentity::describe() const
{
    switch (kind_) {
    case Kind::SerialNumber:
        return QStringLiteral("serial number %1 (%2)").arg(serial_number_, ids(vendor_id_, product_id_));
    case Kind::UsbPath:
        return QStringLiteral("%1 at USB %2").arg(ids(vendor_id_, product_id_), usb_path_);
    case Kind::Name:
        break;
    }
    return path_;
}

} // namespace tx710
