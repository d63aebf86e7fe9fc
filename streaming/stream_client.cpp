// One client of the live stream (see the header).

#include "streaming/stream_client.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QWebSocket>

#include "app/log.h"
#include "streaming/foxglove_server.h"

namespace tx710 {

namespace {

QByteArray statusJson(int level, const QString& message)
{
    return QJsonDocument(QJsonObject{{"op", "status"}, {"level", level}, {"message", message}})
        .toJson(QJsonDocument::Compact);
}

} // namespace

void StreamClient::queueMessage(quint32 channel, const QByteArray& frame)
{
    queue_.push_back(Outgoing{Outgoing::Message, channel, frame});
    ++queued_messages_;
}

void StreamClient::dropOverflow(const std::function<bool(quint32 channel)>& is_status_channel)
{
    while (queued_messages_ > FoxgloveServer::kMaxQueuedMessages) {
        for (auto it = queue_.begin(); it != queue_.end(); ++it) {
            if (it->kind != Outgoing::Message)
                continue;
            ++(is_status_channel(it->channel) ? dropped_status_ : dropped_rounds_);
            queue_.erase(it);
            --queued_messages_;
            break;
        }
        if (!notice_queued_) {
            queue_.push_back(Outgoing{Outgoing::DropNotice, 0, QByteArray()});
            notice_queued_ = true;
        }
    }
}

void StreamClient::reply(const QByteArray& json)
{
    if (queued_replies_ >= FoxgloveServer::kMaxQueuedReplies) {
        close(QWebSocketProtocol::CloseCodePolicyViolated,
              QStringLiteral("too many unread replies: client not reading"));
        return;
    }
    queue_.push_back(Outgoing{Outgoing::Reply, 0, json});
    ++queued_replies_;
    pump();
}

void StreamClient::sendStatus(int level, const QString& message)
{
    reply(statusJson(level, message));
}

void StreamClient::close(int code, const QString& reason)
{
    TX_LOG << "streaming client" << socket_->peerAddress().toString() << "closed:" << reason;
    closing_ = true;
    queue_.clear();
    socket_->close(QWebSocketProtocol::CloseCode(code), reason);
}

void StreamClient::pump()
{
    while (!closing_ && !queue_.empty() && socket_->bytesToWrite() < FoxgloveServer::kSocketHighWaterBytes) {
        Outgoing out = std::move(queue_.front());
        queue_.pop_front();
        switch (out.kind) {
        case Outgoing::Message:
            --queued_messages_;
            socket_->sendBinaryMessage(out.bytes);
            break;
        case Outgoing::Reply:
            --queued_replies_;
            socket_->sendTextMessage(QString::fromUtf8(out.bytes));
            break;
        case Outgoing::DropNotice: {
            QString text = QStringLiteral("dropped %1 rounds").arg(dropped_rounds_);
            if (dropped_status_ > 0)
                text += QStringLiteral(" and %1 status messages").arg(dropped_status_);
            notice_queued_ = false;
            dropped_rounds_ = dropped_status_ = 0;
            socket_->sendTextMessage(QString::fromUtf8(statusJson(kWarning, text + ": client too slow")));
            break;
        }
        }
    }
}

} // namespace tx710
