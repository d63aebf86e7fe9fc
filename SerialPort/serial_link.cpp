#include "SerialPort/serial_link.h"

#include <QElapsedTimer>
#include <QMetaEnum>

#include <algorithm>
#include <poll.h>

#include "SerialPort/serial_data.h"
#include "app/log.h"

namespace {

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

SerialLink::SerialLink(QObject* parent) : QObject(parent) {}

SerialLink::~SerialLink()
{
    close();
}

SerialLink::OpenResult SerialLink::open(const QString& port_name, Wait wait)
{
    close();
    error_.clear();
    error_code_ = QSerialPort::NoError;
    port_ = std::make_shared<QSerialPort>();
    // setPortName takes a bare name ("ttyUSB0") or a full path ("/dev/lidar").
    port_->setPortName(port_name);
    port_->setBaudRate(kBaudRate, QSerialPort::AllDirections);
    port_->setDataBits(QSerialPort::Data8);
    port_->setParity(QSerialPort::NoParity);
    port_->setStopBits(QSerialPort::OneStop);
    port_->setFlowControl(QSerialPort::NoFlowControl);

    if (!port_->open(QIODevice::ReadWrite)) {
        error_code_ = port_->error();
        error_ = QStringLiteral("cannot open: %1").arg(describeError(*port_, port_->error()));
        TX_LOG << "open" << port_name << "failed:" << qUtf8Printable(describeError(*port_, port_->error()));
        return OpenResult::OpenFailed;
    }

    QElapsedTimer waited;
    waited.start();
    awaiting_data_ = wait == Wait::No;
    // In slices when a cancel check is set, so that the wait sees it.
    const int slice_ms = cancelled_ ? 100 : kDetectTimeoutMs;
    bool arrived = wait == Wait::No;
    while (!arrived && waited.elapsed() < kDetectTimeoutMs && !(cancelled_ && cancelled_())) {
        arrived = port_->waitForReadyRead(int(std::min<qint64>(slice_ms, kDetectTimeoutMs - waited.elapsed())));
        if (!arrived && port_->error() != QSerialPort::TimeoutError)
            break;
    }
    if (!arrived) {
        const QSerialPort::SerialPortError error = port_->error();
        error_code_ = error;
        if (cancelled_ && cancelled_()) {
            error_ = QStringLiteral("interrupted");
        } else if (error == QSerialPort::TimeoutError) {
            error_ = QStringLiteral("no data within %1 s").arg(kDetectTimeoutMs / 1000);
            TX_LOG << "no data from" << port_name << "within" << kDetectTimeoutMs << "ms";
        } else {
            error_ = QStringLiteral("closed without data: %1").arg(describeError(*port_, error));
            TX_LOG << "port" << port_name << "closed after" << waited.elapsed() << "ms without data,"
                   << qUtf8Printable(describeError(*port_, error));
        }
        // Closing releases the port's lock file for the next program.
        close();
        return OpenResult::NoData;
    }

    connect(port_.get(), &QSerialPort::errorOccurred, this, &SerialLink::handleError);
    if (read_interval_ms_ > 0) {
        // A one-byte buffer stops the port's own reads once it holds a byte,
        // so that the rest waits in the system until the next batch.
        port_->setReadBufferSize(1);
        if (!batch_timer_) {
            batch_timer_ = new QTimer(this);
            connect(batch_timer_, &QTimer::timeout, this, &SerialLink::readBatch);
        }
        batch_timer_->start(read_interval_ms_);
        prompt_ = false;
    } else {
        connect(port_.get(), &QSerialPort::readyRead, this, &SerialLink::readData);
    }
    // The bytes that ended the wait raised no ready-read that anybody saw:
    // read them from the event loop rather than waiting for the next chunk.
    // The reference keeps the port alive until then, even when a later
    // open() has dropped it.
    QMetaObject::invokeMethod(
        this, [this, port = port_] { readBuffered(port.get()); }, Qt::QueuedConnection);
    return OpenResult::Opened;
}

void SerialLink::close()
{
    if (!port_)
        return;
    QObject::disconnect(port_.get(), nullptr, this, nullptr);
    if (batch_timer_)
        batch_timer_->stop();
    port_->close();
}

void SerialLink::readBatch()
{
    const std::shared_ptr<QSerialPort> port = port_;
    if (!port || !port->isOpen())
        return;
    // One read of everything the system holds, then back to the small buffer.
    port->setReadBufferSize(0);
    port->waitForReadyRead(0);
    readBuffered(port.get());
    pace(port.get());
}

void SerialLink::readPromptly()
{
    const std::shared_ptr<QSerialPort> port = port_;
    readBuffered(port.get());
    pace(port.get());
}

void SerialLink::pace(QSerialPort* port)
{
    if (!port || port != port_.get() || !port->isOpen())
        return;
    const int next_ms = pace_ ? std::min(pace_(), read_interval_ms_) : read_interval_ms_;
    if (next_ms <= 0) {
        if (!prompt_) {
            prompt_ = true;
            batch_timer_->stop();
            connect(port, &QSerialPort::readyRead, this, &SerialLink::readPromptly);
        }
        return;
    }
    if (prompt_) {
        prompt_ = false;
        disconnect(port, &QSerialPort::readyRead, this, &SerialLink::readPromptly);
    }
    port->setReadBufferSize(1);
    batch_timer_->start(next_ms);
}

void SerialLink::readData()
{
    readBuffered(qobject_cast<QSerialPort*>(sender()));
}

void SerialLink::readBuffered(QSerialPort* port)
{
    if (!port || port != port_.get() || !port->isOpen() || port->bytesAvailable() <= 0)
        return;
    if (awaiting_data_) {
        awaiting_data_ = false;
        emit dataArrived();
        if (port != port_.get() || !port->isOpen())
            return;
    }
    decoder()->findFrame(port->readAll());
}

SerialData* SerialLink::decoder() const
{
    return decoder_ ? decoder_ : SerialData::instance();
}

void SerialLink::handleError(QSerialPort::SerialPortError error)
{
    // Qt reports NoError after successful operations, and TimeoutError when a
    // batch read finds no bytes (the device paused): neither is a failure.
    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError)
        return;
    auto* port = qobject_cast<QSerialPort*>(sender());
    if (!port)
        return;
    if (port != port_.get()) {
        // A port replaced by a later open() is no longer the link.
        QObject::disconnect(port, nullptr, this, nullptr);
        return;
    }
    const QString reason = describeError(*port, error);
    TX_LOG << "serialPortError";
    TX_LOG << "port" << port->portName() << "error" << qUtf8Printable(reason);
    error_ = reason;
    error_code_ = error;
    // Closing may raise further notifications; the first one ends the link.
    close();
    emit linkLost(reason);
}
