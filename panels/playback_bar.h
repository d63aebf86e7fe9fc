#pragma once

#include <QKeySequence>
#include <QWidget>

#include <map>

class QToolButton;

namespace Ui {
class PlaybackBar;
}

namespace tx710::replay {
class ReplayPlayer;
}

// The thin bar under the view while a recording is open: play/pause, one
// round back or forward, a slider over the rounds, "round k of N", the pace
// and a close button, with keys P, Left, Right and Ctrl+W. It only presents:
// the player holds the state.
class PlaybackBar : public QWidget
{
    Q_OBJECT
public:
    explicit PlaybackBar(QWidget* parent = nullptr);
    ~PlaybackBar() override;

    // Drives `player` and follows its state from now on.
    void attach(tx710::replay::ReplayPlayer* player);

signals:
    // The close button: the replay ends.
    void closeClicked();

private:
    void showState();
    // A key for `button` anywhere in the window, named in its tooltip.
    void addKey(QToolButton* button, const QKeySequence& key);
    void setTip(QToolButton* button, const QString& tip);

    Ui::PlaybackBar* ui_;
    tx710::replay::ReplayPlayer* player_ = nullptr;
    std::map<const QToolButton*, QKeySequence> keys_;
    int label_count_ = -1; // the count the label's width was made for
};
