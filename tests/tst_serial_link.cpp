// The serial link against a pseudo-terminal standing in for the LiDAR.

#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#include <thread>

#include "SerialPort/serial_data.h"
#include "SerialPort/serial_link.h"
#include "SerialPort/serial_logic.h"
#include "support/fixtures.h"
#include "support/modal_watcher.h"
#include "support/pty.h"

using namespace tx710test;

namespace {

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
        const auto before = SerialData::instance()->acceptedFrameCount();
        QVERIFY(pty.write(frameBytes(lidar)));
        QVERIFY(SerialLogic::instance()->open(pty.slavePath()));
        const auto port = SerialLogic::instance()->serialPort(); // a full device path, 230400 8N1
        QCOMPARE(
            QVector<int>({port->baudRate(), port->dataBits(), port->parity(), port->stopBits(), port->flowControl()}),
            QVector<int>(
                {230400, QSerialPort::Data8, QSerialPort::NoParity, QSerialPort::OneStop, QSerialPort::NoFlowControl}));
        QTRY_COMPARE(SerialData::instance()->acceptedFrameCount() - before,
                     std::uint64_t(1)); // the frame that ended the wait, no more coming

        // Qt reports NoError after successful operations: no lost link.
        emit port->errorOccurred(QSerialPort::NoError);
        QCOMPARE(watcher.seen(), QStringList());
        QVERIFY(port->isOpen());

        // A hang-up: logged, closed, one box, and the event loop ends with 0.
        QTimer::singleShot(100, [&] { pty.hangUp(); });
        QCOMPARE(runEventLoop(10000), 0);
        QCOMPARE(watcher.seen(), QStringList{kLinkLostBox});
        const QRegularExpression error_line(QStringLiteral(R"(^\[ %1 \] serialPortError$)").arg(kLogStamp));
        QCOMPARE(log.lines().filter(error_line).size(), 1);
        // The error by its name; Qt's text after a hang-up is a stale errno.
        const QRegularExpression named(
            QStringLiteral(R"(^\[ %1 \] port "pts/\d+" error ReadError: the device hung up$)").arg(kLogStamp));
        QCOMPARE(log.lines().filter(named).size(), 1);
        QVERIFY(!port->isOpen());
    }

    void noDataReportsFalseAndClosesThePort_data()
    {
        QTest::addColumn<int>("hang_up_ms"); // < 0: never
        QTest::addColumn<QString>("log_line");
        QTest::newRow("silent") << -1 << R"(no data from "/dev/pts/\d+" within 3000 ms)";
        QTest::newRow("hung up after 1 s")
            << 1000 << R"(port "/dev/pts/\d+" closed after \d+ ms without data, ReadError: the device hung up)";
    }

    void noDataReportsFalseAndClosesThePort()
    {
        QFETCH(int, hang_up_ms);
        QFETCH(QString, log_line);
        PseudoTerminal pty; // never sends
        ModalWatcher watcher;
        LogCapture log;
        std::thread unplug([&] {
            if (hang_up_ms >= 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(hang_up_ms));
                pty.hangUp();
            }
        });
        QElapsedTimer clock;
        clock.start();
        const bool opened = SerialLogic::instance()->open(pty.slavePath());
        const qint64 elapsed = clock.elapsed();
        unplug.join();
        QVERIFY(!opened);
        QVERIFY(hang_up_ms >= 0 || elapsed >= 2900);
        QCOMPARE(watcher.seen(), QStringList{kNoLidarBox});
        const QRegularExpression line(QStringLiteral(R"(^\[ %1 \] %2$)").arg(kLogStamp, log_line));
        QCOMPARE(log.lines().filter(line).size(), 1);
        QCOMPARE(serialLockFiles(pty.slavePath()), QStringList()); // closed, so the next program finds no lock
    }

    void remedyFollowsTheReason_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("remedy"); // a phrase of it
        const int permission = QSerialPort::PermissionError;
        QTest::newRow("permission") << permission << "PermissionError: Permission denied"
                                    << "usermod -aG dialout";
        QTest::newRow("locked") << permission << "PermissionError: Permission error while locking the device"
                                << "Another program holds";
        QTest::newRow("busy") << permission << "PermissionError: Device or resource busy"
                              << "Another program holds";
        QTest::newRow("no such port") << int(QSerialPort::DeviceNotFoundError) << ""
                                      << "brltty";
        QTest::newRow("silent") << int(QSerialPort::TimeoutError) << "no data within 3 s"
                                << "wrong port";
        QTest::newRow("hung up") << int(QSerialPort::ReadError) << "ReadError: the device hung up"
                                 << "brltty";
    }
    void remedyFollowsTheReason()
    {
        QFETCH(int, error);
        QFETCH(QString, reason);
        QFETCH(QString, remedy);
        const QString text = connectionRemedy(QSerialPort::SerialPortError(error), reason);
        QVERIFY2(text.contains(remedy), qPrintable(text));
    }

    void simulatorAtFullLineRate()
    {
        // Five seconds of a full 230400-baud line, every tenth frame corrupted. The seed fixes
        // the stream: no corrupted frame of it holds a 0x54 0x2C pair starting a false frame.
        const int frames = 2450, corrupted = 245;
        QProcess sim;
        const QString port = startSimulator(
            sim, QStringLiteral("--full-rate --frames 2450 --corrupt-every 10 --stray-bytes --seed 3").split(' '));
        QVERIFY2(!port.isEmpty(), "tx710-sim prints its port");
        ModalWatcher watcher;
        LogCapture log;
        SerialData& decoder = *SerialData::instance();
        const auto accepted_before = decoder.acceptedFrameCount(), rejected_before = decoder.rejectedFrameCount();
        QVERIFY(SerialLogic::instance()->open(port));
        QCOMPARE(runEventLoop(60000), 0); // the simulator hangs up when done
        QVERIFY(sim.state() == QProcess::NotRunning || sim.waitForFinished(10000));
        QCOMPARE(sim.exitCode(), 0);
        QVERIFY(sim.readAllStandardOutput().contains("frames sent: 2450\n"));
        const auto good = decoder.acceptedFrameCount() - accepted_before;
        const auto bad = decoder.rejectedFrameCount() - rejected_before;
        qInfo("full line rate: %d frames sent, %d corrupted; accepted %llu, rejected %llu", frames, corrupted,
              qulonglong(good), qulonglong(bad));
        QCOMPARE(good, std::uint64_t(frames - corrupted));
        QCOMPARE(bad, std::uint64_t(corrupted));
        // 49 rejections a second are within the log's budget: every one is logged.
        QCOMPARE(log.lines().filter(QStringLiteral("frame find error")).size(), corrupted);
    }

    // Read in batches (the recorder's way), a pause of the device longer
    // than a batch is no lost link: the frames after it still arrive.
    void batchedLinkOutlastsAPause()
    {
        PseudoTerminal pty;
        tx710::SimulatedLidar lidar;
        SerialLink link;
        link.setReadInterval(50);
        QSignalSpy lost(&link, &SerialLink::linkLost);
        const auto before = SerialData::instance()->acceptedFrameCount();
        QVERIFY(pty.write(frameBytes(lidar)));
        QCOMPARE(link.open(pty.slavePath()), SerialLink::OpenResult::Opened);
        QTest::qWait(300); // six batches find nothing
        QVERIFY(pty.write(frameBytes(lidar)));
        QTRY_COMPARE(SerialData::instance()->acceptedFrameCount() - before, std::uint64_t(2));
        QCOMPARE(lost.count(), 0);
    }
};

QTEST_MAIN(TestSerialLink)
#include "tst_serial_link.moc"
