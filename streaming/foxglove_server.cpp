#include "streaming/foxglove_server.h"

#include <QDateTime>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>
#include <QtEndian>

#include <algorithm>
#include <cmath>

#include "app/log.h"
#include "recording/point_cloud_message.h"
#include "streaming/handshake_server.h"
#include "streaming/stream_client.h"

namespace tx710 {

namespace {

// Client requests of features this server does not offer.
const char* const kRefusedOps[] = {"advertise",
                                   "unadvertise",
                                   "getParameters",
                                   "setParameters",
                                   "subscribeParameterUpdates",
                                   "unsubscribeParameterUpdates",
                                   "subscribeConnectionGraph",
                                   "unsubscribeConnectionGraph",
                                   "fetchAsset"};

constexpr quint8 kMessageDataOpcode = 0x01;
constexpr quint8 kClientMessageDataOpcode = 0x01;
constexpr quint8 kServiceCallOpcode = 0x02;
QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QJsonObject channelJson(quint32 id, const TopicDescription& topic)
{
    return QJsonObject{{"id", double(id)},
                       {"topic", QString::fromUtf8(topic.topic)},
                       {"encoding", QString::fromUtf8(topic.message_encoding)},
                       {"schemaName", QString::fromUtf8(topic.schema_name)},
                       {"schema", QString::fromUtf8(topic.schema_text)},
                       {"schemaEncoding", QString::fromUtf8(topic.schema_encoding)}};
}

// A JSON number that is a whole uint32, as ids are.
bool toId(const QJsonValue& value, quint32& id)
{
    const double number = value.toDouble(-1);
    if (!value.isDouble() || number < 0 || number > 4294967295.0 || std::floor(number) != number)
        return false;
    id = quint32(number);
    return true;
}

} // namespace

FoxgloveServer::FoxgloveServer(QObject* parent)
    : QObject(parent), tcp_server_(new HandshakeServer(this)),
      ws_server_(new QWebSocketServer(QStringLiteral("tx710"), QWebSocketServer::NonSecureMode, this))
{
    connect(tcp_server_, &QTcpServer::newConnection, this, [this] {
        while (tcp_server_->hasPendingConnections())
            ws_server_->handleConnection(tcp_server_->nextPendingConnection());
    });
    connect(ws_server_, &QWebSocketServer::newConnection, this, &FoxgloveServer::acceptConnection);

    server_info_ = compact(QJsonObject{{"op", "serverInfo"},
                                       {"name", "tx710"},
                                       {"capabilities", QJsonArray()},
                                       {"sessionId", QString::number(QDateTime::currentMSecsSinceEpoch())}});
    ScanOptions foxglove;
    foxglove.profile = ScanOptions::Profile::Foxglove;
    setDevices({foxglove});
}

void FoxgloveServer::setDevices(const DeviceScans& devices)
{
    profile_ = makeRecordingProfile(devices);
    latched_.clear();
    QJsonArray channels;
    for (const RecordingProfile::Channel& channel : profile_->channels())
        channels.append(channelJson(channel.id, channel.topic));
    advertise_ = compact(QJsonObject{{"op", "advertise"}, {"channels", channels}});
}

bool FoxgloveServer::isStatusChannel(quint32 channel) const
{
    for (const RecordingProfile::Channel& offered : profile_->channels())
        if (offered.id == channel)
            return offered.status;
    return false;
}

bool FoxgloveServer::isLatchedChannel(quint32 channel) const
{
    for (const RecordingProfile::Channel& offered : profile_->channels())
        if (offered.id == channel)
            return offered.latched;
    return false;
}

void FoxgloveServer::publishPending()
{
    for (const RecordingProfile::Message& message : pending_) {
        if (isLatchedChannel(message.channel))
            latched_.push_back(message);
        publish(message.channel, message.log_time_ns, message.data);
    }
    pending_.clear();
}

FoxgloveServer::~FoxgloveServer()
{
    // The sockets are children of this object; they must not call back into
    // a half-destroyed server.
    for (auto& entry : clients_)
        entry.first->disconnect(this);
}

bool FoxgloveServer::listen(const QString& host_and_port, QString* error)
{
    const QString given = host_and_port.trimmed();
    QString host = QStringLiteral("127.0.0.1");
    QString port_text = given;
    if (given.startsWith('[')) {
        const int close = given.indexOf(QLatin1String("]:"));
        host = given.mid(1, close - 1);
        port_text = close < 0 ? QString() : given.mid(close + 2);
    } else if (given.contains(':')) {
        host = given.left(given.lastIndexOf(':'));
        port_text = given.mid(given.lastIndexOf(':') + 1);
    }
    auto fail = [&](const QString& reason) {
        if (error)
            *error = reason;
        return false;
    };
    bool port_ok = false;
    const uint port = port_text.toUInt(&port_ok);
    if (!port_ok || port > 65535)
        return fail(QStringLiteral("bad port in '%1': give PORT or HOST:PORT").arg(host_and_port));
    QHostAddress address;
    if (host == QLatin1String("localhost"))
        address = QHostAddress::LocalHost;
    else if (!address.setAddress(host))
        return fail(QStringLiteral("bad host '%1': give an IP address ([...] for IPv6) or localhost").arg(host));
    tcp_server_->close();
    if (!tcp_server_->listen(address, quint16(port)))
        return fail(QStringLiteral("cannot listen on %1 port %2: %3")
                        .arg(address.toString())
                        .arg(port)
                        .arg(tcp_server_->errorString()));
    return true;
}

quint16 FoxgloveServer::serverPort() const
{
    return tcp_server_->serverPort();
}

QString FoxgloveServer::serverAddress() const
{
    return tcp_server_->serverAddress().toString();
}

void FoxgloveServer::publishRound(const ScanRound& round)
{
    profile_->roundMessages(round, pending_);
    publishPending();
}

void FoxgloveServer::publishStatus(const status::Sample& sample)
{
    profile_->statusMessages(sample, pending_);
    publishPending();
}

bool FoxgloveServer::writeRound(const ScanRound& round)
{
    publishRound(round);
    return true;
}

bool FoxgloveServer::writeStatus(const status::Sample& sample)
{
    publishStatus(sample);
    return true;
}

bool FoxgloveServer::close()
{
    // No new clients; those connected see the end when the program ends.
    if (tcp_server_)
        tcp_server_->close();
    return true;
}

void FoxgloveServer::acceptConnection()
{
    while (ws_server_->hasPendingConnections()) {
        QWebSocket* socket = ws_server_->nextPendingConnection();
        socket->setParent(this);
        if (socket->state() != QAbstractSocket::ConnectedState) {
            socket->deleteLater();
            continue;
        }
        socket->setMaxAllowedIncomingFrameSize(kMaxClientMessageBytes);
        socket->setMaxAllowedIncomingMessageSize(kMaxClientMessageBytes);
        if (clientCount() >= max_clients_) {
            TX_LOG << "streaming client" << socket->peerAddress().toString() << "refused:" << clientCount()
                   << "clients already";
            // Not 1013 (try again later): Qt 5 clients take it for a protocol error.
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated,
                          QStringLiteral("server full: %1 clients at most").arg(max_clients_));
            connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
            QTimer::singleShot(kHandshakeTimeoutMs, socket, &QWebSocket::abort); // no answer to the close
            continue;
        }
        auto owned = std::make_unique<StreamClient>(socket);
        StreamClient& client = *owned;
        clients_[socket] = std::move(owned);
        connect(socket, &QWebSocket::textMessageReceived, this, [this, socket](const QString& text) {
            if (StreamClient* found = find(socket))
                textReceived(*found, text);
        });
        connect(socket, &QWebSocket::binaryMessageReceived, this, [this, socket](const QByteArray& data) {
            if (StreamClient* found = find(socket))
                binaryReceived(*found, data);
        });
        connect(socket, &QWebSocket::bytesWritten, this, [this, socket] {
            if (StreamClient* found = find(socket))
                found->pump();
        });
        connect(socket, &QWebSocket::disconnected, this, [this, socket] { clientGone(socket); });
        emit clientCountChanged(clientCount());
        if (!listsSubprotocol(socket->request().rawHeader("Sec-WebSocket-Protocol"))) {
            client.close(QWebSocketProtocol::CloseCodeProtocolError,
                         QStringLiteral("subprotocol %1 required").arg(QLatin1String(kSubprotocol)));
            continue;
        }
        client.reply(server_info_);
        client.reply(advertise_);
    }
}

void FoxgloveServer::clientGone(QWebSocket* socket)
{
    if (clients_.erase(socket) == 0)
        return;
    socket->deleteLater();
    emit clientCountChanged(clientCount());
}

StreamClient* FoxgloveServer::find(QWebSocket* socket)
{
    const auto it = clients_.find(socket);
    return it == clients_.end() || it->second->closing() ? nullptr : it->second.get();
}

void FoxgloveServer::textReceived(StreamClient& client, const QString& text)
{
    QJsonParseError parse_error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &parse_error);
    const QString op = document.object().value(QLatin1String("op")).toString();
    if (!document.isObject() || op.isEmpty()) {
        client.close(QWebSocketProtocol::CloseCodeProtocolError,
                     QStringLiteral("malformed message: %1")
                         .arg(document.isNull() ? parse_error.errorString() : QStringLiteral("no op")));
        return;
    }
    if (op == QLatin1String("subscribe")) {
        subscribe(client, document.object());
        return;
    }
    if (op == QLatin1String("unsubscribe")) {
        unsubscribe(client, document.object());
        return;
    }
    for (const char* refused : kRefusedOps) {
        if (op == QLatin1String(refused)) {
            client.sendStatus(StreamClient::kError, QStringLiteral("%1 is not offered by this server").arg(op));
            return;
        }
    }
    client.close(QWebSocketProtocol::CloseCodeProtocolError, QStringLiteral("unknown op '%1'").arg(op));
}

void FoxgloveServer::binaryReceived(StreamClient& client, const QByteArray& data)
{
    const quint8 opcode = data.isEmpty() ? 0 : quint8(data[0]);
    if (opcode == kClientMessageDataOpcode)
        client.sendStatus(StreamClient::kError, QStringLiteral("client publishing is not offered by this server"));
    else if (opcode == kServiceCallOpcode)
        client.sendStatus(StreamClient::kError, QStringLiteral("services are not offered by this server"));
    else
        client.close(QWebSocketProtocol::CloseCodeProtocolError,
                     QStringLiteral("unknown binary opcode %1").arg(opcode));
}

void FoxgloveServer::subscribe(StreamClient& client, const QJsonObject& request)
{
    const QJsonValue list = request.value(QLatin1String("subscriptions"));
    std::vector<std::pair<quint32, quint32>> wanted; // subscription id, channel id
    for (const QJsonValue& entry : list.toArray()) {
        quint32 id = 0, channel = 0;
        if (!toId(entry.toObject().value(QLatin1String("id")), id)
            || !toId(entry.toObject().value(QLatin1String("channelId")), channel)) {
            wanted.clear();
            break;
        }
        wanted.emplace_back(id, channel);
    }
    if (!list.isArray() || wanted.size() != std::size_t(list.toArray().size())) {
        client.close(QWebSocketProtocol::CloseCodeProtocolError,
                     QStringLiteral("malformed subscribe: subscriptions must be {id, channelId} with whole numbers"));
        return;
    }
    std::vector<quint32> subscribed;
    for (const auto& [id, channel] : wanted) {
        bool channel_taken = false;
        for (const auto& existing : client.subscriptions())
            channel_taken = channel_taken || existing.second == channel;
        if (client.subscriptions().count(id))
            client.sendStatus(StreamClient::kError, QStringLiteral("subscription id %1 is already in use").arg(id));
        else if (std::none_of(
                     profile_->channels().begin(), profile_->channels().end(),
                     [channel = channel](const RecordingProfile::Channel& offered) { return offered.id == channel; }))
            client.sendStatus(StreamClient::kError, QStringLiteral("no channel %1").arg(channel));
        else if (channel_taken)
            client.sendStatus(StreamClient::kWarning, QStringLiteral("channel %1 is already subscribed").arg(channel));
        else
            subscribed.push_back(client.subscriptions()[id] = channel);
    }
    // Latched messages go to the new subscription only.
    for (const RecordingProfile::Message& message : latched_) {
        if (std::find(subscribed.begin(), subscribed.end(), message.channel) != subscribed.end())
            sendTo(client, message.channel, message.log_time_ns, message.data);
    }
    client.pump();
}

void FoxgloveServer::unsubscribe(StreamClient& client, const QJsonObject& request)
{
    const QJsonValue list = request.value(QLatin1String("subscriptionIds"));
    std::vector<quint32> ids;
    for (const QJsonValue& entry : list.toArray()) {
        quint32 id = 0;
        if (!toId(entry, id))
            break;
        ids.push_back(id);
    }
    if (!list.isArray() || ids.size() != std::size_t(list.toArray().size())) {
        client.close(QWebSocketProtocol::CloseCodeProtocolError,
                     QStringLiteral("malformed unsubscribe: subscriptionIds must be whole numbers"));
        return;
    }
    for (const quint32 id : ids) {
        if (client.subscriptions().erase(id) == 0)
            client.sendStatus(StreamClient::kWarning, QStringLiteral("no subscription %1").arg(id));
    }
}

void FoxgloveServer::sendTo(StreamClient& client, quint32 channel, std::int64_t receive_time_ns,
                            const QByteArray& payload)
{
    for (const auto& [id, subscribed] : client.subscriptions()) {
        if (subscribed != channel)
            continue;
        QByteArray frame(13, '\0');
        frame[0] = char(kMessageDataOpcode);
        qToLittleEndian<quint32>(id, frame.data() + 1);
        qToLittleEndian<quint64>(quint64(receive_time_ns < 0 ? 0 : receive_time_ns), frame.data() + 5);
        frame += payload;
        client.queueMessage(channel, frame);
    }
}

void FoxgloveServer::publish(quint32 channel, std::int64_t receive_time_ns, const QByteArray& payload)
{
    for (auto& entry : clients_) {
        StreamClient& client = *entry.second;
        if (client.closing())
            continue;
        sendTo(client, channel, receive_time_ns, payload);
        client.pump();
        // What the socket could not take waits; past the bound the oldest goes.
        client.dropOverflow([this](quint32 queued) { return isStatusChannel(queued); });
    }
}

} // namespace tx710
