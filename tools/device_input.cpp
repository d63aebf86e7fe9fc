#include "tools/device_input.h"

#include <algorithm>

namespace tx710 {

namespace {

constexpr int kReadIntervalMs = 100;
// Read at each arrival from this long before a revolution is expected to end.
constexpr int kPromptMs = 15;

std::int64_t epochNs(const QDateTime& time)
{
    return time.isValid() ? time.toMSecsSinceEpoch() * 1000000LL : 0;
}

} // namespace

DeviceInput::DeviceInput(int index, const QString& port, QObject* parent)
    : QObject(parent), index_(index), port_(port), own_decoder_(index == 0 ? nullptr : SerialData::create())
{
    link_.setDecoder(own_decoder_.get());
    feed_.setDecoder(own_decoder_.get());
    connect(&feed_, &LiveFeed::roundReady, this, [this](ScanRound round) {
        round.device = index_;
        emit roundReady(round);
    });
    connect(&feed_, &LiveFeed::statusReady, this, [this](status::Sample sample) {
        sample.device = index_;
        if (wait_)
            sample.link_down_since_ns = epochNs(wait_->downSince());
        emit statusReady(sample);
    });
    connect(&link_, &SerialLink::linkLost, this, [this](const QString& reason) {
        if (!wait_)
            emit failed(QStringLiteral("%1: link lost: %2").arg(port_, reason));
    });
}

bool DeviceInput::start(const Reconnect& reconnect, std::function<bool()> cancelled)
{
    feed_.start();
    // Nothing is drawn: reading ten times a second is soon enough, but at
    // each arrival around a revolution's end, so that a line lost then
    // cannot take the bytes that end a whole revolution with it.
    link_.setReadInterval(kReadIntervalMs);
    link_.setReadPace([decoder = link_.decoder()] {
        const double degrees_per_ms = decoder->lastSpeedRpm() * 6.0 / 1000.0;
        if (!(degrees_per_ms > 0))
            return kReadIntervalMs;
        const double to_end_ms = decoder->degreesToTurnEnd() / degrees_per_ms;
        return to_end_ms <= kPromptMs ? 0 : int(std::min<double>(kReadIntervalMs, to_end_ms - kPromptMs / 2));
    });
    link_.setCancelCheck(std::move(cancelled));
    if (link_.open(port_) != SerialLink::OpenResult::Opened) {
        emit failed(QStringLiteral("%1: %2").arg(port_, link_.errorString()));
        return false;
    }
    if (reconnect.enabled) {
        wait_ = new LinkWait(link_, port_, reconnect.timeout_s, reconnect.clear_line, this);
        connect(wait_, &LinkWait::gaveUp, this, &DeviceInput::failed);
    }
    return true;
}

void DeviceInput::dropBacklog()
{
    if (const std::shared_ptr<QSerialPort> port = link_.serialPort())
        port->clear(QSerialPort::Input);
    link_.decoder()->dropRoundInProgress();
}

void DeviceInput::stop()
{
    feed_.stop();
    link_.close();
}

} // namespace tx710
