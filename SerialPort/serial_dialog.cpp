#include "SerialPort/serial_dialog.h"

#include <QDir>
#include <QSerialPortInfo>

#include "SerialPort/serial_logic.h"
#include "app/app_settings.h"
#include "app/log.h"
#include "ui_serial_dialog.h"

PortFacts portFacts(const QSerialPortInfo& info)
{
    PortFacts facts;
    facts.description = info.description();
    facts.manufacturer = info.manufacturer();
    facts.serial_number = info.serialNumber();
    facts.has_vid = info.hasVendorIdentifier();
    facts.vid = info.vendorIdentifier();
    facts.has_pid = info.hasProductIdentifier();
    facts.pid = info.productIdentifier();
    return facts;
}

QString portToolTip(const PortFacts& facts)
{
    const auto hex = [](quint16 id) { return QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0')); };
    QStringList lines;
    if (!facts.description.isEmpty())
        lines << QStringLiteral("Description: %1").arg(facts.description);
    if (!facts.manufacturer.isEmpty())
        lines << QStringLiteral("Manufacturer: %1").arg(facts.manufacturer);
    if (!facts.serial_number.isEmpty())
        lines << QStringLiteral("Serial number: %1").arg(facts.serial_number);
    if (facts.has_vid && facts.has_pid)
        lines << QStringLiteral("VID:PID: %1:%2").arg(hex(facts.vid), hex(facts.pid));
    else if (facts.has_vid)
        lines << QStringLiteral("VID: %1").arg(hex(facts.vid));
    else if (facts.has_pid)
        lines << QStringLiteral("PID: %1").arg(hex(facts.pid));
    return lines.join(QLatin1Char('\n'));
}

QList<StablePort> stablePortNames(const QString& folder)
{
    QList<StablePort> ports;
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& entry : entries) {
        if (entry.isSymLink())
            ports.append({entry.filePath(), entry.symLinkTarget()});
    }
    return ports;
}

SerialDialog::SerialDialog(QWidget* parent)
    : QDialog(parent), ui_(new Ui::SerialDialog), refresh_timer_(new QTimer(this))
{
    ui_->setupUi(this);
    setWindowFlags(Qt::FramelessWindowHint);

    refresh_timer_->setObjectName(QStringLiteral("refresh_timer"));
    refresh_timer_->setInterval(kRefreshIntervalMs);
    refresh_timer_->start();
    connect(refresh_timer_, &QTimer::timeout, this, &SerialDialog::refreshPorts);

    connect(ui_->ok_button, &QPushButton::clicked, this, &SerialDialog::okButtonClicked);
    connect(ui_->cancel_button, &QPushButton::clicked, this, &SerialDialog::cancelButtonClicked);
}

SerialDialog::~SerialDialog()
{
    delete ui_;
}

void SerialDialog::setCallback(std::function<void(bool)> callback)
{
    TX_LOG << "setCallback";
    callback_ = std::move(callback);
}

void SerialDialog::refreshPorts()
{
    // Compare the names, not just their number: an adapter swapped for
    // another within one tick must not leave a stale name behind. While the
    // list is unchanged, text the user typed into the box stays.
    const QStringList names = SerialLogic::instance()->availablePortNames();
    const QList<StablePort> stable = stablePortNames(stable_folder_);
    QStringList items = names;
    for (const StablePort& port : stable)
        items.append(port.path);
    if (items == port_names_)
        return;
    port_names_ = items;
    QComboBox* combo = ui_->serial_combo_box;
    combo->clear();
    combo->insertItems(combo->count(), port_names_);
    for (int i = 0; i < names.size(); ++i)
        combo->setItemData(i, portToolTip(portFacts(QSerialPortInfo(names[i]))), Qt::ToolTipRole);
    for (int i = 0; i < stable.size(); ++i) {
        const QString facts = portToolTip(portFacts(QSerialPortInfo(stable[i].target)));
        combo->setItemData(names.size() + i,
                           QStringLiteral("Points to %1").arg(stable[i].target)
                               + (facts.isEmpty() ? QString() : QLatin1Char('\n') + facts),
                           Qt::ToolTipRole);
    }

    const QString last = tx710::setting(tx710::kLastPortKey).toString();
    const int index = last.isEmpty() ? -1 : combo->findText(last);
    if (index >= 0)
        combo->setCurrentIndex(index);
    else if (!filled_ && !last.isEmpty())
        combo->setEditText(last);
    filled_ = true;
}

void SerialDialog::okButtonClicked()
{
    hide();
    const bool opened = SerialLogic::instance()->open(ui_->serial_combo_box->currentText());
    if (!callback_)
        return;
    if (opened)
        refresh_timer_->stop();
    callback_(opened);
}

void SerialDialog::cancelButtonClicked()
{
    if (callback_)
        callback_(false);
}
