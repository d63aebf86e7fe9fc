// The port dialog: refresh of the port list and typed ports, stable names, the port last opened,
// Enter and Cancel.

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "SerialPort/serial_dialog.h"
#include "SerialPort/serial_logic.h"
#include "app/app_settings.h"
#include "support/modal_watcher.h"

using namespace tx710test;

class TestPortDialog : public QObject
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
        QFETCH(QString, tip);
        PortFacts facts{text[0], text[1], text[2], vid >= 0, quint16(qMax(vid, 0)), pid >= 0, quint16(qMax(pid, 0))};
        QCOMPARE(portToolTip(facts), tip);
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
        QFETCH(QString, shown);
        tx710::setSetting(tx710::kLastPortKey, last);
        ports_ = QStringList{"ttyUSB0", "ttyACM0"};
        QTRY_COMPARE_WITH_TIMEOUT(combo_->count(), 2, 2000);
        QCOMPARE(combo_->currentText(), shown);
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
};

QTEST_MAIN(TestPortDialog)
#include "tst_port_dialog.moc"
