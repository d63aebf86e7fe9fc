#include "SerialPort/serial_dialog.h"

#include "SerialPort/serial_logic.h"
#include "app/log.h"
#include "ui_serial_dialog.h"

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
    if (names == port_names_)
        return;
    port_names_ = names;
    ui_->serial_combo_box->clear();
    ui_->serial_combo_box->insertItems(ui_->serial_combo_box->count(), port_names_);
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
