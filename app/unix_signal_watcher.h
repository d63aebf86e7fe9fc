#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <initializer_list>
#include <memory>

namespace tx710 {

// Turns POSIX signals into a Qt signal on the thread that made the watcher.
// The handler only writes the signal number to a socket pair (async-signal
// safe); a QSocketNotifier reads it in the event loop. One watcher per
// process; while it lives, the watched signals no longer end the program.
class UnixSignalWatcher : public QObject
{
    Q_OBJECT
public:
    explicit UnixSignalWatcher(std::initializer_list<int> signal_numbers, QObject* parent = nullptr);
    ~UnixSignalWatcher() override;

    // False when the socket pair or a handler could not be set up (logged).
    bool isWatching() const { return watching_; }
    // True once a watched signal has arrived: for a wait that blocks the
    // event loop to check now and then.
    static bool signalled();

signals:
    void unixSignal(int signal_number);

private:
    void readSignals();

    std::unique_ptr<QSocketNotifier> notifier_;
    bool watching_ = false;
};

} // namespace tx710
