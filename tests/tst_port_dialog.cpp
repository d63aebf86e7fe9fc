// The port dialog: refresh of the port list and typed ports, Enter and Cancel.

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "SerialPort/serial_dialog.h"
#include "SerialPort/serial_logic.h"
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
