// The tool bar: its controls, the play/pause and colour-map state, the view
// commands, the about box, and how save progress reports move the progress
// dialog and the save button.

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

#include "SerialPort/serial_data.h"
#include "app/copyright_dialog.h"
#include "panels/lidar_tool_bar.h"
#include "view/lidar_gl_function.h"

namespace {

QImage scaledResource(const QString& resource)
{
    return QPixmap(resource)
        .scaled(32, 32, Qt::IgnoreAspectRatio, Qt::FastTransformation)
        .toImage()
        .convertToFormat(QImage::Format_ARGB32);
}

QImage iconImage(const QToolButton* button)
{
    return button->icon().pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
}

int countAboutDialogs()
{
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (qobject_cast<CopyRightDialog*>(widget))
            ++count;
    return count;
}

} // namespace

class TestToolBar : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void controlsLeftToRight();
    void progressDialogStartsHiddenAndConfigured();
    void screenshotFolderIsCreated();
    void playButtonPausesAndResumes();
    void colorMapCheckBoxEmitsItsState();
    void viewCommandsGoThroughTheHub();
    void screenshotButtonOnlyEmits();
    void aboutDialogIsOneModalInstance();

    void saveProgressClassification_data();
    void saveProgressClassification();
    void saveButtonStaysDisabledUntilTheWriterEnds();
    void cancelledSaveStopsAndStaysHidden();
    void cancelledSaveEndingAfterRound99FreesTheButton();
    void failureReportClosesDialogAndFreesButton();
    void reportsWithoutASaveAreIgnored();

private:
    // Starts a save the way the user does; the decoder receives no data, so
    // only the reports injected by the test arrive until it is stopped.
    void clickSave(LidarToolBar& bar);
    void endRealSave();

    QString data_dir_;
    bool data_dir_existed_ = false;
    bool screenshots_existed_ = false;
};

void TestToolBar::initTestCase()
{
    data_dir_ = QCoreApplication::applicationDirPath() + QStringLiteral("/data");
    data_dir_existed_ = QDir(data_dir_).exists();
    screenshots_existed_ = QDir(QCoreApplication::applicationDirPath() + QStringLiteral("/Screenshots")).exists();
}

void TestToolBar::cleanup()
{
    LidarGLFunction::instance()->setPlayFlag(true);
    if (!data_dir_existed_)
        QDir(data_dir_).removeRecursively();
    if (!screenshots_existed_)
        QDir(QCoreApplication::applicationDirPath() + QStringLiteral("/Screenshots")).removeRecursively();
}

void TestToolBar::clickSave(LidarToolBar& bar)
{
    auto* save = bar.findChild<QToolButton*>(QStringLiteral("save_button"));
    QVERIFY(save->isEnabled());
    QTest::mouseClick(save, Qt::LeftButton);
    QVERIFY(!save->isEnabled());
}

void TestToolBar::endRealSave()
{
    // The idle writer sees the stop, reports its end and finishes.
    SerialData::instance()->stopSaveData();
    QTRY_VERIFY_WITH_TIMEOUT(!SerialData::instance()->saveRunning(), 5000);
    QTest::qWait(50); // its end report is delivered
}

void TestToolBar::controlsLeftToRight()
{
    LidarToolBar bar(nullptr);
    QCOMPARE(bar.objectName(), QStringLiteral("LidarToolBar"));
    QCOMPARE(bar.size(), QSize(1240, 85));

    auto* row = bar.findChild<QHBoxLayout*>(QStringLiteral("horizontalLayout_4"));
    QVERIFY(row);
    const QStringList expected = {QStringLiteral("play_button"),    QStringLiteral("save_button"),
                                  QStringLiteral("zoom_in_button"), QStringLiteral("zoom_out_button"),
                                  QStringLiteral("origin_button"),  QStringLiteral("about_button"),
                                  QStringLiteral("intercept_button"), QStringLiteral("checkBox_colormap")};
    QStringList names;
    for (int i = 0; i < row->count(); ++i)
        if (QWidget* widget = row->itemAt(i)->widget())
            names << widget->objectName();
    QCOMPARE(names, expected);
    QVERIFY(row->itemAt(row->count() - 1)->spacerItem()); // pushes the controls to the left

    const QStringList icons = {QStringLiteral(":/Image/pause.png"),   QStringLiteral(":/Image/save.png"),
                               QStringLiteral(":/Image/zoom_in.png"), QStringLiteral(":/Image/zoom_out.png"),
                               QStringLiteral(":/Image/origin.png"),  QStringLiteral(":/Image/about.png"),
                               QStringLiteral(":/Image/intercept.png")};
    for (int i = 0; i < icons.size(); ++i) {
        auto* button = bar.findChild<QToolButton*>(expected[i]);
        QVERIFY2(button, qPrintable(expected[i]));
        QVERIFY2(!button->icon().isNull(), qPrintable(expected[i]));
        QCOMPARE(button->styleSheet(), QStringLiteral("border:0"));
        QVERIFY(button->text().isEmpty());
        const int side = expected[i] == QLatin1String("intercept_button") ? 24 : 32;
        QCOMPARE(button->iconSize(), QSize(side, side));
        QCOMPARE(button->icon().pixmap(side, side).toImage().convertToFormat(QImage::Format_ARGB32),
                 QPixmap(icons[i]).scaled(side, side, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                     .toImage().convertToFormat(QImage::Format_ARGB32));
        QCOMPARE(button->isCheckable(), i == 0);
        QVERIFY(!button->isChecked());
    }
    auto* color_map = bar.findChild<QCheckBox*>(QStringLiteral("checkBox_colormap"));
    QCOMPARE(color_map->text(), QStringLiteral("ColorMap"));
    QVERIFY(!color_map->isChecked());
}

void TestToolBar::progressDialogStartsHiddenAndConfigured()
{
    LidarToolBar bar(nullptr);
    bar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bar));
    auto* dialog = bar.findChild<QProgressDialog*>();
    QVERIFY(dialog);
    QCOMPARE(dialog->parentWidget(), &bar);
    QCOMPARE(dialog->labelText(), QStringLiteral("Save Data"));
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Progress"));
    QCOMPARE(dialog->minimum(), 1);
    QCOMPARE(dialog->maximum(), 100);
    QCOMPARE(dialog->windowModality(), Qt::WindowModal);
    const Qt::WindowFlags flags = dialog->windowFlags();
    QVERIFY(flags.testFlag(Qt::FramelessWindowHint));
    QVERIFY(flags.testFlag(Qt::WindowStaysOnTopHint));
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Dialog);
    auto* cancel = dialog->findChild<QPushButton*>();
    QVERIFY(cancel);
    QCOMPARE(cancel->text(), QStringLiteral("Cancel"));
    // Reset at creation: it must not pop up by itself after its minimum duration.
    QTest::qWait(dialog->minimumDuration() + 300);
    QVERIFY(!dialog->isVisible());
}

void TestToolBar::screenshotFolderIsCreated()
{
    const QString dir = QCoreApplication::applicationDirPath() + QStringLiteral("/Screenshots");
    QDir(dir).removeRecursively();
    LidarToolBar bar(nullptr);
    QVERIFY(QDir(dir).exists());
}

void TestToolBar::playButtonPausesAndResumes()
{
    LidarToolBar bar(nullptr);
    auto* play = bar.findChild<QToolButton*>(QStringLiteral("play_button"));
    LidarGLFunction* hub = LidarGLFunction::instance();
    QVERIFY(hub->playFlag());

    QTest::mouseClick(play, Qt::LeftButton);
    QVERIFY(play->isChecked());
    QVERIFY(!hub->playFlag());
    QCOMPARE(iconImage(play), scaledResource(QStringLiteral(":/Image/play.png")));

    QTest::mouseClick(play, Qt::LeftButton);
    QVERIFY(!play->isChecked());
    QVERIFY(hub->playFlag());
    QCOMPARE(iconImage(play), scaledResource(QStringLiteral(":/Image/pause.png")));
}

void TestToolBar::colorMapCheckBoxEmitsItsState()
{
    LidarToolBar bar(nullptr);
    QSignalSpy spy(&bar, &LidarToolBar::sig_color);
    auto* box = bar.findChild<QCheckBox*>(QStringLiteral("checkBox_colormap"));
    QTest::mouseClick(box, Qt::LeftButton, {}, box->rect().center() - QPoint(box->width() / 2 - 8, 0));
    QTest::mouseClick(box, Qt::LeftButton, {}, box->rect().center() - QPoint(box->width() / 2 - 8, 0));
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(0).at(0).toBool(), true);
    QCOMPARE(spy.at(1).at(0).toBool(), false);
}

void TestToolBar::viewCommandsGoThroughTheHub()
{
    LidarToolBar bar(nullptr);
    LidarGLFunction* hub = LidarGLFunction::instance();
    QSignalSpy zoom_in(hub, &LidarGLFunction::zoomInSignal);
    QSignalSpy zoom_out(hub, &LidarGLFunction::zoomOutSignal);
    QSignalSpy origin(hub, &LidarGLFunction::originViewSignal);

    QTest::mouseClick(bar.findChild<QToolButton*>(QStringLiteral("zoom_in_button")), Qt::LeftButton);
    QCOMPARE(zoom_in.count(), 1);
    QTest::mouseClick(bar.findChild<QToolButton*>(QStringLiteral("zoom_out_button")), Qt::LeftButton);
    QTest::mouseClick(bar.findChild<QToolButton*>(QStringLiteral("zoom_out_button")), Qt::LeftButton);
    QCOMPARE(zoom_out.count(), 2);
    QTest::mouseClick(bar.findChild<QToolButton*>(QStringLiteral("origin_button")), Qt::LeftButton);
    QCOMPARE(origin.count(), 1);
    QCOMPARE(zoom_in.count(), 1);
}

void TestToolBar::screenshotButtonOnlyEmits()
{
    LidarToolBar bar(nullptr);
    QSignalSpy screenshot(&bar, &LidarToolBar::sig_screenshot_clicked);
    QSignalSpy color(&bar, &LidarToolBar::sig_color);
    auto* button = bar.findChild<QToolButton*>(QStringLiteral("intercept_button"));
    QTest::mouseClick(button, Qt::LeftButton);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(screenshot.count(), 2);
    QCOMPARE(color.count(), 0);
    QVERIFY(LidarGLFunction::instance()->playFlag());
    QVERIFY(bar.findChild<QToolButton*>(QStringLiteral("save_button"))->isEnabled());
}

void TestToolBar::aboutDialogIsOneModalInstance()
{
    const int before = countAboutDialogs();
    {
        LidarToolBar bar(nullptr);
        QCOMPARE(countAboutDialogs(), before + 1);
        auto* about = bar.findChild<QToolButton*>(QStringLiteral("about_button"));
        QTest::mouseClick(about, Qt::LeftButton);

        CopyRightDialog* shown = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<CopyRightDialog*>(widget); dialog && dialog->isVisible())
                shown = dialog;
        QVERIFY(shown);
        QVERIFY(shown->isModal());
        shown->hide();

        QTest::mouseClick(about, Qt::LeftButton);
        QVERIFY(shown->isVisible());
        QCOMPARE(countAboutDialogs(), before + 1);
        shown->hide();
    }
    QCOMPARE(countAboutDialogs(), before); // deleted with the tool bar
}

void TestToolBar::saveProgressClassification_data()
{
    QTest::addColumn<QList<int>>("values"); // -1 stands for a failure report (false, 0)
    QTest::addColumn<int>("end_at");        // index of the report that ends the save, -1 none

    QList<int> full;
    for (int i = 1; i <= 100; ++i)
        full << i;
    QTest::newRow("full save ends at the second 100") << (full + QList<int>{100}) << 100;
    QTest::newRow("hundred rounds without the end report") << full << -1;
    QTest::newRow("cancelled after four rounds ends at 100") << QList<int>{1, 2, 3, 4, 100} << 4;
    QTest::newRow("failure ends at once") << QList<int>{-1} << 0;
    QTest::newRow("failure after rounds") << QList<int>{1, 2, -1} << 2;
    QTest::newRow("nothing written, end") << QList<int>{100} << 0;
}

void TestToolBar::saveProgressClassification()
{
    QFETCH(QList<int>, values);
    QFETCH(int, end_at);
    SaveProgressTracker tracker;
    QCOMPARE(tracker.classify(true, 100), SaveProgressTracker::Report::Stale);
    tracker.start();
    int ended = -1;
    for (int i = 0; i < values.size(); ++i) {
        const auto report = values[i] < 0 ? tracker.classify(false, 0) : tracker.classify(true, values[i]);
        if (report == SaveProgressTracker::Report::Final || report == SaveProgressTracker::Report::Failure) {
            ended = i;
            tracker.finish();
            break;
        }
        QCOMPARE(report, SaveProgressTracker::Report::Round);
    }
    QCOMPARE(ended, end_at);
    QCOMPARE(tracker.active(), end_at < 0);
}

void TestToolBar::saveButtonStaysDisabledUntilTheWriterEnds()
{
    LidarToolBar bar(nullptr);
    bar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bar));
    auto* save = bar.findChild<QToolButton*>(QStringLiteral("save_button"));
    auto* dialog = bar.findChild<QProgressDialog*>();
    clickSave(bar);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(dialog->isVisible());

    bar.showSaveProgress(true, 1);
    QVERIFY2(!save->isEnabled(), "the first round report must not free the button");
    QCOMPARE(dialog->value(), 1);
    for (int round = 2; round <= 99; ++round)
        bar.showSaveProgress(true, round);
    QCOMPARE(dialog->value(), 99);
    QVERIFY(dialog->isVisible());
    QVERIFY(!save->isEnabled());

    bar.showSaveProgress(true, 100); // the hundredth round: the dialog closes itself
    QVERIFY(!dialog->isVisible());
    QVERIFY2(!save->isEnabled(), "the writer is still running after its hundredth round");

    bar.showSaveProgress(true, 100); // the writer's end
    QVERIFY(save->isEnabled());
    QVERIFY(!dialog->isVisible());
    endRealSave();
    QVERIFY(save->isEnabled());
}

void TestToolBar::cancelledSaveStopsAndStaysHidden()
{
    LidarToolBar bar(nullptr);
    bar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bar));
    auto* save = bar.findChild<QToolButton*>(QStringLiteral("save_button"));
    auto* dialog = bar.findChild<QProgressDialog*>();
    clickSave(bar);
    if (QTest::currentTestFailed())
        return;
    for (int round = 1; round <= 40; ++round)
        bar.showSaveProgress(true, round);

    auto* cancel = dialog->findChild<QPushButton*>();
    QTest::mouseClick(cancel, Qt::LeftButton);
    QVERIFY(dialog->wasCanceled());
    QVERIFY(!dialog->isVisible());
    QVERIFY(!save->isEnabled());

    // Rounds queued before the cancel still come in; the dialog stays hidden
    // even past its minimum duration.
    QTest::qWait(dialog->minimumDuration() + 200);
    for (int round = 41; round <= 43; ++round) {
        bar.showSaveProgress(true, round);
        QVERIFY(!dialog->isVisible());
        QVERIFY(!save->isEnabled());
    }
    // The real writer was told to stop: it ends with its own (true, 100).
    QTRY_VERIFY_WITH_TIMEOUT(save->isEnabled(), 3000);
    QVERIFY(!dialog->isVisible());
    QVERIFY(!dialog->wasCanceled()); // ready for the next save
}

void TestToolBar::cancelledSaveEndingAfterRound99FreesTheButton()
{
    LidarToolBar bar(nullptr);
    auto* save = bar.findChild<QToolButton*>(QStringLiteral("save_button"));
    clickSave(bar);
    if (QTest::currentTestFailed())
        return;
    for (int round = 1; round <= 99; ++round)
        bar.showSaveProgress(true, round);
    QVERIFY(!save->isEnabled());
    // A writer stopped after 99 rounds ends with a single 100 that continues
    // the count like a hundredth round; no second 100 follows.
    SerialData::instance()->stopSaveData();
    QTRY_VERIFY_WITH_TIMEOUT(save->isEnabled(), 5000);
    QVERIFY(!SerialData::instance()->saveRunning());
}

void TestToolBar::failureReportClosesDialogAndFreesButton()
{
    LidarToolBar bar(nullptr);
    bar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bar));
    auto* save = bar.findChild<QToolButton*>(QStringLiteral("save_button"));
    auto* dialog = bar.findChild<QProgressDialog*>();
    clickSave(bar);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(dialog->isVisible());
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("save failed")));
    bar.showSaveProgress(false, 0);
    QVERIFY(!dialog->isVisible());
    QVERIFY(save->isEnabled());
    endRealSave();
}

void TestToolBar::reportsWithoutASaveAreIgnored()
{
    LidarToolBar bar(nullptr);
    bar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bar));
    auto* save = bar.findChild<QToolButton*>(QStringLiteral("save_button"));
    auto* dialog = bar.findChild<QProgressDialog*>();
    bar.showSaveProgress(true, 50);
    bar.showSaveProgress(true, 100);
    bar.showSaveProgress(false, 0);
    QVERIFY(save->isEnabled());
    QVERIFY(!dialog->isVisible());
}

QTEST_MAIN(TestToolBar)
#include "tst_tool_bar.moc"
