#include "panels/lidar_tool_bar.h"
#include "ui_lidar_tool_bar.h"

#include <QCoreApplication>
#include <QIcon>
#include <QPixmap>
#include <QPointer>
#include <QProgressDialog>
#include <QThread>

#include "SerialPort/serial_data.h"
#include "app/copyright_dialog.h"
#include "app/log.h"
#include "recording/output_folder.h"
#include "view/lidar_gl_function.h"

void SaveProgressTracker::start()
{
    active_ = true;
    last_round_ = 0;
}

SaveProgressTracker::Report SaveProgressTracker::classify(bool ok, int value)
{
    if (!active_)
        return Report::Stale;
    if (!ok)
        return Report::Failure;
    // Round numbers count up by one; a 100 that does not continue the count
    // (a repeated 100, or the end of a cancelled save) is the writer's end.
    if (value == 100 && last_round_ != 99)
        return Report::Final;
    if (value >= 1 && value <= 100)
        last_round_ = value;
    return Report::Round;
}

namespace {

QPixmap buttonIcon(const QString& resource)
{
    return QPixmap(resource).scaled(32, 32, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

QString folderNote(const SaveOutcome& outcome)
{
    return outcome.folder_note.isEmpty()
        ? QString()
        : QObject::tr("\n(the folder beside the program cannot be written: %1)").arg(outcome.folder_note);
}

QString saveMessage(const SaveOutcome& outcome)
{
    if (outcome.ok)
        return QObject::tr("Saved %1 %2 to %3")
                   .arg(outcome.rounds)
                   .arg(outcome.rounds == 1 ? QObject::tr("round") : QObject::tr("rounds"), outcome.path)
            + folderNote(outcome);
    if (outcome.path.isEmpty())
        return QObject::tr("Save failed: %1").arg(outcome.error);
    if (outcome.rounds == 0)
        return QObject::tr("Save failed: %1: %2").arg(outcome.path, outcome.error) + folderNote(outcome);
    return QObject::tr("Save failed: %1: %2\nThe file keeps the %3 whole rounds written before.")
               .arg(outcome.path, outcome.error)
               .arg(outcome.rounds)
        + folderNote(outcome);
}

} // namespace

LidarToolBar::LidarToolBar(QWidget* parent) : QWidget(parent), ui_(new Ui::LidarToolBar)
{
    ui_->setupUi(this);

    about_dialog_ = new CopyRightDialog(nullptr);
    progress_dialog_ = new QProgressDialog(this);

    ui_->play_button->setIcon(QIcon(QStringLiteral(":/Image/pause.png")));
    ui_->play_button->setCheckable(true);
    ui_->save_button->setIcon(QIcon(QStringLiteral(":/Image/save.png")));
    ui_->zoom_in_button->setIcon(QIcon(QStringLiteral(":/Image/zoom_in.png")));
    ui_->zoom_out_button->setIcon(QIcon(QStringLiteral(":/Image/zoom_out.png")));
    ui_->origin_button->setIcon(QIcon(QStringLiteral(":/Image/origin.png")));
    ui_->about_button->setIcon(QIcon(QStringLiteral(":/Image/about.png")));
    ui_->intercept_button->setIcon(QIcon(QStringLiteral(":/Image/intercept.png")));

    // Reset at once, or the dialog would show itself after its minimum duration.
    progress_dialog_->reset();
    progress_dialog_->setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowTitleHint
                                     | Qt::WindowStaysOnTopHint);
    progress_dialog_->setLabelText(tr("Save Data"));
    progress_dialog_->setCancelButtonText(tr("Cancel"));
    progress_dialog_->setRange(1, 100);
    progress_dialog_->setWindowTitle(tr("Progress"));
    progress_dialog_->setWindowModality(Qt::WindowModal);
    progress_dialog_->hide();

    initConnect();

    const QString screenshot_dir = tx710::besideExecutable(QStringLiteral("Screenshots"));
    if (tx710::prepareOutputFolder(screenshot_dir, QStringLiteral("Screenshots")).path.isEmpty())
        TX_LOG << "screenshot path create error:" << screenshot_dir + QLatin1Char('/');
}

LidarToolBar::~LidarToolBar()
{
    delete about_dialog_;
    delete progress_dialog_;
    delete ui_;
}

void LidarToolBar::initConnect()
{
    SerialData* serial_data = SerialData::instance();
    LidarGLFunction* gl_function = LidarGLFunction::instance();

    connect(ui_->play_button, &QToolButton::clicked, this, &LidarToolBar::playButtonClicked);

    // Called on the data writer thread: only post the report. The guard is
    // made here, on the GUI thread, so a tool bar gone meanwhile is noticed.
    QPointer<LidarToolBar> guard(this);
    serial_data->setSaveProgressCallback([guard](bool ok, int value) {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app)
            return;
        QMetaObject::invokeMethod(app, [guard, ok, value] {
            if (guard)
                guard->showSaveProgress(ok, value);
        });
    });

    connect(ui_->save_button, &QToolButton::clicked, this, &LidarToolBar::saveButtonClicked);
    // Cancel stops the save at once, whether or not rounds still arrive.
    connect(progress_dialog_, &QProgressDialog::canceled, this, &LidarToolBar::cancelSave);
    connect(ui_->zoom_in_button, &QToolButton::clicked, this, [gl_function] { gl_function->emitZoomIn(); });
    connect(ui_->zoom_out_button, &QToolButton::clicked, this, [gl_function] { gl_function->emitZoomOut(); });
    connect(ui_->origin_button, &QToolButton::clicked, this, [gl_function] { gl_function->emitOriginView(); });
    connect(ui_->about_button, &QToolButton::clicked, this, [this] {
        about_dialog_->setModal(true);
        about_dialog_->show();
    });
    connect(ui_->intercept_button, &QToolButton::clicked, this, &LidarToolBar::sig_screenshot_clicked);
    connect(ui_->checkBox_colormap, &QCheckBox::clicked, this,
            [this] { emit sig_color(ui_->checkBox_colormap->isChecked()); });
}

void LidarToolBar::playButtonClicked(bool checked)
{
    LidarGLFunction::instance()->setPlayFlag(!checked);
    ui_->play_button->setIcon(
        QIcon(buttonIcon(checked ? QStringLiteral(":/Image/play.png") : QStringLiteral(":/Image/pause.png"))));
}

void LidarToolBar::saveButtonClicked()
{
    ui_->save_button->setEnabled(false);
    save_tracker_.start();
    progress_dialog_->show();
    SerialData::instance()->startSaveData();
}

void LidarToolBar::showSaveProgress(bool ok, int value)
{
    switch (save_tracker_.classify(ok, value)) {
    case SaveProgressTracker::Report::Stale:
        return;
    case SaveProgressTracker::Report::Failure:
        TX_LOG << "save failed";
        endSave(false);
        return;
    case SaveProgressTracker::Report::Final:
        endSave(true);
        break;
    case SaveProgressTracker::Report::Round:
        if (progress_dialog_->wasCanceled()) {
            // Moving the bar of a cancelled dialog could show it again.
            SerialData::instance()->stopSaveData();
        } else {
            // At 100 the dialog closes and resets itself.
            progress_dialog_->setValue(value);
            if (progress_dialog_->wasCanceled())
                SerialData::instance()->stopSaveData();
        }
        // The writer clears its running flag before its end report, so a
        // 100 seen with no writer running is that end (or just before it,
        // and the end report that follows is then ignored).
        if (save_tracker_.reachedHundred() && !SerialData::instance()->saveRunning())
            endSave(true);
        break;
    }
    if (value == 99 || value == 100)
        QThread::msleep(100);
}

void LidarToolBar::cancelSave()
{
    // The button comes back with the writer's end report, once it has
    // written what it holds.
    if (save_tracker_.active())
        SerialData::instance()->stopSaveData();
}

void LidarToolBar::endSave(bool ok)
{
    save_tracker_.finish();
    progress_dialog_->reset();
    progress_dialog_->hide();
    ui_->save_button->setEnabled(true);
    SaveOutcome outcome = SerialData::instance()->lastSaveOutcome();
    if (!ok && outcome.ok) { // a failure the writer did not describe
        outcome.ok = false;
        outcome.error = tr("the save could not start");
    }
    if (!outcome.ok || outcome.rounds > 0)
        emit sig_save_ended(outcome.ok, saveMessage(outcome));
}
