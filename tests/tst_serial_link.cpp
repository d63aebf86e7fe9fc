// The serial link controller against a pseudo-terminal standing in for the
// LiDAR: detection, the read path, the two failure boxes, the exit after a
// lost link, and the simulator at the full line rate.

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTimer>
#include <QtTest>

#include <chrono>
#include <thread>

#include "SerialPort/serial_data.h"
#include "SerialPort/serial_logic.h"
#include "SerialPort/simulated_lidar.h"
#include "support/modal_watcher.h"
#include "support/pty.h"

using tx710test::LogCapture;
using tx710test::ModalWatcher;
using tx710test::PseudoTerminal;

namespace {

const QString kNoLidar = QStringLiteral("No Lidar detected. please check the connection and restart the software.");
const QString kLinkLost = QStringLiteral("Lidar connection fail,please check the connection");

QByteArray frameBytes(tx710::SimulatedLidar& lidar)
{
    const tx710::FrameBytes frame = lidar.nextFrame();
    return QByteArray(reinterpret_cast<const char*>(frame.data()), int(frame.size()));
}

// Opens the pty through SerialLogic while a writer thread plays the LiDAR's
// first frame, as the device would once the port is open.
bool openWithFirstFrame(PseudoTerminal& pty, const QByteArray& first_frame)
{
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        pty.write(first_frame);
    });
    const bool opened = SerialLogic::instance()->open(pty.slavePath());
    writer.join();
    return opened;
}

void checkNoLidarBox(const ModalWatcher& watcher)
{
    QCOMPARE(watcher.boxes().size(), 1);
    const tx710test::SeenMessageBox& box = watcher.boxes().first();
    QCOMPARE(box.title, QStringLiteral("Error"));
    QCOMPARE(box.text, kNoLidar);
    QCOMPARE(box.buttons.size(), 1);
    QVERIFY(box.warning_icon);
    QVERIFY(!box.had_parent);
}

// Runs the application's event loop as main() does, with a guard that ends
// it with 99 should nothing else end it.
int runEventLoop(int guard_ms)
{
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(guard_ms);
    return QCoreApplication::exec();
}

} // namespace

class TestSerialLink : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();

    void portListComesFromTheLister();
    void openReadsTheLidarAtItsSettings();
    void noErrorNotificationIsNotALostLink();
    void silentPortReportsNoLidar();
    void missingPortReportsNoLidar();
    void hangUpEndsTheApplicationWithZero();
    void simulatorAtFullLineRate();
};

void TestSerialLink::cleanup()
{
    // A pty dies with its test: detach the controller before the hang-up is
    // noticed, so it does not end the test run.
    if (auto port = SerialLogic::instance()->serialPort()) {
        QObject::disconnect(port.get(), nullptr, SerialLogic::instance(), nullptr);
        port->close();
    }
}

void TestSerialLink::portListComesFromTheLister()
{
    SerialLogic* logic = SerialLogic::instance();
    QCOMPARE(SerialLogic::instance(), logic); // one instance
    logic->setPortLister([] { return QStringList{QStringLiteral("ttyUSB1"), QStringLiteral("ttyUSB0")}; });
    QCOMPARE(logic->availablePortNames(), (QStringList{QStringLiteral("ttyUSB1"), QStringLiteral("ttyUSB0")}));
    logic->setPortLister({});
    // Back to the platform's ports; a pseudo-terminal is never among them.
    PseudoTerminal pty;
    QVERIFY(!logic->availablePortNames().contains(pty.slavePath().section('/', -1)));
}

void TestSerialLink::openReadsTheLidarAtItsSettings()
{
    PseudoTerminal pty;
    QVERIFY(pty.isOpen());
    ModalWatcher watcher;
    tx710::SimulatedLidar lidar;
    SerialData* data = SerialData::instance();
    const auto accepted_before = data->acceptedFrameCount();

    QVERIFY(openWithFirstFrame(pty, frameBytes(lidar)));
    QVERIFY(watcher.boxes().isEmpty());

    const auto port = SerialLogic::instance()->serialPort();
    QVERIFY(port);
    QVERIFY(port->isOpen());
    // A full device path is accepted (Qt keeps the name below /dev/).
    QCOMPARE(QStringLiteral("/dev/") + port->portName(), pty.slavePath());
    QCOMPARE(port->openMode(), QIODevice::ReadWrite);
    QCOMPARE(port->baudRate(QSerialPort::Input), 230400);
    QCOMPARE(port->baudRate(QSerialPort::Output), 230400);
    QCOMPARE(port->dataBits(), QSerialPort::Data8);
    QCOMPARE(port->parity(), QSerialPort::NoParity);
    QCOMPARE(port->stopBits(), QSerialPort::OneStop);
    QCOMPARE(port->flowControl(), QSerialPort::NoFlowControl);

    // The frame that ended the wait is decoded once the link is connected,
    // without waiting for more data; what follows may be split anywhere.
    QTRY_COMPARE(data->acceptedFrameCount() - accepted_before, std::uint64_t(1));
    const QByteArray second = frameBytes(lidar) + frameBytes(lidar);
    pty.write(second.left(30));
    QTest::qWait(50);
    pty.write(second.mid(30));
    QTRY_COMPARE(data->acceptedFrameCount() - accepted_before, std::uint64_t(3));

    // Receive-only: nothing was ever written to the LiDAR.
    QVERIFY(!pty.masterHasInput(100));
}

void TestSerialLink::noErrorNotificationIsNotALostLink()
{
    PseudoTerminal pty;
    ModalWatcher watcher;
    LogCapture log;
    tx710::SimulatedLidar lidar;
    SerialData* data = SerialData::instance();
    auto accepted = data->acceptedFrameCount();
    QVERIFY(openWithFirstFrame(pty, frameBytes(lidar)));
    const auto port = SerialLogic::instance()->serialPort();
    // Once the first frame is read, the handlers are connected.
    QTRY_VERIFY(data->acceptedFrameCount() == accepted + 1);

    // Qt reports NoError after successful operations (clearError is one).
    port->clearError();
    emit port->errorOccurred(QSerialPort::NoError);
    QTest::qWait(200);
    QVERIFY(watcher.boxes().isEmpty());
    QVERIFY(!log.contains(QStringLiteral("serialPortError")));
    QVERIFY(port->isOpen());

    accepted = data->acceptedFrameCount();
    pty.write(frameBytes(lidar));
    QTRY_COMPARE(data->acceptedFrameCount(), accepted + 1);
}

void TestSerialLink::silentPortReportsNoLidar()
{
    PseudoTerminal pty;
    ModalWatcher watcher;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!SerialLogic::instance()->open(pty.slavePath()));
    // The device had its full three seconds.
    QVERIFY(clock.elapsed() >= 2900);
    checkNoLidarBox(watcher);
}

void TestSerialLink::missingPortReportsNoLidar()
{
    const QString names[] = {QStringLiteral("/dev/tx710-no-such-port"), QStringLiteral("ttyTX710NONE"), QString()};
    for (const QString& name : names) {
        ModalWatcher watcher;
        QVERIFY2(!SerialLogic::instance()->open(name), qPrintable(name));
        checkNoLidarBox(watcher);
        QVERIFY(!SerialLogic::instance()->serialPort()->isOpen());
    }
}

void TestSerialLink::hangUpEndsTheApplicationWithZero()
{
    PseudoTerminal pty;
    ModalWatcher watcher;
    tx710::SimulatedLidar lidar;
    SerialData* data = SerialData::instance();
    const auto accepted = data->acceptedFrameCount();
    QVERIFY(openWithFirstFrame(pty, frameBytes(lidar)));
    const auto port = SerialLogic::instance()->serialPort();
    QTRY_VERIFY(data->acceptedFrameCount() == accepted + 1);

    LogCapture log;
    bool port_open_at_box = true;
    int lines_at_box = -1;
    watcher.setOnBox([&](const tx710test::SeenMessageBox&) {
        port_open_at_box = port->isOpen();
        lines_at_box = log.lines().size();
    });
    QTimer::singleShot(100, [&] { pty.hangUp(); });
    QCOMPARE(runEventLoop(10000), 0);

    QCOMPARE(watcher.boxes().size(), 1); // one box, however many notifications
    QCOMPARE(watcher.boxes().first().title, QStringLiteral("Error"));
    QCOMPARE(watcher.boxes().first().text, kLinkLost);
    QCOMPARE(watcher.boxes().first().buttons.size(), 1);
    QVERIFY(watcher.boxes().first().warning_icon);
    // Logged and closed before the box.
    QVERIFY(!port_open_at_box);
    const QStringList lines = log.lines();
    const QRegularExpression error_line(QStringLiteral(R"(^\[ "[0-9: -]{23}" \] serialPortError$)"));
    int error_index = -1;
    for (int i = 0; i < lines.size() && error_index < 0; ++i)
        if (error_line.match(lines[i]).hasMatch())
            error_index = i;
    QVERIFY2(error_index >= 0, qPrintable(lines.join('\n')));
    QVERIFY(error_index < lines_at_box);
}

void TestSerialLink::simulatorAtFullLineRate()
{
    const QString simulator = QCoreApplication::applicationDirPath() + QStringLiteral("/tx710-sim");
    QVERIFY2(QFile::exists(simulator), "tx710-sim is built beside the tests");
    constexpr int kFrames = 2450; // five seconds of a full 230400-baud line
    constexpr int kCorruptEvery = 10;
    // A fixed seed fixes the stream: exact counts hold because no corrupted
    // frame of it carries a 0x54 0x2C pair that would start a false frame.
    QProcess sim;
    sim.start(simulator, {QStringLiteral("--full-rate"), QStringLiteral("--frames"), QString::number(kFrames),
                          QStringLiteral("--corrupt-every"), QString::number(kCorruptEvery),
                          QStringLiteral("--stray-bytes"), QStringLiteral("--seed"), QStringLiteral("3")});
    QVERIFY(sim.waitForStarted(5000));
    while (!sim.canReadLine())
        QVERIFY(sim.waitForReadyRead(5000));
    const QString path = QString::fromLocal8Bit(sim.readLine()).trimmed();
    QVERIFY(path.startsWith(QLatin1String("/dev/")));

    ModalWatcher watcher;
    SerialData* data = SerialData::instance();
    const auto accepted_before = data->acceptedFrameCount();
    const auto rejected_before = data->rejectedFrameCount();
    QVERIFY(SerialLogic::instance()->open(path));

    // The simulator hangs up when done: the link is lost and the loop ends.
    QCOMPARE(runEventLoop(60000), 0);
    if (sim.state() != QProcess::NotRunning)
        QVERIFY(sim.waitForFinished(10000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    const QString report = QString::fromLocal8Bit(sim.readAllStandardOutput());
    QVERIFY2(report.contains(QStringLiteral("frames sent: %1\n").arg(kFrames)), qPrintable(report));
    QCOMPARE(watcher.boxes().size(), 1);
    QCOMPARE(watcher.boxes().first().text, kLinkLost);

    const auto accepted = data->acceptedFrameCount() - accepted_before;
    const auto rejected = data->rejectedFrameCount() - rejected_before;
    qInfo("full line rate: %d frames sent, %d corrupted; accepted %llu, rejected %llu", kFrames,
          kFrames / kCorruptEvery, static_cast<unsigned long long>(accepted),
          static_cast<unsigned long long>(rejected));
    QCOMPARE(accepted, std::uint64_t(kFrames - kFrames / kCorruptEvery));
    QCOMPARE(rejected, std::uint64_t(kFrames / kCorruptEvery));
}

QTEST_MAIN(TestSerialLink)
#include "tst_serial_link.moc"
