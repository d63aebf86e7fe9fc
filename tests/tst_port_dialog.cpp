// The port dialog: refresh of the port list, typed ports, Ok, Enter and Cancel.

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
    void cleanup() { ports_.clear(); SerialLogic::instance()->setPortLister({}); }

    void refreshFollowsThePortNames()
    {
        // An adapter added, one swapped for another within a tick (same count),
        // the same names reordered, all unplugged: each is a new list, and the
        // selection starts over at its first name.
        const QList<QStringList> steps = {{"ttyUSB0", "ttyUSB1"}, {"ttyUSB0", "ttyUSB1", "ttyACM0"},
                                          {"ttyUSB0", "ttyUSB1", "ttyACM1"}, {"ttyUSB1", "ttyUSB0", "ttyACM1"}, {}};
        for (const QStringList& step : steps) {
            ports_ = step;
            QTRY_COMPARE_WITH_TIMEOUT(items(), ports_, 2000);
            QCOMPARE(combo_->currentText(), ports_.value(0));
            combo_->setCurrentIndex(combo_->count() - 1);
        }
    }

    void typedPathStaysWhileTheListHolds()
    {
        ports_ = QStringList{QStringLiteral("ttyUSB0")};
        QTRY_COMPARE_WITH_TIMEOUT(combo_->count(), 1, 2000);
        QVERIFY(combo_->isEditable());
        combo_->setEditText(QStringLiteral("/dev/lidar"));
        QTest::qWait(1200); // more than two ticks with an unchanged list
        QCOMPARE(combo_->currentText(), QStringLiteral("/dev/lidar"));
        QCOMPARE(items(), ports_); // typed text is not listed
        ports_.append(QStringLiteral("ttyUSB1"));
        QTRY_COMPARE_WITH_TIMEOUT(items(), ports_, 2000);
        QCOMPARE(combo_->currentText(), QStringLiteral("ttyUSB0"));
    }

    void okTriesTheTypedPort_data()
    {
        QTest::addColumn<bool>("enter");    // Return typed in the port box instead of Ok clicked
        QTest::addColumn<bool>("callback"); // a result callback installed
        QTest::newRow("Ok") << false << true;
        QTest::newRow("Enter") << true << true;
        QTest::newRow("Ok, no callback") << false << false;
    }

    void okTriesTheTypedPort()
    {
        QFETCH(bool, enter);
        QFETCH(bool, callback);
        ModalWatcher watcher;
        QVector<bool> results;
        if (callback)
            dialog_->setCallback([&](bool opened) { results.append(opened); });
        dialog_->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog_.get()));
        combo_->setFocus();
        QTest::keyClicks(combo_->lineEdit(), QStringLiteral("/dev/tx710-no-such-port"));
        if (enter)
            QTest::keyClick(combo_->lineEdit(), Qt::Key_Return);
        else
            dialog_->findChild<QPushButton*>(QStringLiteral("ok_button"))->click();
        QCOMPARE(results, callback ? QVector<bool>{false} : QVector<bool>{});
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
        const QRegularExpression logged(QStringLiteral(R"(^\[ %1 \] setCallback$)").arg(kLogStamp));
        QCOMPARE(log.lines().filter(logged).size(), 2);
        dialog_->show();
        const auto port_before = SerialLogic::instance()->serialPort();
        dialog_->findChild<QPushButton*>(QStringLiteral("cancel_button"))->click();
        QVERIFY(replaced.isEmpty());
        QCOMPARE(results, QVector<bool>{false});
        QCOMPARE(SerialLogic::instance()->serialPort(), port_before); // no port tried
        QVERIFY(dialog_->isVisible()); // hiding is the callback's business
    }
};

QTEST_MAIN(TestPortDialog)
#include "tst_port_dialog.moc"
