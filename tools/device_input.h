#pragma once

// One LiDAR of a recording: its port, its own decoder, the serial link and
// live feed on it, and with --reconnect the wait for it through a loss. Its
// rounds and status samples come out marked with its index in the recording.

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

#include "SerialPort/serial_data.h"
#include "SerialPort/serial_link.h"
#include "streaming/live_feed.h"
#include "tools/link_wait.h"

namespace tx710 {

class DeviceInput : public QObject
{
    Q_OBJECT
public:
    // The first LiDAR reads through the process-wide decoder, as the viewer.
    DeviceInput(int index, const QString& port, QObject* parent = nullptr);

    struct Reconnect {
        bool enabled = false;
        double timeout_s = 0;
        std::function<void()> clear_line; // before each line on stderr
    };
    // Opens the port and waits up to 3 s for its data; false with failed()
    // emitted when it cannot.
    bool start(const Reconnect& reconnect, std::function<bool()> cancelled);
    void stop();
    // No more rounds or samples; the link stays open until stop().
    void stopFeed() { feed_.stop(); }
    // Drops what came before now (bytes that waited in the system while
    // another port opened, which a real line may have overrun).
    void dropBacklog();

    int index() const { return index_; }
    const QString& port() const { return port_; }
    bool waiting() const { return wait_ && wait_->waiting(); }
    // "waiting for /dev/ttyUSB0 (12 s)" while waiting.
    QString waitText() const { return wait_ ? wait_->progressText() : QString(); }
    const status::Sample& lastStatus() const { return feed_.lastStatus(); }
    std::uint64_t rejects() const { return feed_.rejects(); }

signals:
    void roundReady(const ScanRound& round);
    void statusReady(const status::Sample& sample);
    // The LiDAR is lost for good: "PORT: reason".
    void failed(const QString& error);

private:
    int index_;
    QString port_;
    std::unique_ptr<SerialData> own_decoder_;
    SerialLink link_;
    LiveFeed feed_;
    LinkWait* wait_ = nullptr;
};

} // namespace tx710
