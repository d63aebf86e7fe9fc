#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <vector>

#include "SerialPort/port_identity.h"

class SerialLink;

namespace tx710 {

// Rides out a lost link: waits for the same device (PortIdentity) and opens
// it again with the same settings, trying a few times a second, until data
// comes. The round under way at the loss is dropped, so whole rounds go on.
class PortFollower : public QObject
{
    Q_OBJECT
public:
    static constexpr int kRetryMs = 400;
    using PortLister = std::function<std::vector<PortRecord>()>;

    explicit PortFollower(SerialLink& link, QObject* parent = nullptr);

    // Starts following `port` (as given by the user), open on the link now.
    void follow(const QString& port);
    // Ends the following (the port is closed for good).
    void stop();
    // A follower switched off lets a lost link go (and stops a wait).
    void setEnabled(bool enabled);
    bool enabled() const { return enabled_; }
    // Replaces the system's port list (tests).
    void setPortLister(PortLister lister) { lister_ = std::move(lister); }

    bool waiting() const { return down_since_.isValid(); }
    // When the link went down; invalid while it is up (for diagnostics).
    QDateTime downSince() const { return down_since_; }
    // Whole seconds of the wait so far.
    int waitedSeconds() const { return waiting() ? int(waited_.elapsed() / 1000) : 0; }
    QString port() const { return port_; }

signals:
    // The link was lost and the wait began.
    void linkDown(const QString& reason);
    // Data comes again from `device`, after `gap_ms` without the link.
    void linkBack(const QString& device, qint64 gap_ms);

private:
    void lost(const QString& reason);
    void retry();
    void back();

    SerialLink& link_;
    PortLister lister_;
    PortIdentity identity_;
    QString port_;
    QString device_; // the device opened last
    QDateTime down_since_;
    QElapsedTimer waited_;
    QTimer retry_timer_;
    bool enabled_ = true;
};

} // namespace tx710
