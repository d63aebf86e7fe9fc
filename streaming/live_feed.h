#pragma once

// The decoder's live output for the recorder and the live server: every
// revolution (the rounds a save started now would record) as a numbered,
// time-stamped ScanRound, and once a second a status sample of the link.

#include <QObject>
#include <QTimer>

#include <cstdint>

#include "recording/scan_round.h"
#include "recording/status_message.h"

class SerialData;

namespace tx710 {

class LiveFeed : public QObject
{
    Q_OBJECT
public:
    explicit LiveFeed(QObject* parent = nullptr);
    ~LiveFeed() override;

    // The decoder to take from; null (the default): SerialData::instance().
    // Before start().
    void setDecoder(SerialData* decoder) { decoder_ = decoder; }

    // Starts taking the decoder's rounds; false while another feed runs.
    bool start();
    void stop();

    long long rounds() const { return rounds_; }
    const status::Sample& lastStatus() const { return last_status_; }
    // CRC rejects since start().
    std::uint64_t rejects() const;

signals:
    // Rounds numbered from 1, stamped with the time their revolution closed;
    // the point values are those the data file gives.
    void roundReady(const ScanRound& round);
    void statusReady(const status::Sample& sample);

private:
    void sampleStatus();
    SerialData* decoder() const;

    SerialData* decoder_ = nullptr;
    QTimer status_timer_;
    bool running_ = false;
    long long rounds_ = 0;
    std::uint64_t rejects_at_start_ = 0;
    std::uint64_t frames_at_last_sample_ = 0;
    status::Sample last_status_;
};

} // namespace tx710
