// The live stream seen by real clients in-process: the handshake,
// subscriptions and the message frames, refused and malformed requests, and a
// client that stops reading. What a new client is told is checked by the
// official client in tests/interop.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkRequest>
#include <QTcpSocket>
#include <QWebSocket>
#include <QtEndian>
#include <QtTest>

#include <algorithm>
#include <memory>

#include "recording/point_cloud_message.h"
#include "streaming/foxglove_server.h"

using namespace tx710;

namespace {

ScanRound makeRound(int number, int points)
{
    ScanRound round{number, 1780000000123456789LL + number, {}};
    for (int i = 0; i < points; ++i)
        round.points.push_back(PointRecord{float(i % 200), float(1000 + i), float(i * 360.0 / points)});
    return round;
}

// A client on QWebSocket that keeps everything it receives.
struct Peer {
    QWebSocket socket;
    QList<QJsonObject> texts;
    QList<QByteArray> binaries;
    bool closed = false;
    bool opened = false;

    explicit Peer(quint16 port)
    {
        QObject::connect(&socket, &QWebSocket::textMessageReceived, [this](const QString& text) {
            texts.append(QJsonDocument::fromJson(text.toUtf8()).object());
        });
        QObject::connect(&socket, &QWebSocket::binaryMessageReceived,
                         [this](const QByteArray& data) { binaries.append(data); });
        QObject::connect(&socket, &QWebSocket::disconnected, [this] { closed = true; });
        QNetworkRequest request(QUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(port)));
        request.setRawHeader("Sec-WebSocket-Protocol", FoxgloveServer::kSubprotocol);
        socket.open(request);
        // Messages sent before the handshake completes are lost.
        opened = QTest::qWaitFor([this] { return socket.state() == QAbstractSocket::ConnectedState; });
    }
    void send(const QJsonObject& object) { socket.sendTextMessage(QJsonDocument(object).toJson()); }
    void send(const QByteArray& message, bool binary)
    {
        if (binary)
            socket.sendBinaryMessage(message);
        else
            socket.sendTextMessage(QString::fromUtf8(message));
    }
    void subscribe(quint32 id, quint32 channel)
    {
        send({{"op", "subscribe"},
              {"subscriptions", QJsonArray{QJsonObject{{"id", int(id)}, {"channelId", int(channel)}}}}});
    }
    // A request the server answers with a status: everything sent before
    // the answer has arrived once it is here.
    bool roundTrip()
    {
        auto statuses = [this] {
            return std::count_if(texts.begin(), texts.end(), [](const QJsonObject& text) {
                return text.value("op").toString() == QLatin1String("status");
            });
        };
        const auto before = statuses();
        send({{"op", "getParameters"}, {"parameterNames", QJsonArray()}});
        return QTest::qWaitFor([&] { return statuses() > before; });
    }
};

// A client on a bare TCP socket that can stop reading: the kernel and the
// server's buffers fill as they would for a stalled viewer.
struct RawPeer {
    QTcpSocket socket;
    QByteArray response;
    QByteArray pending;
    QList<QJsonObject> texts;
    int binaries = 0;
    int close_code = -1;
    bool handshaken = false;

    RawPeer(quint16 port, bool offer_subprotocol)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.waitForConnected(5000);
        socket.write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                     "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n");
        if (offer_subprotocol)
            socket.write(QByteArray("Sec-WebSocket-Protocol: ") + FoxgloveServer::kSubprotocol + "\r\n");
        socket.write("\r\n");
        handshaken = QTest::qWaitFor([&] {
            pending += socket.readAll();
            return pending.contains("\r\n\r\n");
        });
        const int end = pending.indexOf("\r\n\r\n") + 4;
        response = pending.left(end);
        pending.remove(0, end);
    }
    void sendText(const QByteArray& text) // masked with a zero key, as a client must mask
    {
        QByteArray frame(1, char(0x81));
        frame += char(0x80 | text.size()); // short requests only: below 126 bytes
        frame += QByteArray(4, '\0') + text;
        socket.write(frame);
    }
    void read()
    {
        pending += socket.readAll();
        for (;;) {
            qint64 length = pending.size() < 2 ? -1 : pending[1] & 0x7f;
            int header = 2;
            if (length == 126) {
                header = 4;
                length = pending.size() < header ? -1 : qFromBigEndian<quint16>(pending.constData() + 2);
            } else if (length == 127) {
                header = 10;
                length = pending.size() < header ? -1 : qint64(qFromBigEndian<quint64>(pending.constData() + 2));
            }
            if (length < 0 || pending.size() < header + length)
                return;
            const int opcode = pending[0] & 0x0f;
            const QByteArray payload = pending.mid(header, int(length));
            pending.remove(0, header + int(length));
            if (opcode == 1)
                texts.append(QJsonDocument::fromJson(payload).object());
            else if (opcode == 2)
                ++binaries;
            else if (opcode == 8)
                close_code = qFromBigEndian<quint16>(payload.constData());
        }
    }
};

} // namespace

class TestFoxgloveServer : public QObject
{
    Q_OBJECT
    std::unique_ptr<FoxgloveServer> server;
    quint16 port = 0;

private slots:
    void init()
    {
        server = std::make_unique<FoxgloveServer>();
        QString error;
        QVERIFY2(server->listen(QStringLiteral("0"), &error), qPrintable(error));
        port = server->serverPort();
    }
    void cleanup() { server.reset(); }

    void listenAddresses_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("address"); // empty: refused
        QTest::newRow("port only binds loopback") << QString("0") << QString("127.0.0.1");
        QTest::newRow("host and port") << QString("127.0.0.2:0") << QString("127.0.0.2");
        QTest::newRow("IPv6 in brackets") << QString("[::1]:0") << QString("::1");
        QTest::newRow("not a port") << QString("80a") << QString();
        QTest::newRow("port too large") << QString("127.0.0.1:70000") << QString();
        QTest::newRow("host not an address") << QString("no.such.host:0") << QString();
    }
    void listenAddresses()
    {
        QFETCH(QString, given);
        QFETCH(QString, address);
        FoxgloveServer other;
        QString error;
        QCOMPARE(other.listen(given, &error), !address.isEmpty());
        QCOMPARE(error.isEmpty(), !address.isEmpty());
        if (!address.isEmpty())
            QCOMPARE(other.serverAddress(), address);
    }

    void portInUseReported()
    {
        FoxgloveServer other;
        QString error;
        QVERIFY(!other.listen(QString::number(port), &error));
        QVERIFY2(error.contains(QLatin1String("in use")), qPrintable(error));
    }

    void handshakeNamesSubprotocol_data()
    {
        QTest::addColumn<bool>("offered");
        QTest::newRow("offered") << true;
        QTest::newRow("not offered: closed") << false;
    }
    void handshakeNamesSubprotocol()
    {
        QFETCH(bool, offered);
        RawPeer peer(port, offered);
        QVERIFY(peer.handshaken);
        QCOMPARE(peer.response.contains("\r\nSec-WebSocket-Protocol: foxglove.websocket.v1\r\n"), offered);
        QVERIFY(QTest::qWaitFor([&] {
            peer.read();
            return !peer.texts.isEmpty() || peer.close_code >= 0;
        }));
        QCOMPARE(peer.close_code, offered ? -1 : 1002);
    }

    // Only the subscribed channel, until unsubscribed. The frames' layout and payloads are checked by
    // the official client in tests/interop.
    void subscriptionDeliversUntilUnsubscribed()
    {
        const status::Sample sample{1780000001000000007LL, 375, 2, 600, 4500};
        auto publishBoth = [&] {
            server->publishRound(makeRound(3, 450));
            server->publishStatus(sample);
        };
        Peer peer(port);
        peer.subscribe(77, FoxgloveServer::kStatusChannel);
        QVERIFY(peer.roundTrip());
        publishBoth();
        QVERIFY(peer.roundTrip());
        QCOMPARE(peer.binaries.size(), 1);
        QCOMPARE(qFromLittleEndian<quint32>(peer.binaries[0].constData() + 1), 77u);
        QCOMPARE(peer.binaries[0].mid(13), status::encode(sample));

        peer.send({{"op", "unsubscribe"}, {"subscriptionIds", QJsonArray{77}}});
        QVERIFY(peer.roundTrip());
        publishBoth();
        QVERIFY(peer.roundTrip());
        QCOMPARE(peer.binaries.size(), 1);
    }

    // Requests the server answers with a status, keeping the connection
    // and the client's first subscription (id 1 on /scan). The refused
    // operations share one path; Peer::roundTrip() sends another of them.
    void answeredRequestKeepsConnection_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<bool>("binary");
        QTest::addColumn<int>("level");
        QTest::newRow("client advertise") << QByteArray(R"({"op":"advertise","channels":[]})") << false << 2;
        QTest::newRow("client message data") << QByteArray::fromHex("0101000000ff") << true << 2;
        QTest::newRow("service call") << QByteArray::fromHex("02010000000100000000000000") << true << 2;
        QTest::newRow("unknown channel") << QByteArray(R"({"op":"subscribe","subscriptions":[{"id":2,"channelId":9}]})")
                                         << false << 2;
        QTest::newRow("subscription id reused")
            << QByteArray(R"({"op":"subscribe","subscriptions":[{"id":1,"channelId":2}]})") << false << 2;
        QTest::newRow("channel twice") << QByteArray(R"({"op":"subscribe","subscriptions":[{"id":6,"channelId":1}]})")
                                       << false << 1;
        QTest::newRow("unknown subscription")
            << QByteArray(R"({"op":"unsubscribe","subscriptionIds":[8]})") << false << 1;
    }
    void answeredRequestKeepsConnection()
    {
        QFETCH(QByteArray, request);
        QFETCH(bool, binary);
        QFETCH(int, level);
        Peer peer(port);
        peer.subscribe(1, FoxgloveServer::kScanChannel);
        QTRY_COMPARE(peer.texts.size(), 2);
        peer.send(request, binary);
        QTRY_COMPARE(peer.texts.size(), 3);
        QCOMPARE(peer.texts[2].value("op").toString(), QStringLiteral("status"));
        QCOMPARE(peer.texts[2].value("level").toInt(), level);
        server->publishRound(makeRound(1, 10));
        QTRY_COMPARE(peer.binaries.size(), 1);
        QCOMPARE(qFromLittleEndian<quint32>(peer.binaries[0].constData() + 1), 1u);
        QVERIFY(!peer.closed);
    }

    void malformedClosesOnlyThatClient_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<bool>("binary");
        QTest::addColumn<int>("close_code");
        QTest::newRow("invalid JSON") << QByteArray("{\"op\":") << false << 1002;
        QTest::newRow("not an object") << QByteArray("[1,2]") << false << 1002;
        QTest::newRow("unknown op") << QByteArray(R"({"op":"launch"})") << false << 1002;
        QTest::newRow("subscribe without list")
            << QByteArray(R"({"op":"subscribe","subscriptions":7})") << false << 1002;
        QTest::newRow("negative id") << QByteArray(R"({"op":"subscribe","subscriptions":[{"id":-1,"channelId":1}]})")
                                     << false << 1002;
        QTest::newRow("unsubscribe with text ids")
            << QByteArray(R"({"op":"unsubscribe","subscriptionIds":["a"]})") << false << 1002;
        QTest::newRow("unknown binary opcode") << QByteArray::fromHex("07000000") << true << 1002;
        QTest::newRow("oversized") << QByteArray(int(FoxgloveServer::kMaxClientMessageBytes) + 1, ' ') << false << 1009;
    }
    void malformedClosesOnlyThatClient()
    {
        QFETCH(QByteArray, message);
        QFETCH(bool, binary);
        QFETCH(int, close_code);
        Peer good(port);
        Peer bad(port);
        good.subscribe(1, FoxgloveServer::kScanChannel);
        QTRY_COMPARE(bad.texts.size(), 2);
        QVERIFY(good.roundTrip());
        bad.send(message, binary);
        QTRY_VERIFY(bad.closed);
        QCOMPARE(int(bad.socket.closeCode()), close_code);
        QVERIFY(!bad.socket.closeReason().isEmpty());
        QTRY_COMPARE(server->clientCount(), 1);
        server->publishRound(makeRound(1, 10));
        QTRY_COMPARE(good.binaries.size(), 1);
    }

    // A client that stops reading loses its oldest rounds and is told how
    // many; the reading client gets every round.
    void slowClientDropsOldestRounds()
    {
        constexpr int kRounds = 200; // of about 220 KB each: well past every buffer
        RawPeer slow(port, true);
        QVERIFY(slow.handshaken);
        slow.sendText(R"({"op":"subscribe","subscriptions":[{"id":4,"channelId":1}]})");
        slow.sendText(R"({"op":"getParameters","parameterNames":[]})"); // its answer follows the subscription
        QTRY_VERIFY((slow.read(), slow.texts.size() == 3));
        slow.socket.setReadBufferSize(4096);
        Peer good(port);
        good.subscribe(1, FoxgloveServer::kScanChannel);
        QVERIFY(good.roundTrip());
        for (int i = 0; i < kRounds; ++i) {
            server->publishRound(makeRound(i, 6000));
            QTRY_COMPARE(good.binaries.size(), i + 1);
        }
        slow.socket.setReadBufferSize(0);
        int dropped = 0;
        QVERIFY(QTest::qWaitFor(
            [&] {
                slow.read();
                dropped = 0;
                for (const QJsonObject& text : slow.texts) {
                    const QString message = text.value("message").toString();
                    if (message.endsWith(QLatin1String("rounds: client too slow")))
                        dropped += message.section(' ', 1, 1).toInt();
                }
                return slow.binaries + dropped == kRounds;
            },
            20000));
        QVERIFY2(dropped > 0, "the slow client lost no round: its queue grew without bound");
        QVERIFY(slow.binaries > 0);
    }
};

QTEST_MAIN(TestFoxgloveServer)
#include "tst_foxglove_server.moc"
