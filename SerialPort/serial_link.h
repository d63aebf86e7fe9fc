#pragma once

#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class SerialData;

// The widget-free serial link to the LiDAR: opens a port at the device's
// fixed settings (230400 8N1), waits up to 3 s for the first data, hands every
// received chunk to its decoder (SerialData::instance() unless set) and reports a lost
// link with its reason. Receive-only: nothing is ever written to the port.
// It knows none of its users (the viewer's port logic, the headless recorder).
class SerialLink : public QObject
{
    Q_OBJECT
public:
    static constexpr qint32 kBaudRate = 230400;
    static constexpr int kDetectTimeoutMs = 3000;

    enum class OpenResult {
        Opened,
        OpenFailed, // the port could not be opened
        NoData,     // opened, but nothing arrived in time (the port is closed again)
    };

    explicit SerialLink(QObject* parent = nullptr);
    ~SerialLink() override; // closes

    enum class Wait { ForData, No };

    // Opens `port_name` (a port name or a full device path) and waits for
    // data. On failure errorString() says why; the port is closed again.
    // Wait::No returns once the port is open, and dataArrived() tells when
    // the first bytes come (a device coming back, the event loop going on).
    OpenResult open(const QString& port_name, Wait wait = Wait::ForData);

    // Closes the port, which also removes its lock file. Harmless when
    // nothing is open.
    void close();

    // Reads what has arrived every `interval_ms` instead of at each arrival:
    // far fewer wake-ups, for a program that draws nothing (the recorder).
    // 0, the default, reads at each arrival. Takes effect at the next open().
    void setReadInterval(int interval_ms) { read_interval_ms_ = interval_ms; }
    // With a read interval: asked after each read, the milliseconds to the
    // next one (at most the interval); 0 reads at each arrival until it says
    // otherwise. Bytes not yet read when the line hangs up are lost, so a
    // reader reads promptly where that matters (the end of a revolution).
    void setReadPace(std::function<int()> pace) { pace_ = std::move(pace); }
    // Asked at least every 100 ms during the wait for the first data; when it
    // says true, open() closes the port again and gives up (NoData).
    void setCancelCheck(std::function<bool()> cancelled) { cancelled_ = std::move(cancelled); }

    // The decoder that gets the bytes; null: SerialData::instance().
    void setDecoder(SerialData* decoder) { decoder_ = decoder; }
    SerialData* decoder() const;

    bool isOpen() const { return port_ && port_->isOpen(); }
    // The port of the last open(), or null before the first one.
    std::shared_ptr<QSerialPort> serialPort() const { return port_; }
    // Why the last open() failed or the link was lost.
    QString errorString() const { return error_; }
    // Qt's error code behind errorString(): TimeoutError when no data came.
    QSerialPort::SerialPortError errorCode() const { return error_code_; }

signals:
    // The open link failed (hang-up, read error); the port is closed already.
    void linkLost(const QString& reason);
    // The first bytes after an open() that did not wait for them.
    void dataArrived();

private:
    void readData();
    void readBuffered(QSerialPort* port);
    void handleError(QSerialPort::SerialPortError error);
    void readBatch();
    void readPromptly();
    // After a read: the next one by the pace.
    void pace(QSerialPort* port);

    std::shared_ptr<QSerialPort> port_;
    SerialData* decoder_ = nullptr;
    int read_interval_ms_ = 0;
    std::function<int()> pace_;
    bool prompt_ = false; // reading at each arrival
    std::function<bool()> cancelled_;
    QTimer* batch_timer_ = nullptr;
    QString error_;
    QSerialPort::SerialPortError error_code_ = QSerialPort::NoError;
    bool awaiting_data_ = false;
};
