#pragma once

#include <QWidget>

class QAbstractButton;
class QKeySequence;
class QProgressDialog;
class CopyRightDialog;

namespace Ui {
class LidarToolBar;
}

// Tells the data writer's reports of one save apart. The writer reports the
// rounds it has written as 1, 2, 3, ... and ends with one more 100; a failed
// start is reported as (false, 0). Only the end or a failure may free the save
// button, or a second writer could be started while the first still writes.
class SaveProgressTracker
{
public:
    enum class Report {
        Round,   // one more round written
        Final,   // the writer has ended
        Failure, // the save could not start
        Stale    // no save running: a late report of an earlier save
    };

    void start();
    Report classify(bool ok, int value);
    // A 100 that continues the count is the hundredth round, unless the
    // writer stopped after 99 rounds: then it is its end report.
    bool reachedHundred() const { return active_ && last_round_ == 100; }
    void finish() { active_ = false; }
    bool active() const { return active_; }

private:
    bool active_ = false;
    int last_round_ = 0;
};

class LidarToolBar : public QWidget
{
    Q_OBJECT
public:
    explicit LidarToolBar(QWidget* parent = nullptr);
    ~LidarToolBar() override;

    // The GUI-thread half of the writer's progress report: moves the progress
    // dialog and frees the save button once the save has ended or failed.
    void showSaveProgress(bool ok, int value);

    // Sets the measure button without sending sig_measure_toggled (the view
    // has already left the measure mode, e.g. on Esc).
    void setMeasureChecked(bool checked);
    // No live rounds to save (no port open): Save stays disabled, its
    // tooltip saying why.
    void setSaveUnavailable(const QString& reason);
    // How many rounds the view keeps drawing, fading (1 = only the latest);
    // remembered between runs.
    int decayRounds() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    void sig_screenshot_clicked();
    void sig_color(bool flag);
    // A save has ended: where its rounds went, or what failed and why.
    // Not sent for a save that ended with nothing written and no failure.
    void sig_save_ended(bool ok, const QString& message);
    void sig_open_clicked();
    void sig_hold_toggled(bool hold);
    void sig_measure_toggled(bool measure);
    void sig_decay_changed(int rounds);

private:
    void initConnect();
    void initShortcuts();
    // A window-wide shortcut that clicks `button`; its tooltip names the keys.
    void addShortcut(QAbstractButton* button, const QString& tip, const QList<QKeySequence>& keys);
    void playButtonClicked(bool checked);
    void saveButtonClicked();
    void cancelSave();
    void endSave(bool ok);

    Ui::LidarToolBar* ui_ = nullptr;
    CopyRightDialog* about_dialog_ = nullptr;
    QProgressDialog* progress_dialog_ = nullptr;
    SaveProgressTracker save_tracker_;
};
