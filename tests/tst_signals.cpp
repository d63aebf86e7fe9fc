// The viewer as a process: SIGINT, SIGTERM and SIGHUP end it like a normal
// quit, with exit code 0 and its serial port closed; --serve streams its rounds.

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkRequest>
#include <QProcess>
#include <QWebSocket>
#include <QtTest>

#include <csignal>

#include "support/fixtures.h"
#include "support/pty.h"

using namespace tx710test;

namespace {

// The first message of the viewer's /scan channel, as a client subscribed with id 7 receives it.
QByteArray firstScan(const QString& ws_port)
{
    QWebSocket client;
    QNetworkRequest request(QUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(ws_port)));
    request.setRawHeader("Sec-WebSocket-Protocol", "foxglove.websocket.v1");
    QByteArray scan;
    QObject::connect(&client, &QWebSocket::textMessageReceived, &client, [&client](const QString& text) {
        if (text.contains(QStringLiteral("\"advertise\"")))
            client.sendTextMessage(QStringLiteral(R"({"op":"subscribe","subscriptions":[{"id":7,"channelId":1}]})"));
    });
    QObject::connect(&client, &QWebSocket::binaryMessageReceived, &client, [&scan](const QByteArray& data) {
        if (scan.isEmpty())
            scan = data;
    });
    client.open(request);
    return QTest::qWaitFor([&scan] { return !scan.isEmpty(); }, 10000) ? scan : QByteArray();
}

} // namespace

class TestSignals : public QObject
{
    Q_OBJECT
    // The main window's tool bar makes Screenshots/ beside the program.
    const FolderCleanup screenshots_{programPath("Screenshots")};

private slots:
    void signalQuitsWithZero_data()
    {
        QTest::addColumn<int>("signal_number");
        QTest::addColumn<bool>("main_window"); // else at the port dialog
        QTest::newRow("SIGINT at the port dialog") << SIGINT << false;
        QTest::newRow("SIGTERM at the port dialog") << SIGTERM << false;
        QTest::newRow("SIGHUP at the port dialog") << SIGHUP << false;
        QTest::newRow("SIGTERM with the main window, serving") << SIGTERM << true;
    }
    // With the main window up, the round the viewer shows reaches a Foxglove client on /scan.
    void signalQuitsWithZero()
    {
        QFETCH(int, signal_number);
        QFETCH(bool, main_window);
        QProcess sim;
        const QString port = main_window ? startSimulator(sim, {}) : QString();
        QVERIFY2(!main_window || !port.isEmpty(), "tx710-sim prints its port");
        QProcess viewer;
        viewer.start(programPath("TX710Viewer"),
                     main_window ? QStringList{"--port", port, "--serve", "0"} : QStringList());
        QVERIFY(viewer.waitForStarted(5000));
        // Up: the dialog logs its callback; the main window its server, then the view its font.
        const QRegularExpression ready(
            main_window ? "serving on \"ws://127\\.0\\.0\\.1:(\\d+)\"[\\s\\S]*FT_New_Face error" : "setCallback");
        QByteArray log;
        QRegularExpressionMatch up;
        QTest::qWaitFor(
            [&] { return (up = ready.match(QString::fromLocal8Bit(log += viewer.readAllStandardError()))).hasMatch(); },
            10000);
        QVERIFY2(up.hasMatch(), log.constData());
        QCOMPARE(serialLockFiles(port).size(), main_window ? 1 : 0);
        if (main_window) {
            const QByteArray scan = firstScan(up.captured(1));
            QCOMPARE(scan.left(5), QByteArray::fromHex("0107000000")); // message data of subscription 7
            const QJsonObject cloud = QJsonDocument::fromJson(scan.mid(13)).object();
            QCOMPARE(cloud.value(QStringLiteral("frame_id")).toString(), QStringLiteral("tx710"));
            QVERIFY(cloud.value(QStringLiteral("data")).toString().size() > 100);
        }
        ::kill(viewer.processId(), signal_number);
        QVERIFY(viewer.waitForFinished(15000));
        QCOMPARE(viewer.exitStatus(), QProcess::NormalExit);
        QCOMPARE(viewer.exitCode(), 0);
        if (main_window) {
            QCOMPARE(serialLockFiles(port), QStringList());
            sim.terminate();
            QVERIFY(sim.waitForFinished(5000));
        }
    }
};

QTEST_GUILESS_MAIN(TestSignals)
#include "tst_signals.moc"
