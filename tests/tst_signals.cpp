// The viewer as a process: SIGINT, SIGTERM and SIGHUP end it like a normal
// quit, with exit code 0 and its serial port closed; --serve streams its rounds.

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkRequest>
#include <QProcess>
#include <QWebSocket>
#include <QtTest>

#include <csignal>

#include "support/pty.h"

using namespace tx710test;

class TestSignals : public QObject
{
    Q_OBJECT
    // The main window's tool bar makes Screenshots/ beside the program.
    const QString screenshots_ = QCoreApplication::applicationDirPath() + QStringLiteral("/Screenshots");
    const bool screenshots_existed_ = QDir(screenshots_).exists();

private slots:
    void cleanupTestCase()
    {
        if (!screenshots_existed_)
            QDir().rmdir(screenshots_);
    }

    void signalQuitsWithZero_data()
    {
        QTest::addColumn<int>("signal_number");
        QTest::addColumn<bool>("main_window"); // else at the port dialog
        QTest::newRow("SIGINT at the port dialog") << SIGINT << false;
        QTest::newRow("SIGTERM at the port dialog") << SIGTERM << false;
        QTest::newRow("SIGHUP at the port dialog") << SIGHUP << false;
        QTest::newRow("SIGTERM with the main window") << SIGTERM << true;
        QTest::newRow("SIGINT with the main window") << SIGINT << true;
    }

    void signalQuitsWithZero()
    {
        QFETCH(int, signal_number);
        QFETCH(bool, main_window);
        const QString bin = QCoreApplication::applicationDirPath();
        QProcess sim;
        QString port;
        QStringList arguments;
        if (main_window) {
            sim.start(bin + QStringLiteral("/tx710-sim"), QStringList());
            while (!sim.canReadLine())
                QVERIFY2(sim.waitForReadyRead(5000), "tx710-sim prints its port");
            port = QString::fromLocal8Bit(sim.readLine()).trimmed();
            arguments << QStringLiteral("--port") << port;
        }
        QProcess viewer;
        viewer.start(bin + QStringLiteral("/TX710Viewer"), arguments);
        QVERIFY(viewer.waitForStarted(5000));
        // Up: the dialog logs its callback, the main window's view its font.
        const QByteArray ready = main_window ? "FT_New_Face error" : "setCallback";
        QByteArray log;
        for (int i = 0; i < 100 && !log.contains(ready); ++i) {
            viewer.waitForReadyRead(100);
            log += viewer.readAllStandardError();
        }
        QVERIFY2(log.contains(ready), log.constData());
        QCOMPARE(serialLockFiles(port).size(), main_window ? 1 : 0);
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

    // The round the viewer shows reaches a Foxglove client on /scan.
    void serveStreamsRoundsBesideTheWindow()
    {
        const QString bin = QCoreApplication::applicationDirPath();
        QProcess sim;
        sim.start(bin + QStringLiteral("/tx710-sim"), QStringList());
        while (!sim.canReadLine())
            QVERIFY2(sim.waitForReadyRead(5000), "tx710-sim prints its port");
        const QString port = QString::fromLocal8Bit(sim.readLine()).trimmed();
        QProcess viewer;
        viewer.start(bin + QStringLiteral("/TX710Viewer"), {"--port", port, "--serve", "0"});
        const QRegularExpression serving(QStringLiteral("serving on \"ws://127\\.0\\.0\\.1:(\\d+)\""));
        QByteArray log;
        QRegularExpressionMatch match;
        for (int i = 0; i < 100 && !(match = serving.match(QString::fromLocal8Bit(log))).hasMatch(); ++i) {
            viewer.waitForReadyRead(100);
            log += viewer.readAllStandardError();
        }
        QVERIFY2(match.hasMatch(), log.constData());

        QWebSocket client;
        QNetworkRequest request(QUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(match.captured(1))));
        request.setRawHeader("Sec-WebSocket-Protocol", "foxglove.websocket.v1");
        QByteArray scan;
        connect(&client, &QWebSocket::textMessageReceived, &client, [&client](const QString& text) {
            if (text.contains(QStringLiteral("\"advertise\"")))
                client.sendTextMessage(
                    QStringLiteral(R"({"op":"subscribe","subscriptions":[{"id":7,"channelId":1}]})"));
        });
        connect(&client, &QWebSocket::binaryMessageReceived, &client, [&scan](const QByteArray& data) {
            if (scan.isEmpty())
                scan = data;
        });
        client.open(request);
        QTRY_VERIFY_WITH_TIMEOUT(!scan.isEmpty(), 10000);
        QCOMPARE(quint8(scan[0]), quint8(0x01)); // message data of subscription 7
        QCOMPARE(qFromLittleEndian<quint32>(scan.constData() + 1), 7u);
        const QJsonObject cloud = QJsonDocument::fromJson(scan.mid(13)).object();
        QCOMPARE(cloud.value(QStringLiteral("frame_id")).toString(), QStringLiteral("tx710"));
        QVERIFY(cloud.value(QStringLiteral("data")).toString().size() > 100);

        ::kill(viewer.processId(), SIGTERM);
        QVERIFY(viewer.waitForFinished(15000));
        QCOMPARE(viewer.exitCode(), 0);
        sim.terminate();
        QVERIFY(sim.waitForFinished(5000));
    }
};

QTEST_GUILESS_MAIN(TestSignals)
#include "tst_signals.moc"
