#include "panels/playback_bar.h"
#include "ui_playback_bar.h"

#include <QSignalBlocker>
#include <QStyle>

#include "replay/replay_player.h"

using tx710::replay::ReplayPlayer;

PlaybackBar::PlaybackBar(QWidget* parent) : QWidget(parent), ui_(new Ui::PlaybackBar)
{
    ui_->setupUi(this);
    ui_->replay_step_back_button->setIcon(style()->standardIcon(QStyle::SP_MediaSkipBackward));
    ui_->replay_step_forward_button->setIcon(style()->standardIcon(QStyle::SP_MediaSkipForward));
    ui_->replay_close_button->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    connect(ui_->replay_close_button, &QToolButton::clicked, this, &PlaybackBar::closeClicked);
    showState();
}

PlaybackBar::~PlaybackBar()
{
    delete ui_;
}

void PlaybackBar::attach(ReplayPlayer* player)
{
    player_ = player;
    connect(ui_->replay_play_button, &QToolButton::clicked, player, &ReplayPlayer::togglePlay);
    connect(ui_->replay_step_back_button, &QToolButton::clicked, player, &ReplayPlayer::stepBack);
    connect(ui_->replay_step_forward_button, &QToolButton::clicked, player, &ReplayPlayer::stepForward);
    connect(ui_->replay_slider, &QSlider::valueChanged, player, &ReplayPlayer::seek);
    connect(ui_->replay_pace_box, QOverload<int>::of(&QComboBox::currentIndexChanged), player,
            [player](int pace) { player->setPace(ReplayPlayer::Pace(pace)); });
    connect(player, &ReplayPlayer::roundChanged, this, &PlaybackBar::showState);
    connect(player, &ReplayPlayer::stateChanged, this, &PlaybackBar::showState);
    showState();
}

void PlaybackBar::showState()
{
    const int count = player_ ? player_->count() : 0;
    const int index = player_ ? player_->index() : -1;
    const bool playing = player_ && player_->isPlaying();
    ui_->replay_play_button->setIcon(style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
    ui_->replay_play_button->setToolTip(playing ? tr("Pause the recording") : tr("Play the recording"));
    ui_->replay_step_back_button->setEnabled(index > 0);
    ui_->replay_step_forward_button->setEnabled(index + 1 < count);
    {
        // The player moved the slider: no seek back.
        const QSignalBlocker blocker(ui_->replay_slider);
        ui_->replay_slider->setRange(0, std::max(count - 1, 0));
        ui_->replay_slider->setValue(std::max(index, 0));
    }
    {
        const QSignalBlocker blocker(ui_->replay_pace_box);
        ui_->replay_pace_box->setCurrentIndex(player_ ? int(player_->pace()) : 0);
    }
    ui_->replay_round_label->setText(tr("round %1 of %2").arg(index + 1).arg(count));
}
