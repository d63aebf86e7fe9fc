#pragma once

#include <QDialog>
#include <QList>
#include <QStringList>
#include <QTimer>

#include <functional>

class QSerialPortInfo;

// What the system knows of a port's adapter; unknown fields stay empty.
struct PortFacts {
    QString description;
    QString manufacturer;
    QString serial_number;
    bool has_vid = false;
    quint16 vid = 0;
    bool has_pid = false;
    quint16 pid = 0;
};
PortFacts portFacts(const QSerialPortInfo& info);
// One line for each known fact; empty when nothing is known.
QString portToolTip(const PortFacts& facts);

// A name that stays the same whichever order adapters are plugged in.
struct StablePort {
    QString path;   // the link itself, e.g. /dev/serial/by-id/usb-...
    QString target; // the device it points to, e.g. /dev/ttyUSB0
};
// The links in `folder`, sorted by name; none when the folder does not exist.
QList<StablePort> stablePortNames(const QString& folder = QStringLiteral("/dev/serial/by-id"));

QT_BEGIN_NAMESPACE
namespace Ui {
class SerialDialog;
}
QT_END_NAMESPACE

// The first window: a port list refreshed every 500 ms and Ok/Cancel. On Ok
// it asks SerialLogic to open the chosen (or typed) port and reports the
// outcome through the callback; it never ends the application itself. The
// ports' stable names follow the listed ones, and the port last opened is
// preselected (or typed in, when it is not listed).
class SerialDialog : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kRefreshIntervalMs = 500;

    explicit SerialDialog(QWidget* parent = nullptr);
    ~SerialDialog() override;

    void setCallback(std::function<void(bool)> callback);
    // Where the stable names are looked for (tests).
    void setStablePortFolder(const QString& folder) { stable_folder_ = folder; }

public slots:
    void okButtonClicked();
    void cancelButtonClicked();

private:
    void refreshPorts();

    Ui::SerialDialog* ui_;
    std::function<void(bool)> callback_;
    QTimer* refresh_timer_;
    QStringList port_names_;
    QString stable_folder_ = QStringLiteral("/dev/serial/by-id");
    bool filled_ = false;
};
