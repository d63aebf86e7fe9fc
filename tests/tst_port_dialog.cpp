// The port selection dialog: its form, the 500 ms refresh of the port list,
// typed port paths, and what Ok and Cancel report.

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>

#include <chrono>
#include <optional>
#include <thread>

#include "SerialPort/serial_dialog.h"
#include "SerialPort/serial_logic.h"
#include "SerialPort/simulated_lidar.h"
#include "support/modal_watcher.h"
#include "support/pty.h"

using tx710test::LogCapture;
using tx710test::ModalWatcher;
using tx710test::PseudoTerminal;

namespace {

QComboBox* comboOf(SerialDialog& dialog)
{
    return dialog.findChild<QComboBox*>(QStringLiteral("serial_combo_box"));
}

QTimer* refreshTimerOf(SerialDialog& dialog)
{
    return dialog.findChild<QTimer*>(QStringLiteral("refresh_timer"));
}

QStringList itemsOf(QComboBox* combo)
{
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items.append(combo->itemText(i));
    return items;
}

QByteArray oneFrame()
{
    tx710::SimulatedLidar lidar;
    const tx710::FrameBytes frame = lidar.nextFrame();
    return QByteArray(reinterpret_cast<const char*>(frame.data()), int(frame.size()));
}

} // namespace

class TestPortDialog : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void formAndWindow();
    void refreshFollowsThePortNames();
    void typedPathStaysWhileTheListHolds();
    void okOpensTheTypedPortAndReportsTrue();
    void okOnFailureReportsFalseAndKeepsRefreshing();
    void okWithoutCallbackOnlyHides();
    void enterInThePortBoxMeansOk();
    void cancelReportsFalseWithoutOpening();
    void setCallbackIsLogged();

private:
    QStringList ports_;
};

void TestPortDialog::init()
{
    ports_.clear();
    SerialLogic::instance()->setPortLister([this] { return ports_; });
}

void TestPortDialog::cleanup()
{
    SerialLogic::instance()->setPortLister({});
    // A pty dies with its test: detach the controller before the hang-up is
    // noticed, so it does not end the test run.
    if (auto port = SerialLogic::instance()->serialPort()) {
        QObject::disconnect(port.get(), nullptr, SerialLogic::instance(), nullptr);
        port->close();
    }
}

void TestPortDialog::formAndWindow()
{
    SerialDialog dialog;
    QCOMPARE(dialog.objectName(), QStringLiteral("SerialDialog"));
    QCOMPARE(dialog.size(), QSize(515, 370));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Dialog"));
    QCOMPARE(dialog.windowFlags() & Qt::FramelessWindowHint, Qt::FramelessWindowHint);

    auto* label = dialog.findChild<QLabel*>(QStringLiteral("label"));
    QVERIFY(label);
    QCOMPARE(label->text(), QStringLiteral("Please select the port connected to the Lidar"));
    QCOMPARE(label->font().pointSize(), 12);
    auto* logo = dialog.findChild<QLabel*>(QStringLiteral("logo_label"));
    QVERIFY(logo);
    QCOMPARE(logo->minimumSize(), QSize(190, 30));
    QCOMPARE(logo->maximumSize(), QSize(190, 30));
    QVERIFY(logo->styleSheet().contains(QStringLiteral("border-image: url(:/Image/logo-03.png)")));

    auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("ok_button"));
    auto* cancel = dialog.findChild<QPushButton*>(QStringLiteral("cancel_button"));
    QVERIFY(ok && cancel);
    QCOMPARE(ok->text(), QStringLiteral("Ok"));
    QCOMPARE(cancel->text(), QStringLiteral("Cancel"));
    QCOMPARE(ok->minimumHeight(), 40);
    QCOMPARE(cancel->minimumHeight(), 40);
    QCOMPARE(ok->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);

    QComboBox* combo = comboOf(dialog);
    QVERIFY(combo);
    QVERIFY(combo->isEditable()); // a port path may be typed
    QTimer* timer = refreshTimerOf(dialog);
    QVERIFY(timer);
    QCOMPARE(timer->interval(), 500);
    QVERIFY(timer->isActive());
}

void TestPortDialog::refreshFollowsThePortNames()
{
    ports_ = QStringList{QStringLiteral("ttyUSB0"), QStringLiteral("ttyUSB1")};
    SerialDialog dialog;
    QComboBox* combo = comboOf(dialog);
    QCOMPARE(combo->count(), 0); // empty until the first tick
    QTRY_COMPARE_WITH_TIMEOUT(itemsOf(combo), ports_, 2000);
    QCOMPARE(combo->currentIndex(), 0);

    // A new adapter: listed, and the selection falls back to the first name.
    combo->setCurrentIndex(1);
    ports_.append(QStringLiteral("ttyACM0"));
    QTRY_COMPARE_WITH_TIMEOUT(itemsOf(combo), ports_, 2000);
    QCOMPARE(combo->currentText(), QStringLiteral("ttyUSB0"));

    // One adapter swapped for another within a tick: same count, new name.
    ports_[2] = QStringLiteral("ttyACM1");
    QTRY_COMPARE_WITH_TIMEOUT(itemsOf(combo), ports_, 2000);

    // Same names in another order is another list too.
    ports_ = QStringList{QStringLiteral("ttyUSB1"), QStringLiteral("ttyUSB0"), QStringLiteral("ttyACM1")};
    QTRY_COMPARE_WITH_TIMEOUT(itemsOf(combo), ports_, 2000);

    // All unplugged.
    ports_.clear();
    QTRY_COMPARE_WITH_TIMEOUT(combo->count(), 0, 2000);
    QVERIFY(combo->currentText().isEmpty());
}

void TestPortDialog::typedPathStaysWhileTheListHolds()
{
    ports_ = QStringList{QStringLiteral("ttyUSB0")};
    SerialDialog dialog;
    dialog.show();
    QComboBox* combo = comboOf(dialog);
    QTRY_COMPARE_WITH_TIMEOUT(combo->count(), 1, 2000);

    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), QStringLiteral("/dev/lidar"));
    QCOMPARE(combo->currentText(), QStringLiteral("/dev/lidar"));
    QTest::qWait(1200); // more than two ticks with an unchanged list
    QCOMPARE(combo->currentText(), QStringLiteral("/dev/lidar"));
    QCOMPARE(itemsOf(combo), ports_); // typed text is not added to the list

    ports_.append(QStringLiteral("ttyUSB1"));
    QTRY_COMPARE_WITH_TIMEOUT(combo->count(), 2, 2000);
    QCOMPARE(combo->currentText(), QStringLiteral("ttyUSB0"));
}

void TestPortDialog::okOpensTheTypedPortAndReportsTrue()
{
    PseudoTerminal pty;
    QVERIFY(pty.isOpen());
    ModalWatcher watcher;
    SerialDialog dialog;
    dialog.show();
    std::optional<bool> result;
    bool timer_ran_at_callback = true;
    bool visible_at_callback = true;
    dialog.setCallback([&](bool opened) {
        result = opened;
        timer_ran_at_callback = refreshTimerOf(dialog)->isActive();
        visible_at_callback = dialog.isVisible();
    });
    comboOf(dialog)->setEditText(pty.slavePath());

    std::thread lidar([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        pty.write(oneFrame());
    });
    dialog.findChild<QPushButton*>(QStringLiteral("ok_button"))->click();
    lidar.join();

    QCOMPARE(result, std::optional<bool>(true));
    QVERIFY(!timer_ran_at_callback); // stopped before the callback
    QVERIFY(!visible_at_callback);
    QVERIFY(!refreshTimerOf(dialog)->isActive());
    QVERIFY(watcher.boxes().isEmpty());
    QVERIFY(SerialLogic::instance()->serialPort()->isOpen());
    QCOMPARE(QStringLiteral("/dev/") + SerialLogic::instance()->serialPort()->portName(), pty.slavePath());
}

void TestPortDialog::okOnFailureReportsFalseAndKeepsRefreshing()
{
    ports_ = QStringList{QStringLiteral("ttyTX710NONE")};
    ModalWatcher watcher;
    SerialDialog dialog;
    dialog.show();
    QTRY_COMPARE_WITH_TIMEOUT(comboOf(dialog)->count(), 1, 2000);
    QVector<bool> results;
    dialog.setCallback([&](bool opened) { results.append(opened); });

    dialog.findChild<QPushButton*>(QStringLiteral("ok_button"))->click();

    QCOMPARE(results, QVector<bool>{false});
    QCOMPARE(watcher.boxes().size(), 1);
    QCOMPARE(watcher.boxes().first().text,
             QStringLiteral("No Lidar detected. please check the connection and restart the software."));
    QVERIFY(!dialog.isVisible());
    QVERIFY(refreshTimerOf(dialog)->isActive());

    // With no port at all, Ok tries the empty name and fails the same way.
    ports_.clear();
    QTRY_COMPARE_WITH_TIMEOUT(comboOf(dialog)->count(), 0, 2000);
    watcher.clear();
    dialog.findChild<QPushButton*>(QStringLiteral("ok_button"))->click();
    QCOMPARE(results, (QVector<bool>{false, false}));
    QCOMPARE(watcher.boxes().size(), 1);
}

void TestPortDialog::okWithoutCallbackOnlyHides()
{
    ModalWatcher watcher;
    SerialDialog dialog;
    dialog.show();
    comboOf(dialog)->setEditText(QStringLiteral("/dev/tx710-no-such-port"));
    dialog.findChild<QPushButton*>(QStringLiteral("ok_button"))->click();
    QCOMPARE(watcher.boxes().size(), 1); // the controller still tells the user
    QVERIFY(!dialog.isVisible());
    QVERIFY(refreshTimerOf(dialog)->isActive());
}

void TestPortDialog::enterInThePortBoxMeansOk()
{
    ModalWatcher watcher;
    SerialDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVector<bool> results;
    dialog.setCallback([&](bool opened) { results.append(opened); });
    QComboBox* combo = comboOf(dialog);
    combo->setFocus();
    QTest::keyClicks(combo->lineEdit(), QStringLiteral("/dev/tx710-no-such-port"));
    QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
    // Ok was pressed, not Cancel: the port was tried and the user told.
    QCOMPARE(results, QVector<bool>{false});
    QCOMPARE(watcher.boxes().size(), 1);
    QVERIFY(SerialLogic::instance()->serialPort()->portName().endsWith(QLatin1String("tx710-no-such-port")));
}

void TestPortDialog::cancelReportsFalseWithoutOpening()
{
    ports_ = QStringList{QStringLiteral("ttyUSB0")};
    SerialDialog dialog;
    dialog.show();
    const auto port_before = SerialLogic::instance()->serialPort();
    QVector<bool> results;
    dialog.setCallback([&](bool opened) { results.append(opened); });
    dialog.findChild<QPushButton*>(QStringLiteral("cancel_button"))->click();
    QCOMPARE(results, QVector<bool>{false});
    QCOMPARE(SerialLogic::instance()->serialPort(), port_before); // no port tried
    QVERIFY(dialog.isVisible()); // hiding is the callback's business

    // Without a callback Cancel does nothing.
    SerialDialog bare;
    bare.show();
    bare.findChild<QPushButton*>(QStringLiteral("cancel_button"))->click();
    QVERIFY(bare.isVisible());
}

void TestPortDialog::setCallbackIsLogged()
{
    SerialDialog dialog;
    LogCapture log;
    int first = 0, second = 0;
    dialog.setCallback([&](bool) { ++first; });
    dialog.setCallback([&](bool) { ++second; });
    const QRegularExpression line(QStringLiteral(R"(^\[ "\d{4}-\d\d-\d\d \d\d:\d\d:\d\d:\d{3}" \] setCallback$)"));
    int logged = 0;
    for (const QString& text : log.lines())
        logged += line.match(text).hasMatch() ? 1 : 0;
    QCOMPARE(logged, 2);
    dialog.findChild<QPushButton*>(QStringLiteral("cancel_button"))->click();
    QCOMPARE(first, 0); // replaced
    QCOMPARE(second, 1);
}

QTEST_MAIN(TestPortDialog)
#include "tst_port_dialog.moc"
