#pragma once

// One client of the live stream: its socket, its subscriptions and the queue
// of what waits for it, bounded so that a slow reader loses its oldest
// messages (and is told so) and one that never reads is closed.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>

class QWebSocket;

namespace tx710 {

class StreamClient
{
public:
    // Status levels of the protocol.
    static constexpr int kWarning = 1;
    static constexpr int kError = 2;

    explicit StreamClient(QWebSocket* socket) : socket_(socket) {}

    QWebSocket* socket() const { return socket_; }
    // Closed by the server: it gets nothing more.
    bool closing() const { return closing_; }
    // Subscription id -> channel id.
    std::map<quint32, quint32>& subscriptions() { return subscriptions_; }

    // A message frame of a channel, to send when the socket can take it.
    void queueMessage(quint32 channel, const QByteArray& frame);
    // Drops the oldest messages past the bound and queues one notice of them.
    void dropOverflow(const std::function<bool(quint32 channel)>& is_status_channel);
    void reply(const QByteArray& json);
    void sendStatus(int level, const QString& message);
    void close(int code, const QString& reason);
    // Hands the socket what waits while it holds little unsent.
    void pump();

private:
    struct Outgoing {
        enum Kind { Reply, Message, DropNotice } kind;
        quint32 channel = 0;
        QByteArray bytes;
    };

    QWebSocket* socket_ = nullptr;
    std::map<quint32, quint32> subscriptions_;
    std::deque<Outgoing> queue_;
    int queued_messages_ = 0;
    int queued_replies_ = 0;
    bool notice_queued_ = false;
    std::uint64_t dropped_rounds_ = 0;
    std::uint64_t dropped_status_ = 0;
    bool closing_ = false;
};

} // namespace tx710
