// How the data writer's reports move the tool bar's progress dialog and save button. Saves start
// for real, but with no data coming in only the reports a test injects arrive.

#include <QtTest>
#include <QtWidgets>

#include <memory>

#include "SerialPort/serial_data.h"
#include "app/app_settings.h"
#include "panels/lidar_tool_bar.h"
#include "support/fixtures.h"

class TestToolBar : public QObject
{
    Q_OBJECT

    const tx710test::FolderCleanup data_{QCoreApplication::applicationDirPath() + "/data"};
    const tx710test::FolderCleanup screenshots_{QCoreApplication::applicationDirPath() + "/Screenshots"};
    std::unique_ptr<LidarToolBar> bar_;
    QToolButton* save_ = nullptr;
    QProgressDialog* dialog_ = nullptr;

private slots:
    void init()
    {
        bar_ = std::make_unique<LidarToolBar>(nullptr);
        bar_->show();
        QVERIFY(QTest::qWaitForWindowExposed(bar_.get()));
        save_ = bar_->findChild<QToolButton*>("save_button");
        dialog_ = bar_->findChild<QProgressDialog*>();
    }
    void cleanup()
    {
        SerialData::instance()->stopSaveData(); // the idle writer sees the stop, reports its end and finishes
        QTRY_VERIFY_WITH_TIMEOUT(!SerialData::instance()->saveRunning(), 5000);
        bar_.reset(); // a late end report finds no tool bar
        data_.clean();
    }

    void toolTipsNameTheShortcut_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("tip");
        const QList<QPair<const char*, const char*>> tips = {
            {"play_button", "Pause or play (Space)"},    {"save_button", "Save 100 rounds (Ctrl+S)"},
            {"zoom_in_button", "Zoom in (+)"},           {"zoom_out_button", "Zoom out (-)"},
            {"origin_button", "Back to the origin (0)"}, {"about_button", "About (F1)"},
            {"intercept_button", "Screenshot (F12)"},    {"open_button", "Open a recording (Ctrl+O)"},
            {"hold_button", "Hold the points (H)"},      {"measure_button", "Measure a distance (M)"}};
        for (const auto& [button, tip] : tips)
            QTest::newRow(button) << QString(button) << QString(tip);
        QTest::newRow("ColorMap") << "checkBox_colormap"
                                  << "Colour strong returns: 211 to 254 yellow, 255 cyan (C)";
    }
    void toolTipsNameTheShortcut()
    {
        QFETCH(QString, button);
        QTEST(bar_->findChild<QAbstractButton*>(button)->toolTip(), "tip");
    }

    void decayIsRememberedAndSent()
    {
        QCOMPARE(bar_->decayRounds(), 1); // nothing remembered yet
        QSignalSpy sent(bar_.get(), &LidarToolBar::sig_decay_changed);
        bar_->findChild<QSpinBox*>("decay_spin_box")->setValue(12);
        QCOMPARE(sent.value(0).value(0).toInt(), 12);
        QCOMPARE(LidarToolBar().decayRounds(), 12);
        tx710::setSetting(tx710::kDecayRoundsKey, QVariant());
    }

    void measureSetByTheViewSendsNothing()
    {
        QSignalSpy sent(bar_.get(), &LidarToolBar::sig_measure_toggled);
        bar_->findChild<QToolButton*>("measure_button")->click();
        bar_->setMeasureChecked(false);
        QCOMPARE(sent.size(), 1);
        QVERIFY(!bar_->findChild<QToolButton*>("measure_button")->isChecked());
    }

    void idleBarShowsNoProgressAndIgnoresReports()
    {
        QTest::qWait(dialog_->minimumDuration() + 300); // the dialog must not pop up by itself
        for (int value : {50, 100, -1})
            bar_->showSaveProgress(value >= 0, std::max(value, 0));
        QVERIFY(save_->isEnabled());
        QVERIFY(!dialog_->isVisible());
    }

    void saveReportsMoveDialogAndButton_data()
    {
        QTest::addColumn<QList<int>>("reports"); // round numbers; -1 a failure report (false, 0)
        QTest::addColumn<int>("cancel_after");   // the user cancels after this report, -1 never
        QTest::addColumn<int>("end_at");         // the ending report, -1 none; past the last: the stopped writer's own
        const auto upTo = [](int last) {
            QList<int> r;
            for (int i = 1; i <= last; ++i)
                r << i;
            return r;
        };
        QTest::newRow("full save ends at the second 100") << upTo(100) + QList<int>{100} << -1 << 100;
        QTest::newRow("writer stopped after 99 rounds") << upTo(99) << -1 << 99;
        QTest::newRow("cancel, then the writer's end") << upTo(40) << 39 << 40; // with no data coming
        QTest::newRow("cancel, queued rounds, the writer's end") << upTo(43) << 39 << 43;
        QTest::newRow("cancelled after four rounds ends at 100") << QList<int>{1, 2, 3, 4, 100} << -1 << 4;
        QTest::newRow("nothing written, end") << QList<int>{100} << -1 << 0;
        QTest::newRow("failure at once") << QList<int>{-1} << -1 << 0;
        QTest::newRow("failure after rounds") << QList<int>{1, 2, -1} << -1 << 2;
    }
    void saveReportsMoveDialogAndButton()
    {
        QFETCH(QList<int>, reports);
        QFETCH(int, cancel_after);
        QFETCH(int, end_at);
        QTest::mouseClick(save_, Qt::LeftButton);
        for (int i = 0; i < reports.size(); ++i) {
            if (reports[i] < 0)
                QTest::ignoreMessage(QtDebugMsg, QRegularExpression("save failed"));
            bar_->showSaveProgress(reports[i] >= 0, std::max(reports[i], 0));
            // At its maximum the dialog closes itself; once cancelled it stays hidden.
            const bool ended = end_at >= 0 && i >= end_at;
            const bool shown = !ended && reports[i] < 100 && (cancel_after < 0 || i <= cancel_after);
            const QByteArray at = "after report " + QByteArray::number(i);
            QVERIFY2(save_->isEnabled() == ended, at);
            QVERIFY2(dialog_->isVisible() == shown, at);
            QVERIFY2(!shown || dialog_->value() == reports[i], at);
            if (i == cancel_after) { // rounds the writer held come in past the dialog's minimum duration,
                QTest::mouseClick(dialog_->findChild<QPushButton*>(), Qt::LeftButton);
                QTest::qSleep(dialog_->minimumDuration() + 200); // before its end report is delivered
            }
        }
        if (end_at == reports.size()) {
            if (cancel_after < 0)
                SerialData::instance()->stopSaveData(); // else the cancel did
            QTRY_VERIFY_WITH_TIMEOUT(save_->isEnabled(), 5000);
            QVERIFY(!dialog_->isVisible());
            QVERIFY(!dialog_->wasCanceled());
        }
    }
};

QTEST_MAIN(TestToolBar)
#include "tst_tool_bar.moc"
