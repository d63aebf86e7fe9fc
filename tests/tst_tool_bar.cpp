// The tool bar's own state: play/pause, the about box, and how the data
// writer's reports move the progress dialog and the save button. Saves start
// for real, but with no data coming in only the reports a test injects arrive.

#include <QtTest>
#include <QtWidgets>

#include <memory>

#include "SerialPort/serial_data.h"
#include "app/copyright_dialog.h"
#include "panels/lidar_tool_bar.h"
#include "view/lidar_gl_function.h"

class TestToolBar : public QObject
{
    Q_OBJECT

    const QString data_dir_ = QCoreApplication::applicationDirPath() + "/data";
    const bool data_dir_existed_ = QDir(data_dir_).exists();
    const QStringList data_before_ = QDir(data_dir_).entryList(QDir::Files);
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
        // The idle writer sees the stop, reports its end and finishes.
        SerialData::instance()->stopSaveData();
        QTRY_VERIFY_WITH_TIMEOUT(!SerialData::instance()->saveRunning(), 5000);
        QTest::qWait(50); // its end report is delivered
        bar_.reset();
        LidarGLFunction::instance()->setPlayFlag(true);
        for (const QString& name : QDir(data_dir_).entryList(QDir::Files))
            if (!data_before_.contains(name))
                QFile::remove(data_dir_ + '/' + name);
        if (!data_dir_existed_)
            QDir().rmdir(data_dir_);
    }

    void playButtonPausesAndResumes()
    {
        auto* play = bar_->findChild<QToolButton*>("play_button");
        auto image = [](const QIcon& icon) { return icon.pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32); };
        for (const bool pause : {true, false}) {
            QTest::mouseClick(play, Qt::LeftButton);
            QCOMPARE(LidarGLFunction::instance()->playFlag(), !pause);
            QCOMPARE(image(play->icon()), image(QPixmap(pause ? ":/Image/play.png" : ":/Image/pause.png").scaled(32, 32)));
        }
    }

    void aboutBoxIsOneModalInstance()
    {
        auto aboutBoxCount = [] {
            const QWidgetList all = QApplication::topLevelWidgets();
            return std::count_if(all.begin(), all.end(), [](QWidget* w) { return qobject_cast<CopyRightDialog*>(w); });
        };
        const auto boxes = aboutBoxCount();
        for (int i = 0; i < 2; ++i) {
            QTest::mouseClick(bar_->findChild<QToolButton*>("about_button"), Qt::LeftButton);
            auto* box = qobject_cast<CopyRightDialog*>(QApplication::activeModalWidget());
            QVERIFY(box && box->isVisible());
            QCOMPARE(aboutBoxCount(), boxes);
            box->hide();
        }
        bar_.reset();
        QCOMPARE(aboutBoxCount(), boxes - 1); // goes with the tool bar
    }

    void idleBarShowsNoProgressAndIgnoresReports()
    {
        // The dialog must not pop up by itself after its minimum duration.
        QTest::qWait(dialog_->minimumDuration() + 300);
        QVERIFY(!dialog_->isVisible());
        for (int value : {50, 100, -1})
            bar_->showSaveProgress(value >= 0, std::max(value, 0));
        QVERIFY(save_->isEnabled() && !dialog_->isVisible());
    }

    void saveReportsMoveDialogAndButton_data()
    {
        QTest::addColumn<QList<int>>("reports"); // round numbers; -1 a failure report (false, 0)
        QTest::addColumn<int>("cancel_after");   // the user cancels after this report, -1 never
        // The report that ends the save, -1 none; one past the last: the
        // writer's own end report once it is stopped.
        QTest::addColumn<int>("end_at");
        QList<int> rounds;
        for (int i = 1; i <= 100; ++i)
            rounds << i;
        QTest::newRow("full save ends at the second 100") << rounds + QList<int>{100} << -1 << 100;
        QTest::newRow("hundred rounds without the end report") << rounds << -1 << -1;
        QTest::newRow("writer stopped after 99 rounds") << rounds.mid(0, 99) << -1 << 99;
        QTest::newRow("cancel, queued rounds, writer's end") << rounds.mid(0, 43) << 39 << 43;
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
            const bool ended = end_at >= 0 && i >= end_at;
            // At its maximum the dialog closes itself; once cancelled it stays hidden.
            const bool shown = !ended && reports[i] < 100 && (cancel_after < 0 || i <= cancel_after);
            QVERIFY2(save_->isEnabled() == ended && dialog_->isVisible() == shown,
                     qPrintable(QStringLiteral("after report %1").arg(i)));
            if (shown)
                QCOMPARE(dialog_->value(), reports[i]);
            if (i == cancel_after) { // later rounds come in even past the dialog's minimum duration
                QTest::mouseClick(dialog_->findChild<QPushButton*>(), Qt::LeftButton);
                QTest::qWait(dialog_->minimumDuration() + 200);
            }
        }
        if (end_at == reports.size()) {
            if (cancel_after < 0)
                SerialData::instance()->stopSaveData(); // else the first round after the cancel did
            QTRY_VERIFY_WITH_TIMEOUT(save_->isEnabled(), 5000);
            QVERIFY(!dialog_->isVisible() && !dialog_->wasCanceled());
        }
    }
};

QTEST_MAIN(TestToolBar)
#include "tst_tool_bar.moc"
