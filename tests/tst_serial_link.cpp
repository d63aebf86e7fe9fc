// The serial link against a pseudo-terminal standing in for the LiDAR, and the port dialog: refresh
// of the port list and typed ports, stable names, the port last opened, Enter and Cancel.

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <thread>

#include "SerialPort/serial_data.h"
#include "SerialPort/serial_dialog.h"
#include "SerialPort/serial_link.h"
#include "SerialPort/serial_logic.h"
#include "app/app_settings.h"
#include "support/fixtures.h"
#include "support/modal_watcher.h"
#include "support/pty.h"

using namespace tx710test;

class TestSerialLink : public QObject
{
    Q_OBJECT
    QStringList ports_;
    std::unique_ptr<SerialDialog> dialog_;
    QComboBox* combo_ = nullptr;

    QStringList items() const
    {
        QStringList items;
        for (int i = 0; i < combo_->count(); ++i)
            items.append(combo_->itemText(i));
        return items;
    }

private slots:
    void init()
    {
        SerialLogic::instance()->setPortLister([this] { return ports_; });
        dialog_ = std::make_unique<SerialDialog>();
        combo_ = dialog_->findChild<QComboBox*>(QStringLiteral("serial_combo_box"));
    }
    void cleanup()
    {
        detachLink();
        dialog_.reset();
        ports_.clear();
        SerialLogic::instance()->setPortLister({});
        tx710::setSetting(tx710::kLastPortKey, QVariant());
    }

    void toolTipNamesWhatIsKnown_data()
    {
        QTest::addColumn<QStringList>("text"); // description, manufacturer, serial number
        QTest::addColumn<int>("vid");          // -1 unknown
        QTest::addColumn<int>("pid");
        QTest::addColumn<QString>("tip");
        QTest::newRow("nothing") << QStringList{"", "", ""} << -1 << -1 << "";
        QTest::newRow("all") << QStringList{"USB Serial", "QinHeng", "A1"} << 0x1a86 << 0x7523
                             << "Description: USB Serial\nManufacturer: QinHeng\nSerial number: A1\nVID:PID: 1a86:7523";
        QTest::newRow("short ids padded") << QStringList{"", "", ""} << 0x10 << 0x2 << "VID:PID: 0010:0002";
        QTest::newRow("vendor only") << QStringList{"", "Maker", ""} << 0x10c4 << -1
                                     << "Manufacturer: Maker\nVID: 10c4";
    }
    void toolTipNamesWhatIsKnown()
    {
        QFETCH(QStringList, text);
        QFETCH(int, vid);
        QFETCH(int, pid);
        QTEST(
            portToolTip({text[0], text[1], text[2], vid >= 0, quint16(qMax(vid, 0)), pid >= 0, quint16(qMax(pid, 0))}),
            "tip");
    }

    void stableNamesFollowTheListedPorts()
    {
        QTemporaryDir by_id;
        QVERIFY(QFile::link("/dev/null", by_id.filePath("usb-b-if00-port0")));
        QVERIFY(QFile::link("/dev/zero", by_id.filePath("usb-a-if00-port0")));
        QFile(by_id.filePath("not-a-link")).open(QIODevice::WriteOnly);
        ports_ = QStringList{"ttyUSB0"};
        dialog_->setStablePortFolder(by_id.path());
        QTRY_COMPARE_WITH_TIMEOUT(combo_->count(), 3, 2000);
        QCOMPARE(items(),
                 (QStringList{"ttyUSB0", by_id.filePath("usb-a-if00-port0"), by_id.filePath("usb-b-if00-port0")}));
        QCOMPARE(combo_->itemData(1, Qt::ToolTipRole).toString(), QStringLiteral("Points to /dev/zero"));
        QCOMPARE(stablePortNames(by_id.filePath("missing")).size(), 0);
    }

    void lastPortOpenedComesFirst_data()
    {
        QTest::addColumn<QString>("last");
        QTest::addColumn<QString>("shown");
        QTest::newRow("listed: selected") << QString("ttyACM0") << QString("ttyACM0");
        QTest::newRow("not listed: typed") << QString("/dev/pts/7") << QString("/dev/pts/7");
        QTest::newRow("none: the first port") << QString() << QString("ttyUSB0");
    }
    void lastPortOpenedComesFirst()
    {
        QFETCH(QString, last);
        tx710::setSetting(tx710::kLastPortKey, last);
        ports_ = QStringList{"ttyUSB0", "ttyACM0"};
        QTRY_COMPARE_WITH_TIMEOUT(combo_->count(), 2, 2000);
        QTEST(combo_->currentText(), "shown");
    }

    void refreshFollowsThePortNames()
    {
        // All unplugged, an adapter added, one swapped for another within a tick (same count), the
        // same names reordered: each is a new list, selected from its first name.
        const QList<QStringList> steps = {
            {"ttyUSB0"}, {}, {"ttyUSB0", "ttyACM0"}, {"ttyUSB0", "ttyACM1"}, {"ttyACM1", "ttyUSB0"}};
        for (const QStringList& step : steps) {
            ports_ = step;
            QTRY_COMPARE_WITH_TIMEOUT(items(), ports_, 2000);
            QCOMPARE(combo_->currentText(), ports_.value(0));
            combo_->setEditText(QStringLiteral("/dev/lidar")); // typed by the user
        }
        QTest::qWait(1200); // more than two ticks with an unchanged list
        QCOMPARE(combo_->currentText(), QStringLiteral("/dev/lidar"));
    }

    void enterTriesTheTypedPort()
    {
        ModalWatcher watcher;
        QVector<bool> results;
        dialog_->setCallback([&](bool opened) { results.append(opened); });
        dialog_->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog_.get()));
        QTest::keyClicks(combo_->lineEdit(), QStringLiteral("/dev/tx710-no-such-port"));
        QTest::keyClick(combo_->lineEdit(), Qt::Key_Return); // Ok is the default button
        QCOMPARE(results, QVector<bool>{false});
        QCOMPARE(watcher.seen(), QStringList{kNoLidarBox});
        QCOMPARE(watcher.details(),
                 QStringList{"Port: tx710-no-such-port\nReason: cannot open: DeviceNotFoundError: No such file or "
                             "directory\n\n"
                             + connectionRemedy(QSerialPort::DeviceNotFoundError, {})});
        QCOMPARE(SerialLogic::instance()->serialPort()->portName(), QStringLiteral("tx710-no-such-port"));
        QVERIFY(!dialog_->isVisible());
        QVERIFY(dialog_->findChild<QTimer*>(QStringLiteral("refresh_timer"))->isActive()); // for another try
    }

    void cancelReportsFalseToTheLatestCallback()
    {
        LogCapture log;
        QVector<bool> replaced, results;
        dialog_->setCallback([&](bool opened) { replaced.append(opened); });
        dialog_->setCallback([&](bool opened) { results.append(opened); });
        QCOMPARE(log.lines().filter(QStringLiteral("] setCallback")).size(), 2);
        dialog_->show();
        dialog_->findChild<QPushButton*>(QStringLiteral("cancel_button"))->click();
        QVERIFY(replaced.isEmpty());
        QVERIFY(dialog_->isVisible()); // hiding is the callback's business
        QCOMPARE(results, QVector<bool>{false});
    }
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
        QTimer::singleShot(10000, &watcher, [] { QCoreApplication::exit(99); }); // 99: nothing ended the loop
        QCOMPARE(QCoreApplication::exec(), 0);
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
        const auto row = [](const char* tag, QSerialPort::SerialPortError error, const char* reason,
                            const char* remedy) {
            QTest::newRow(tag) << int(error) << QString(reason) << QString(remedy);
        };
        row("permission", QSerialPort::PermissionError, "PermissionError: Permission denied", "usermod -aG dialout");
        row("locked", QSerialPort::PermissionError, "PermissionError: Permission error while locking the device",
            "Another program holds");
        row("busy", QSerialPort::PermissionError, "PermissionError: Device or resource busy", "Another program holds");
        row("no such port", QSerialPort::DeviceNotFoundError, "", "brltty");
        row("silent", QSerialPort::TimeoutError, "no data within 3 s", "wrong port");
        row("hung up", QSerialPort::ReadError, "ReadError: the device hung up", "brltty");
    }
    void remedyFollowsTheReason()
    {
        QFETCH(int, error);
        QFETCH(QString, reason);
        QFETCH(QString, remedy);
        const QString text = connectionRemedy(QSerialPort::SerialPortError(error), reason);
        QVERIFY2(text.contains(remedy), qPrintable(text));
    }

    // Read at every arrival or in batches (the recorder's and the viewer's way): the bytes that ended the
    // detection are read at once, and a pause of the device longer than a batch is no lost link.
    void linkReadsAcrossAPause_data()
    {
        QTest::addColumn<int>("read_interval_ms"); // 0: at every arrival
        QTest::newRow("at every arrival") << 0;
        QTest::newRow("in batches") << 50;
    }
    void linkReadsAcrossAPause()
    {
        QFETCH(int, read_interval_ms);
        PseudoTerminal pty;
        tx710::SimulatedLidar lidar;
        SerialLink link;
        link.setReadInterval(read_interval_ms);
        QSignalSpy lost(&link, &SerialLink::linkLost);
        const auto before = SerialData::instance()->acceptedFrameCount();
        QVERIFY(pty.write(frameBytes(lidar)));
        QCOMPARE(link.open(pty.slavePath()), SerialLink::OpenResult::Opened);
        QTRY_COMPARE(SerialData::instance()->acceptedFrameCount() - before, std::uint64_t(1));
        QTest::qWait(300); // six batches find nothing
        QVERIFY(pty.write(frameBytes(lidar)));
        QTRY_COMPARE(SerialData::instance()->acceptedFrameCount() - before, std::uint64_t(2));
        QCOMPARE(lost.count(), 0);
    }
};

QTEST_MAIN(TestSerialLink)
#include "tst_serial_link.moc"
