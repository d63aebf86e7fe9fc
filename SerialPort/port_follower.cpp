#include "SerialPort/port_follower.h"

#include <QFileInfo>

#include "SerialPort/serial_data.h"
#include "SerialPort/serial_link.h"
#include "app/log.h"

namespace tx710 {

PortFollower::PortFollower(SerialLink& link, QObject* parent) : QObject(parent), link_(link), lister_(systemPorts)
{
    retry_timer_.setInterval(kRetryMs);
    connect(&retry_timer_, &QTimer::timeout, this, &PortFollower::retry);
    connect(&link_, &SerialLink::linkLost, this, &PortFollower::lost);
    connect(&link_, &SerialLink::dataArrived, this, &PortFollower::back);
}

void PortFollower::follow(const QString& port)
{
    port_ = port;
    identity_ = PortIdentity::of(port, lister_());
    if (enabled_) // no new log line without the option
        TX_LOG << "following" << port << "by" << identity_.describe();
}

void PortFollower::stop()
{
    port_.clear();
    retry_timer_.stop();
    down_since_ = QDateTime();
}

void PortFollower::setEnabled(bool enabled)
{
    enabled_ = enabled;
    if (enabled)
        return;
    retry_timer_.stop();
    down_since_ = QDateTime();
}

void PortFollower::lost(const QString& reason)
{
    if (port_.isEmpty() || !enabled_)
        return;
    if (!waiting()) {
        down_since_ = QDateTime::currentDateTime();
        waited_.start();
        // Whole rounds only: what came before the loss is no start of one.
        link_.decoder()->dropRoundInProgress();
        emit linkDown(reason);
    }
    retry_timer_.start();
}

void PortFollower::retry()
{
    if (link_.isOpen())
        return; // reopened, waiting for its data
    const QString device = identity_.find(lister_(), [](const QString& path) { return QFileInfo::exists(path); });
    if (device.isEmpty())
        return;
    if (link_.open(device, SerialLink::Wait::No) == SerialLink::OpenResult::Opened) {
        device_ = device;
        TX_LOG << "reopened" << device << "for" << port_;
    }
}

void PortFollower::back()
{
    if (!waiting())
        return;
    retry_timer_.stop();
    const qint64 gap_ms = waited_.elapsed();
    down_since_ = QDateTime();
    emit linkBack(device_, gap_ms);
}

} // namespace tx710
