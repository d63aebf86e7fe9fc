#include "tools/device_input.h"

namespace tx710 {

namespace {

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
    // Nothing is drawn: reading ten times a second is soon enough.
    link_.setReadInterval(100);
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

void DeviceInput::stop()
{
    feed_.stop();
    link_.close();
}

} // namespace tx710
