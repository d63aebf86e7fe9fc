// The viewer as a process: SIGINT, SIGTERM and SIGHUP end it like a normal
// quit, with exit code 0 and its serial port closed; --serve streams its rounds.

#include <QNetworkRequest>
#include <QProcess>
#include <QWebSocket>
#include <QtTest>

#include <csignal>

#include "recording/ros2_cdr.h"
#include "support/fixtures.h"
#include "support/pty.h"

using namespace tx710test;

namespace {

// The viewer's log up to the first match of `ready`; the match, empty if none came.
QRegularExpressionMatch waitForLog(QProcess& viewer, const QRegularExpression& ready, QByteArray& log)
{
    QRegularExpressionMatch match;
    for (int i = 0; i < 100 && !(match = ready.match(QString::fromLocal8Bit(log))).hasMatch(); ++i) {
        viewer.waitForReadyRead(100);
        log += viewer.readAllStandardError();
    }
    return match;
}

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
        QTest::newRow("SIGINT with the main window, serving") << SIGINT << true;
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
        const QRegularExpressionMatch up = waitForLog(viewer, ready, log);
        QVERIFY2(up.hasMatch(), log.constData());
        QCOMPARE(serialLockFiles(port).size(), main_window ? 1 : 0);
        if (main_window) {
            const QByteArray scan = firstScan(up.captured(1));
            QCOMPARE(scan.left(5), QByteArray::fromHex("0107000000")); // message data of subscription 7
            // The default profile's /scan: a LaserScan in CDR.
            tx710::ros2::LaserScan laser;
            QVERIFY(tx710::ros2::decode(reinterpret_cast<const std::uint8_t*>(scan.constData()) + 13,
                                        std::size_t(scan.size() - 13), laser));
            QCOMPARE(laser.header.frame_id, std::string("tx710"));
            QCOMPARE(laser.ranges.size(), std::size_t(450));
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
