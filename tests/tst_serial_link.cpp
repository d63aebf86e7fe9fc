// The serial link against a pseudo-terminal standing in for the LiDAR.

#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#include "SerialPort/serial_data.h"
#include "SerialPort/serial_logic.h"
#include "support/modal_watcher.h"
#include "support/pty.h"

using namespace tx710test;

namespace {

std::uint64_t accepted() { return SerialData::instance()->acceptedFrameCount(); }

// Runs the event loop as main() does; 99 when nothing ends it in time.
int runEventLoop(int guard_ms)
{
    QObject guard; // the timer dies with it
    QTimer::singleShot(guard_ms, &guard, [] { QCoreApplication::exit(99); });
    return QCoreApplication::exec();
}

} // namespace

class TestSerialLink : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { detachLink(); }

    void openedLinkReadsUntilAHangUpEndsIt()
    {
        PseudoTerminal pty;
        ModalWatcher watcher;
        LogCapture log;
        tx710::SimulatedLidar lidar;
        const auto before = accepted();
        QVERIFY(pty.write(frameBytes(lidar)) && SerialLogic::instance()->open(pty.slavePath()));
        // A full device path was accepted; 230400 8N1 without flow control.
        const auto port = SerialLogic::instance()->serialPort();
        QCOMPARE(QVector<int>({port->baudRate(QSerialPort::Input), port->baudRate(QSerialPort::Output),
                               port->dataBits(), port->parity(), port->stopBits(), port->flowControl()}),
                 QVector<int>({230400, 230400, QSerialPort::Data8, QSerialPort::NoParity, QSerialPort::OneStop,
                               QSerialPort::NoFlowControl}));
        // The frame that ended the wait is decoded with no more data coming;
        // later frames come through the connected link, split anywhere.
        QTRY_COMPARE(accepted() - before, std::uint64_t(1));
        const QByteArray next = frameBytes(lidar) + frameBytes(lidar);
        pty.write(next.left(30));
        QTest::qWait(50);
        pty.write(next.mid(30));
        QTRY_COMPARE(accepted() - before, std::uint64_t(3));

        // Qt reports NoError after successful operations, clearError() among them.
        port->clearError();
        emit port->errorOccurred(QSerialPort::NoError);
        QTest::qWait(200);
        QVERIFY(watcher.seen().isEmpty() && log.lines().filter(QStringLiteral("serialPortError")).isEmpty());
        QVERIFY(port->isOpen());

        // A hang-up is a lost link: logged, closed, one box however many
        // notifications, and the event loop ends with 0.
        QTimer::singleShot(100, [&] { pty.hangUp(); });
        QCOMPARE(runEventLoop(10000), 0);
        QCOMPARE(watcher.seen(), QStringList{kLinkLostBox});
        const QRegularExpression error_line(QStringLiteral(R"(^\[ %1 \] serialPortError$)").arg(kLogStamp));
        QVERIFY2(log.lines().indexOf(error_line) >= 0, qPrintable(log.lines().join('\n')));
        QVERIFY(!port->isOpen());
    }

    void noLidarReportsFalse_data()
    {
        QTest::addColumn<QString>("port");
        QTest::newRow("silent port") << QString(); // a pseudo-terminal that never sends
        QTest::newRow("missing path") << QStringLiteral("/dev/tx710-no-such-port");
        QTest::newRow("missing name") << QStringLiteral("ttyTX710NONE");
        QTest::newRow("empty name") << QStringLiteral("");
    }

    void noLidarReportsFalse()
    {
        QFETCH(QString, port);
        PseudoTerminal pty;
        ModalWatcher watcher;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!SerialLogic::instance()->open(port.isNull() ? pty.slavePath() : port));
        QVERIFY(!port.isNull() || clock.elapsed() >= 2900); // the device had its three seconds
        QCOMPARE(watcher.seen(), QStringList{kNoLidarBox});
    }

    void simulatorAtFullLineRate()
    {
        // Five seconds of a full 230400-baud line, every tenth frame corrupted. The seed
        // fixes the stream: no corrupted frame of it holds a 0x54 0x2C pair starting a false frame.
        const int frames = 2450, corrupted = 245;
        QProcess sim;
        sim.start(QCoreApplication::applicationDirPath() + QStringLiteral("/tx710-sim"),
                  QStringLiteral("--full-rate --frames 2450 --corrupt-every 10 --stray-bytes --seed 3").split(' '));
        while (!sim.canReadLine())
            QVERIFY2(sim.waitForReadyRead(5000), "tx710-sim prints its port");
        ModalWatcher watcher;
        const auto accepted_before = accepted();
        const auto rejected_before = SerialData::instance()->rejectedFrameCount();
        QVERIFY(SerialLogic::instance()->open(QString::fromLocal8Bit(sim.readLine()).trimmed()));
        QCOMPARE(runEventLoop(60000), 0); // the simulator hangs up when done
        QVERIFY(sim.state() == QProcess::NotRunning || sim.waitForFinished(10000));
        QVERIFY(sim.exitCode() == 0 && sim.readAllStandardOutput().contains("frames sent: 2450\n"));
        QCOMPARE(watcher.seen(), QStringList{kLinkLostBox});
        const auto good = accepted() - accepted_before;
        const auto bad = SerialData::instance()->rejectedFrameCount() - rejected_before;
        qInfo("full line rate: %d frames sent, %d corrupted; accepted %llu, rejected %llu", frames, corrupted,
              static_cast<unsigned long long>(good), static_cast<unsigned long long>(bad));
        QCOMPARE(good, std::uint64_t(frames - corrupted));
        QCOMPARE(bad, std::uint64_t(corrupted));
    }
};

QTEST_MAIN(TestSerialLink)
#include "tst_serial_link.moc"
