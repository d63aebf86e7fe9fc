#pragma once

// The live stream: a WebSocket server speaking the Foxglove WebSocket
// protocol (subprotocol foxglove.websocket.v1), offering the recording's
// topics (every device's) with the same schemas and encodings as the MCAP
// file. /tf_static is latched: each client that subscribes to it gets the
// transforms at once (or with the first round, when none came yet). Clients
// can only subscribe; anything else they ask for is refused with a status.
//
// All on the thread that owns the server; publishing never blocks: a client
// that reads too slowly loses its oldest messages and is told so.

#include <QObject>
#include <QString>

#include <cstdint>
#include <map>
#include <memory>

#include "recording/recording_profile.h"
#include "recording/round_sink.h"
#include "recording/scan_round.h"
#include "recording/status_message.h"

class QJsonObject;
class QTcpServer;
class QWebSocket;
class QWebSocketServer;

namespace tx710 {

class StreamClient;

class FoxgloveServer : public QObject, public RoundSink
{
    Q_OBJECT
public:
    static constexpr char kSubprotocol[] = "foxglove.websocket.v1";
    static constexpr quint32 kScanChannel = 1;
    static constexpr quint32 kStatusChannel = 2;
    // A client message larger than this closes the client.
    static constexpr quint64 kMaxClientMessageBytes = 64 * 1024;
    // Messages waiting per client beyond what its socket buffers; past this
    // the oldest is dropped.
    static constexpr int kMaxQueuedMessages = 8;
    // Bytes a client's socket may hold before the queue stops handing it more.
    static constexpr qint64 kSocketHighWaterBytes = 512 * 1024;
    // Replies (status and the like) waiting for a client that does not read.
    static constexpr int kMaxQueuedReplies = 64;
    // Bytes a client's socket may hold unsent, whatever the frame (answers to
    // its pings included): past this the client is cut off, so that one that
    // never reads cannot grow the server's memory.
    static constexpr qint64 kMaxUnsentBytes = 4 * 1024 * 1024;
    // Clients at once unless setMaxClients() says otherwise; one more is
    // refused with a close saying why.
    static constexpr int kDefaultMaxClients = 32;

    explicit FoxgloveServer(QObject* parent = nullptr);
    ~FoxgloveServer() override;

    // "PORT" or "HOST:PORT" ("[v6]:PORT" too); without a host only the
    // loopback interface is bound. Port 0 picks a free port (serverPort()).
    // On failure returns false with the reason in `error`.
    bool listen(const QString& host_and_port, QString* error);
    quint16 serverPort() const;
    // The channels and messages of the profile these options choose (the
    // Foxglove JSON profile until called); before the first client.
    void setDevices(const DeviceScans& devices);
    QString serverAddress() const;

    void publishRound(const ScanRound& round);
    void publishStatus(const status::Sample& sample);

    int clientCount() const { return int(clients_.size()); }
    void setMaxClients(int count) { max_clients_ = count; }

    // As a sink of a recording: publishing never fails; closing stops
    // taking new clients.
    bool writeRound(const ScanRound& round) override;
    bool writeStatus(const status::Sample& sample) override;
    bool close() override;
    QString errorString() const override { return QString(); }

signals:
    void clientCountChanged(int count);

private:
    void acceptConnection();
    void clientGone(QWebSocket* socket);
    void textReceived(StreamClient& client, const QString& text);
    void binaryReceived(StreamClient& client, const QByteArray& data);
    void subscribe(StreamClient& client, const QJsonObject& request);
    void unsubscribe(StreamClient& client, const QJsonObject& request);
    void publish(quint32 channel, std::int64_t receive_time_ns, const QByteArray& payload);
    // Queues a message for one client's subscriptions to `channel`.
    void sendTo(StreamClient& client, quint32 channel, std::int64_t receive_time_ns, const QByteArray& payload);
    bool isLatchedChannel(quint32 channel) const;
    StreamClient* find(QWebSocket* socket);
    bool isStatusChannel(quint32 channel) const;
    void publishPending();

    QTcpServer* tcp_server_ = nullptr;
    QWebSocketServer* ws_server_ = nullptr;
    std::map<QWebSocket*, std::unique_ptr<StreamClient>> clients_;
    QByteArray server_info_;
    QByteArray advertise_;
    int max_clients_ = kDefaultMaxClients;
    std::unique_ptr<RecordingProfile> profile_;
    std::vector<RecordingProfile::Message> pending_;
    // The messages of the latched channels, for clients that come later.
    std::vector<RecordingProfile::Message> latched_;
};

} // namespace tx710
