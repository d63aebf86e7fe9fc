// The serial link against a pseudo-terminal standing in for the LiDAR:
// detection, the read path, both failure boxes, the exit after a lost link,
// and the simulator at the full line rate.

#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#include "SerialPort/serial_data.h"
#include "SerialPort/serial_logic.h"
#include "support/modal_watcher.h"
#include "support/pty.h"

using namespace tx710test;

namespace {

const QString kNoLidar = QStringLiteral("No Lidar detected. please check the connection and restart the software.");
const QString kLinkLost = QStringLiteral("Lidar connection fail,please check the connection");

std::uint64_t accepted() { return SerialData::instance()->acceptedFrameCount(); }

// Runs the event loop as main() does; 99 when nothing ends it in time.
int runEventLoop(int guard_ms)
{
    QTimer::singleShot(guard_ms, [] { QCoreApplication::exit(99); });
    return QCoreApplication::exec();
}

} // namespace

class TestSerialLink : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { detachLink(); }
    void openReadsTheLidarAtItsSettings();
    void noErrorNotificationIsNotALostLink();
    void noLidarReportsFalse_data();
    void noLidarReportsFalse();
    void hangUpEndsTheApplicationWithZero();
    void simulatorAtFullLineRate();
};

void TestSerialLink::openReadsTheLidarAtItsSettings()
{
    PseudoTerminal pty;
    ModalWatcher watcher;
    tx710::SimulatedLidar lidar;
    const auto before = accepted();
    QVERIFY(pty.write(frameBytes(lidar)));
    QVERIFY(SerialLogic::instance()->open(pty.slavePath()));
    QVERIFY(watcher.seen().isEmpty());

    // A full device path is accepted; 230400 8N1 without flow control.
    const auto port = SerialLogic::instance()->serialPort();
    QCOMPARE(QStringLiteral("/dev/") + port->portName(), pty.slavePath());
    QCOMPARE(QVector<int>({port->baudRate(QSerialPort::Input), port->baudRate(QSerialPort::Output), port->dataBits(),
                           port->parity(), port->stopBits(), port->flowControl()}),
             QVector<int>({230400, 230400, QSerialPort::Data8, QSerialPort::NoParity, QSerialPort::OneStop,
                           QSerialPort::NoFlowControl}));

    // The frame that ended the wait is decoded without waiting for more
    // data; what follows may be split anywhere.
    QTRY_COMPARE(accepted() - before, std::uint64_t(1));
    const QByteArray next = frameBytes(lidar) + frameBytes(lidar);
    pty.write(next.left(30));
    QTest::qWait(50);
    pty.write(next.mid(30));
    QTRY_COMPARE(accepted() - before, std::uint64_t(3));
    QVERIFY(!pty.masterHasInput(100)); // receive-only: nothing is sent to the LiDAR
}

void TestSerialLink::noErrorNotificationIsNotALostLink()
{
    PseudoTerminal pty;
    ModalWatcher watcher;
    LogCapture log;
    tx710::SimulatedLidar lidar;
    const auto before = accepted();
    whileSending(pty, frameBytes(lidar), [&] { QVERIFY(SerialLogic::instance()->open(pty.slavePath())); });
    QTRY_COMPARE(accepted() - before, std::uint64_t(1)); // the handlers are connected now

    // Qt reports NoError after successful operations, clearError() among them.
    const auto port = SerialLogic::instance()->serialPort();
    port->clearError();
    emit port->errorOccurred(QSerialPort::NoError);
    QTest::qWait(200);
    QVERIFY(watcher.seen().isEmpty());
    QVERIFY(!log.contains(QStringLiteral("serialPortError")));
    pty.write(frameBytes(lidar));
    QTRY_COMPARE(accepted() - before, std::uint64_t(2));
}

void TestSerialLink::noLidarReportsFalse_data()
{
    QTest::addColumn<QString>("port");
    QTest::newRow("silent port") << QString(); // a pseudo-terminal that never sends
    QTest::newRow("missing path") << QStringLiteral("/dev/tx710-no-such-port");
    QTest::newRow("missing name") << QStringLiteral("ttyTX710NONE");
    QTest::newRow("no name") << QStringLiteral("");
}

void TestSerialLink::noLidarReportsFalse()
{
    QFETCH(QString, port);
    PseudoTerminal pty;
    ModalWatcher watcher;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!SerialLogic::instance()->open(port.isNull() ? pty.slavePath() : port));
    if (port.isNull())
        QVERIFY(clock.elapsed() >= 2900); // the device had its three seconds
    QCOMPARE(watcher.seen(), QStringList{warningBox(kNoLidar)});
    QVERIFY(!SerialLogic::instance()->serialPort()->isOpen());
}

void TestSerialLink::hangUpEndsTheApplicationWithZero()
{
    PseudoTerminal pty;
    ModalWatcher watcher;
    tx710::SimulatedLidar lidar;
    const auto before = accepted();
    whileSending(pty, frameBytes(lidar), [&] { QVERIFY(SerialLogic::instance()->open(pty.slavePath())); });
    QTRY_COMPARE(accepted() - before, std::uint64_t(1));

    // Logged and closed before the box.
    LogCapture log;
    const QString error_line = QStringLiteral(R"(\[ %1 \] serialPortError)").arg(kLogStamp);
    bool logged_and_closed = false;
    watcher.on_box = [&] {
        logged_and_closed = log.lines().filter(QRegularExpression(QRegularExpression::anchoredPattern(error_line)))
                                .size() == 1 && !SerialLogic::instance()->serialPort()->isOpen();
    };
    QTimer::singleShot(100, [&] { pty.hangUp(); });
    QCOMPARE(runEventLoop(10000), 0);
    QCOMPARE(watcher.seen(), QStringList{warningBox(kLinkLost)}); // one box, however many notifications
    QVERIFY2(logged_and_closed, qPrintable(log.lines().join('\n')));
}

void TestSerialLink::simulatorAtFullLineRate()
{
    constexpr int kFrames = 2450; // five seconds of a full 230400-baud line
    constexpr int kCorruptEvery = 10;
    // A fixed seed fixes the stream: exact counts hold because no corrupted
    // frame of it carries a 0x54 0x2C pair that would start a false frame.
    QProcess sim;
    sim.start(QCoreApplication::applicationDirPath() + QStringLiteral("/tx710-sim"),
              QStringLiteral("--full-rate --frames %1 --corrupt-every %2 --stray-bytes --seed 3")
                  .arg(kFrames).arg(kCorruptEvery).split(' '));
    while (!sim.canReadLine())
        QVERIFY2(sim.waitForReadyRead(5000), "tx710-sim prints its port");
    const QString path = QString::fromLocal8Bit(sim.readLine()).trimmed();

    ModalWatcher watcher;
    const auto accepted_before = accepted();
    const auto rejected_before = SerialData::instance()->rejectedFrameCount();
    QVERIFY(SerialLogic::instance()->open(path));
    // The simulator hangs up when done: the link is lost and the loop ends.
    QCOMPARE(runEventLoop(60000), 0);
    QVERIFY(sim.state() == QProcess::NotRunning || sim.waitForFinished(10000));
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(sim.readAllStandardOutput().contains(QByteArray("frames sent: ") + QByteArray::number(kFrames) + '\n'));
    QCOMPARE(watcher.seen(), QStringList{warningBox(kLinkLost)});

    const auto good = accepted() - accepted_before;
    const auto bad = SerialData::instance()->rejectedFrameCount() - rejected_before;
    qInfo("full line rate: %d frames sent, %d corrupted; accepted %llu, rejected %llu", kFrames,
          kFrames / kCorruptEvery, static_cast<unsigned long long>(good), static_cast<unsigned long long>(bad));
    QCOMPARE(good, std::uint64_t(kFrames - kFrames / kCorruptEvery));
    QCOMPARE(bad, std::uint64_t(kFrames / kCorruptEvery));
}

QTEST_MAIN(TestSerialLink)
#include "tst_serial_link.moc"
