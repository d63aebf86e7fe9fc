#pragma once

// The TCP side of the live stream's WebSocket handshake: sockets that name
// our subprotocol in the answer, give up on a handshake that never ends and
// cut off a client that leaves too much unsent.

#include <QByteArray>
#include <QTcpServer>

namespace tx710 {

// Time a connection gets to complete the handshake, or to answer a close.
constexpr int kHandshakeTimeoutMs = 10000;

// True when a Sec-WebSocket-Protocol value lists our subprotocol.
bool listsSubprotocol(const QByteArray& value);

// Hands out sockets of that kind for QWebSocketServer::handleConnection().
class HandshakeServer : public QTcpServer
{
public:
    using QTcpServer::QTcpServer;

protected:
    void incomingConnection(qintptr descriptor) override;
};

} // namespace tx710
