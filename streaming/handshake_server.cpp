// The TCP side of the live stream's WebSocket handshake (see the header).

#include "streaming/handshake_server.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

#include "app/log.h"
#include "streaming/foxglove_server.h"

namespace tx710 {

bool listsSubprotocol(const QByteArray& value)
{
    for (const QByteArray& entry : value.split(','))
        if (entry.trimmed() == FoxgloveServer::kSubprotocol)
            return true;
    return false;
}

namespace {

// Qt 5's WebSocket server never selects a subprotocol, and clients that ask
// for one drop a connection whose answer names none. This socket adds our
// subprotocol to the handshake answer when the request offered it.
class HandshakeSocket : public QTcpSocket
{
public:
    explicit HandshakeSocket(QObject* parent) : QTcpSocket(parent)
    {
        // Connected before the WebSocket server's own (queued) handler, so
        // the request is seen before it is consumed.
        connect(this, &QIODevice::readyRead, this, &HandshakeSocket::peekRequest);
        // Until the upgrade the socket is ours: one that never completes the
        // handshake, or fails it, must not stay for the life of the server.
        connect(this, &QAbstractSocket::disconnected, this, [this] {
            if (!upgraded_)
                deleteLater();
        });
        QTimer::singleShot(kHandshakeTimeoutMs, this, [this] {
            if (!upgraded_)
                abort();
        });
    }
    // QAbstractSocket's destructor disconnects: none of our handlers may run on what is left of us.
    ~HandshakeSocket() override { disconnect(this, nullptr, this, nullptr); }

protected:
    qint64 writeData(const char* data, qint64 size) override
    {
        if (answered_ && bytesToWrite() + size > FoxgloveServer::kMaxUnsentBytes) {
            // Pongs too are written here by the WebSocket itself: a client that
            // pings and never reads ends here, its output dropped.
            if (!cut_off_) {
                cut_off_ = true;
                TX_LOG << "streaming client" << peerAddress().toString() << "closed: more than"
                       << FoxgloveServer::kMaxUnsentBytes << "bytes unread";
                QMetaObject::invokeMethod(this, &QAbstractSocket::abort, Qt::QueuedConnection);
            }
            return size;
        }
        if (answered_)
            return QTcpSocket::writeData(data, size);
        answered_ = true;
        disconnect(this, &QIODevice::readyRead, this, &HandshakeSocket::peekRequest);
        QByteArray answer(data, int(size));
        const int end = answer.indexOf("\r\n\r\n");
        // From here on the WebSocket owns and deletes this socket.
        upgraded_ = answer.startsWith("HTTP/1.1 101");
        if (!offered_ || !upgraded_ || end < 0)
            return QTcpSocket::writeData(data, size);
        answer.insert(end + 2, QByteArray("Sec-WebSocket-Protocol: ") + FoxgloveServer::kSubprotocol + "\r\n");
        return QTcpSocket::writeData(answer.constData(), answer.size()) == answer.size() ? size : -1;
    }

private:
    void peekRequest()
    {
        const QByteArray head = peek(16 * 1024);
        for (const QByteArray& line : head.split('\n')) {
            const int colon = line.indexOf(':');
            if (colon > 0 && line.left(colon).trimmed().toLower() == "sec-websocket-protocol"
                && listsSubprotocol(line.mid(colon + 1)))
                offered_ = true;
        }
    }

    bool offered_ = false;
    bool answered_ = false;
    bool upgraded_ = false;
    bool cut_off_ = false;
};

} // namespace

void HandshakeServer::incomingConnection(qintptr descriptor)
{
    auto* socket = new HandshakeSocket(this);
    if (socket->setSocketDescriptor(descriptor))
        addPendingConnection(socket);
    else
        delete socket;
}

} // namespace tx710
