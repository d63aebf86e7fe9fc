#include "panels/lidar_tool_bar.h"
#include "ui_lidar_tool_bar.h"

#include <QAction>
#include <QCoreApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPointer>
#include <QProgressDialog>
#include <QThread>

#include "SerialPort/serial_data.h"
#include "app/app_settings.h"
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

enum class Drawn { Open, Hold, Measure };

// The newer buttons' icons, drawn here in the style of the others: dark
// strokes, one blue accent. A checked button shows its icon on a blue tile
// (the buttons have no frame to show it).
QPixmap drawnPixmap(Drawn what, bool checked)
{
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor dark(0x3c, 0x46, 0x50), blue(0x2a, 0x8a, 0xd4);
    if (checked) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0x2a, 0x8a, 0xd4, 70));
        painter.drawRoundedRect(QRectF(0, 0, 64, 64), 10, 10);
        painter.setBrush(Qt::NoBrush);
    }
    painter.setPen(QPen(dark, 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    switch (what) {
    case Drawn::Open: { // a folder with an arrow out of it
        QPainterPath folder;
        folder.moveTo(6, 52);
        folder.lineTo(6, 14);
        folder.lineTo(24, 14);
        folder.lineTo(30, 20);
        folder.lineTo(58, 20);
        folder.lineTo(58, 52);
        folder.closeSubpath();
        painter.drawPath(folder);
        painter.setPen(QPen(blue, 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawLine(32, 46, 32, 28);
        painter.drawPolyline(QPolygon({QPoint(24, 35), QPoint(32, 27), QPoint(40, 35)}));
        break;
    }
    case Drawn::Hold: // a snowflake: the points stay frozen
        for (int i = 0; i < 3; ++i) {
            painter.save();
            painter.translate(32, 32);
            painter.rotate(60 * i);
            painter.drawLine(0, -26, 0, 26);
            painter.restore();
        }
        painter.setPen(Qt::NoPen);
        painter.setBrush(blue);
        painter.drawEllipse(QPoint(32, 32), 8, 8);
        break;
    case Drawn::Measure: // a ruler
        painter.save();
        painter.translate(32, 32);
        painter.rotate(-45);
        painter.drawRect(-28, -9, 56, 18);
        painter.setPen(QPen(blue, 4, Qt::SolidLine, Qt::RoundCap));
        for (int x = -18; x <= 18; x += 9)
            painter.drawLine(x, -9, x, x % 18 == 0 ? 2 : -2);
        painter.restore();
        break;
    }
    return pixmap;
}

QIcon drawnIcon(Drawn what)
{
    QIcon icon;
    icon.addPixmap(drawnPixmap(what, false), QIcon::Normal, QIcon::Off);
    icon.addPixmap(drawnPixmap(what, true), QIcon::Normal, QIcon::On);
    return icon;
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
    ui_->open_button->setIcon(drawnIcon(Drawn::Open));
    ui_->hold_button->setIcon(drawnIcon(Drawn::Hold));
    ui_->measure_button->setIcon(drawnIcon(Drawn::Measure));
    ui_->decay_spin_box->setValue(tx710::setting(tx710::kDecayRoundsKey, ui_->decay_spin_box->value()).toInt());

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
    initShortcuts();

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
    connect(ui_->open_button, &QToolButton::clicked, this, &LidarToolBar::sig_open_clicked);
    connect(ui_->hold_button, &QToolButton::toggled, this, &LidarToolBar::sig_hold_toggled);
    connect(ui_->measure_button, &QToolButton::toggled, this, &LidarToolBar::sig_measure_toggled);
    connect(ui_->decay_spin_box, QOverload<int>::of(&QSpinBox::valueChanged), this, [this](int rounds) {
        tx710::setSetting(tx710::kDecayRoundsKey, rounds);
        emit sig_decay_changed(rounds);
    });
}

void LidarToolBar::addShortcut(QAbstractButton* button, const QString& tip, const QList<QKeySequence>& keys)
{
    button->setToolTip(QStringLiteral("%1 (%2)").arg(tip, keys.first().toString(QKeySequence::NativeText)));
    auto* action = new QAction(this);
    action->setShortcuts(keys);
    // Anywhere in the window, not only in the tool bar.
    action->setShortcutContext(Qt::WindowShortcut);
    connect(action, &QAction::triggered, button, [button] {
        if (button->isEnabled())
            button->click();
    });
    addAction(action);
}

void LidarToolBar::initShortcuts()
{
    const auto keypad = [](int key) { return QKeySequence(int(Qt::KeypadModifier) | key); };
    addShortcut(ui_->play_button, tr("Pause or play"), {QKeySequence(Qt::Key_Space)});
    addShortcut(ui_->save_button, tr("Save 100 rounds"), {QKeySequence(Qt::CTRL | Qt::Key_S)});
    addShortcut(ui_->zoom_in_button, tr("Zoom in"),
                {QKeySequence(Qt::Key_Plus), QKeySequence(Qt::Key_Equal), keypad(Qt::Key_Plus)});
    addShortcut(ui_->zoom_out_button, tr("Zoom out"), {QKeySequence(Qt::Key_Minus), keypad(Qt::Key_Minus)});
    addShortcut(ui_->origin_button, tr("Back to the origin"), {QKeySequence(Qt::Key_0), keypad(Qt::Key_0)});
    addShortcut(ui_->about_button, tr("About"), {QKeySequence(Qt::Key_F1)});
    addShortcut(ui_->intercept_button, tr("Screenshot"), {QKeySequence(Qt::Key_F12)});
    addShortcut(ui_->open_button, tr("Open a recording"), {QKeySequence(Qt::CTRL | Qt::Key_O)});
    addShortcut(ui_->hold_button, tr("Hold the points"), {QKeySequence(Qt::Key_H)});
    addShortcut(ui_->measure_button, tr("Measure a distance"), {QKeySequence(Qt::Key_M)});
    addShortcut(ui_->checkBox_colormap, tr("Colour strong returns: 211 to 254 yellow, 255 cyan"),
                {QKeySequence(Qt::Key_C)});
    ui_->decay_spin_box->setToolTip(tr("Rounds drawn at once, the older ones fading"));
    ui_->decay_spin_box->installEventFilter(this);
}

bool LidarToolBar::eventFilter(QObject* watched, QEvent* event)
{
    // The decay box keeps the digits typed into it; every other key stays
    // the window's shortcut even while the box has the focus.
    if (watched == ui_->decay_spin_box && event->type() == QEvent::ShortcutOverride) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key < Qt::Key_0 || key > Qt::Key_9)
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

void LidarToolBar::setSaveUnavailable(const QString& reason)
{
    ui_->save_button->setEnabled(false);
    ui_->save_button->setToolTip(reason);
}

void LidarToolBar::setMeasureChecked(bool checked)
{
    const QSignalBlocker blocker(ui_->measure_button);
    ui_->measure_button->setChecked(checked);
}

int LidarToolBar::decayRounds() const
{
    return ui_->decay_spin_box->value();
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
