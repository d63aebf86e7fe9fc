// The live stream seen by real clients in-process: the handshake,
// subscriptions and the message frames, refused and malformed requests, and a
// client that stops reading. What a new client is told is checked by the
// official client in tests/interop.

#include <QNetworkRequest>
#include <QTcpSocket>
#include <QWebSocket>
#include <QtTest>

#include <algorithm>
#include <memory>

#include "recording/point_cloud_message.h"
#include "recording/ros2_cdr.h"
#include "recording/ros2_conversions.h"
#include "streaming/foxglove_server.h"
#include "support/device_scans.h"

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
        (void)QTest::qWaitFor([this] { return socket.state() == QAbstractSocket::ConnectedState; });
    }
    void send(const QJsonObject& object) { socket.sendTextMessage(QJsonDocument(object).toJson()); }
    void send(const QByteArray& message, bool binary)
    {
        binary ? socket.sendBinaryMessage(message) : socket.sendTextMessage(QString::fromUtf8(message));
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
            return std::count_if(texts.begin(), texts.end(),
                                 [](const QJsonObject& text) { return text["op"] == "status"; });
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
            const int code = pending.size() < 2 ? 0 : pending[1] & 0x7f, header = code < 126 ? 2 : code == 126 ? 4 : 10;
            if (pending.size() < header)
                return;
            const char* size = pending.constData() + 2;
            const qint64 length = header == 2 ? code
                : header == 4                 ? qFromBigEndian<quint16>(size)
                                              : qFromBigEndian<qint64>(size);
            if (pending.size() < header + length)
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
        QTest::addColumn<QString>("given");   // "in use": the test server's port
        QTest::addColumn<QString>("outcome"); // the address bound, or a part of the error
        QTest::newRow("port only binds loopback") << QString("0") << QString("127.0.0.1");
        QTest::newRow("host and port") << QString("127.0.0.2:0") << QString("127.0.0.2");
        QTest::newRow("IPv6 in brackets") << QString("[::1]:0") << QString("::1");
        QTest::newRow("not a port") << QString("80a") << QString("bad port");
        QTest::newRow("port too large") << QString("127.0.0.1:70000") << QString("bad port");
        QTest::newRow("host not an address") << QString("no.such.host:0") << QString("bad host");
        QTest::newRow("port in use") << QString("in use") << QString("in use");
    }
    void listenAddresses()
    {
        QFETCH(QString, given);
        QFETCH(QString, outcome);
        FoxgloveServer other;
        QString error;
        const bool listening = other.listen(given == "in use" ? QString::number(port) : given, &error);
        QCOMPARE(listening ? other.serverAddress() : error.contains(outcome) ? outcome : error, outcome);
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
        QTRY_VERIFY((peer.read(), !peer.texts.isEmpty() || peer.close_code >= 0));
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

    // Requests answered with a status keep the connection and the client's first subscription
    // (id 1 on /scan; the refused operations share one path, Peer::roundTrip() sends another);
    // malformed ones close only that client.
    void requestAnsweredOrClosed_data()
    {
        QTest::addColumn<QByteArray>("request"); // sent binary when it starts with an opcode byte
        QTest::addColumn<int>("outcome");        // the status level, or the close code
        const auto row = [](const char* tag, const QByteArray& request, int outcome) {
            QTest::newRow(tag) << request << outcome;
        };
        row("client advertise", R"({"op":"advertise","channels":[]})", 2);
        row("client message data", QByteArray::fromHex("0101000000ff"), 2);
        row("service call", QByteArray::fromHex("02010000000100000000000000"), 2);
        row("unknown channel", R"({"op":"subscribe","subscriptions":[{"id":2,"channelId":9}]})", 2);
        row("subscription id reused", R"({"op":"subscribe","subscriptions":[{"id":1,"channelId":2}]})", 2);
        row("channel twice", R"({"op":"subscribe","subscriptions":[{"id":6,"channelId":1}]})", 1);
        row("unknown subscription", R"({"op":"unsubscribe","subscriptionIds":[8]})", 1);
        row("invalid JSON", "{\"op\":", 1002);
        row("not an object", "[1,2]", 1002);
        row("unknown op", R"({"op":"launch"})", 1002);
        row("subscribe without list", R"({"op":"subscribe","subscriptions":7})", 1002);
        row("negative id", R"({"op":"subscribe","subscriptions":[{"id":-1,"channelId":1}]})", 1002);
        row("unsubscribe with text ids", R"({"op":"unsubscribe","subscriptionIds":["a"]})", 1002);
        row("unknown binary opcode", QByteArray::fromHex("07000000"), 1002);
        row("oversized", QByteArray(int(FoxgloveServer::kMaxClientMessageBytes) + 1, ' '), 1009);
    }
    void requestAnsweredOrClosed()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, outcome);
        Peer good(port), peer(port);
        for (Peer* each : {&good, &peer})
            each->subscribe(1, FoxgloveServer::kScanChannel);
        QVERIFY(good.roundTrip());
        QTRY_COMPARE(peer.texts.size(), 2);
        peer.send(request, request.at(0) < ' ');
        QTRY_VERIFY(peer.closed || peer.texts.size() == 3);
        QCOMPARE(peer.closed ? int(peer.socket.closeCode()) : peer.texts[2].value("level").toInt(), outcome);
        QVERIFY(peer.closed ? !peer.socket.closeReason().isEmpty() : peer.texts[2].value("op") == "status");
        QTRY_COMPARE(server->clientCount(), peer.closed ? 1 : 2);
        server->publishRound(makeRound(1, 10));
        QTRY_COMPARE(good.binaries.size(), 1);
        QTRY_COMPARE(peer.binaries.size(), peer.closed ? 0 : 1);
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
                for (const QJsonObject& text : slow.texts)
                    if (const QString message = text["message"].toString(); message.endsWith("rounds: client too slow"))
                        dropped += message.section(' ', 1, 1).toInt();
                return slow.binaries + dropped == kRounds;
            },
            20000));
        QVERIFY2(dropped > 0, "the slow client lost no round: its queue grew without bound");
        QVERIFY(slow.binaries > 0);
    }

    // Pings answered by the WebSocket itself count too: a client that pings
    // and never reads is cut off, not answered without end.
    void pingFloodClosesTheClient()
    {
        RawPeer flood(port, true);
        QVERIFY(flood.handshaken);
        flood.socket.setReadBufferSize(1);
        QTRY_COMPARE(server->clientCount(), 1);
        QByteArray pings;
        for (int i = 0; i < 1000; ++i) // masked with a zero key, 125 bytes each
            pings += QByteArray("\x89\xfd", 2) + QByteArray(4 + 125, '\0');
        QVERIFY(QTest::qWaitFor(
            [&] {
                if (flood.socket.state() == QAbstractSocket::ConnectedState && flood.socket.bytesToWrite() < (1 << 20))
                    flood.socket.write(pings);
                return server->clientCount() == 0;
            },
            60000));
    }

    // Every device's channels; /tf_static reaches each client once: when it
    // subscribes, or with the first round for one that subscribed before.
    void transformsLatchedForEachSubscriber()
    {
        const DeviceScans devices = tx710test::devicesOf("front rear");
        server->setDevices(devices);
        Peer early(port);
        early.subscribe(1, 4);
        QVERIFY(early.roundTrip());
        QStringList topics;
        for (const QJsonValue& channel : early.texts[1]["channels"].toArray())
            topics << QString::number(channel["id"].toInt()) + channel["topic"].toString();
        QCOMPARE(topics.join(' '),
                 "1/front/scan 2/front/tx710/points 3/diagnostics 4/tf_static 5/rear/scan "
                 "6/rear/tx710/points");
        server->publishRound(makeRound(1, 10));
        server->publishRound(makeRound(2, 10));
        Peer late(port);
        late.subscribe(9, 4);
        QVERIFY(late.roundTrip() && early.roundTrip());
        const auto cdr = ros2::encode(ros2::staticTransformsOf(devices, makeRound(1, 0).receive_time_ns));
        for (Peer* peer : {&early, &late})
            QCOMPARE(peer->binaries.join('|').mid(13),
                     QByteArray(reinterpret_cast<const char*>(cdr.data()), int(cdr.size())));
    }

    void clientBeyondTheLimitRefused()
    {
        server->setMaxClients(2);
        Peer first(port), second(port), third(port);
        QTRY_VERIFY(third.closed);
        QCOMPARE(QString::number(third.socket.closeCode()) + ' ' + third.socket.closeReason(),
                 QStringLiteral("1008 server full: 2 clients at most"));
        QCOMPARE(server->clientCount(), 2);
    }
};

QTEST_MAIN(TestFoxgloveServer)
#include "tst_foxglove_server.moc"
