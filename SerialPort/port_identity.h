#pragma once

// How a serial port that went away is found again: by the name it was given
// when that name is stable (a symbolic link such as /dev/serial/by-id/...),
// else by its USB adapter (serial number, or VID:PID and USB path where it
// has none), since a bare device such as ttyUSB0 may come back as ttyUSB1.

#include <QString>

#include <functional>
#include <vector>

namespace tx710 {

// What the system tells of one serial port.
struct PortRecord {
    QString location; // the device, /dev/ttyUSB0
    QString serial_number;
    int vendor_id = -1; // -1: not a USB device
    int product_id = -1;
    QString usb_path; // where it is plugged in, "1-1.2"; empty when unknown
};

// The serial ports present now (QSerialPortInfo, the USB path from sysfs).
std::vector<PortRecord> systemPorts();

class PortIdentity
{
public:
    enum class Kind { Name, SerialNumber, UsbPath };

    // The identity of `port` (a name or a path) as opened now, among `ports`.
    // `stable_name`: the path is a symbolic link or under /dev/serial/.
    static PortIdentity of(const QString& port, bool stable_name, const std::vector<PortRecord>& ports);
    // As above, asking the file system whether `port` is a stable name.
    static PortIdentity of(const QString& port, const std::vector<PortRecord>& ports);

    // The device to open for it among `ports`, empty when it is not there.
    // `exists` tells whether a path is there (followed by name).
    QString find(const std::vector<PortRecord>& ports, const std::function<bool(const QString&)>& exists) const;

    Kind kind() const { return kind_; }
    // "serial number A1B2 (10c4:ea60)", "10c4:ea60 at USB 1-1.2" or the name.
    QString describe() const;

private:
    Kind kind_ = Kind::Name;
    QString path_; // the device as first opened
    QString serial_number_;
    int vendor_id_ = -1;
    int product_id_ = -1;
    QString usb_path_;
};

} // namespace tx710
