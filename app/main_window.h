#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <memory>

class LidarToolBar;
class QImage;
class QMessageBox;
class QTimer;

namespace tx710::replay {
class ReplayPlayer;
}

namespace Ui {
class MainWindow;
}

// The program's only main window: the point-cloud view as the whole central
// area and the tool bar on top. It also takes the screenshots of the view, and
// comes back where and as large as it was closed (1000 x 800 the first time,
// and centred when what it remembers does not fit the screen).
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Saves what the screen shows over the view as a PNG in Screenshots/
    // beside the executable (or in the user's data location when that
    // cannot be written), and tells the user where it went or why not.
    void saveScreenshot();

    // Writes `image` as a PNG to `path`, all or nothing: returns the reason
    // on failure, and then no file is left behind.
    static QString writeScreenshotFile(const QImage& image, const QString& path);

    // A notice over the view; a failure also in a warning box that does not
    // block the view.
    void showOutcome(bool ok, const QString& failure_title, const QString& message);

    // Shows the recording at `path` in place of the live rounds, from its
    // first round, playing at the recorded pace, with the playback bar under
    // the view. A file that cannot be opened is named with the reason in a
    // warning box; whatever was shown goes on.
    void openRecording(const QString& path);
    // A file dialog for recordings, in the folder the last one came from.
    void chooseRecording();
    // Back to the live rounds.
    void closeRecording();
    // For a window with no port behind it: Save is disabled and the health
    // line says why; a recording that cannot be opened comes with an offer
    // of another.
    void setNoPortOpen();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool geometryFits() const;
    void restoreGeometrySetting();
    void saveGeometrySetting() const;
    void addReconnectToggle();
    void linkDown();
    void showLinkWait();
    void linkBack();
    void showReplayRound(int index);

    Ui::MainWindow* ui_ = nullptr;
    std::shared_ptr<LidarToolBar> tool_bar_;
    QPointer<QMessageBox> failure_box_;
    tx710::replay::ReplayPlayer* player_ = nullptr;
    QString replay_name_;  // the recording's file name
    int shown_index_ = -1; // the replayed round on screen
    QTimer* link_wait_timer_ = nullptr;
    QString save_cut_by_loss_; // the file of the save a lost link ended
    bool no_port_ = false;
};
