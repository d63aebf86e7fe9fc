#include "panels/playback_bar.h"
#include "ui_playback_bar.h"

#include <QAction>
#include <QFontMetrics>
#include <QProxyStyle>
#include <QSignalBlocker>
#include <QStyle>

#include "replay/replay_player.h"

using tx710::replay::ReplayPlayer;

namespace {

// A click on the slider's track moves it to the click, not one page.
class JumpToClickStyle : public QProxyStyle
{
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returned) const override
    {
        if (hint == QStyle::SH_Slider_AbsoluteSetButtons)
            return Qt::LeftButton;
        return QProxyStyle::styleHint(hint, option, widget, returned);
    }
};

} // namespace

PlaybackBar::PlaybackBar(QWidget* parent) : QWidget(parent), ui_(new Ui::PlaybackBar)
{
    ui_->setupUi(this);
    ui_->replay_step_back_button->setIcon(style()->standardIcon(QStyle::SP_MediaSkipBackward));
    ui_->replay_step_forward_button->setIcon(style()->standardIcon(QStyle::SP_MediaSkipForward));
    ui_->replay_close_button->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    auto* jump_style = new JumpToClickStyle;
    jump_style->setParent(ui_->replay_slider);
    ui_->replay_slider->setStyle(jump_style);
    connect(ui_->replay_close_button, &QToolButton::clicked, this, &PlaybackBar::closeClicked);
    addKey(ui_->replay_play_button, QKeySequence(Qt::Key_P));
    addKey(ui_->replay_step_back_button, QKeySequence(Qt::Key_Left));
    addKey(ui_->replay_step_forward_button, QKeySequence(Qt::Key_Right));
    addKey(ui_->replay_close_button, QKeySequence(Qt::CTRL | Qt::Key_W));
    showState();
}

PlaybackBar::~PlaybackBar()
{
    delete ui_;
}

void PlaybackBar::addKey(QToolButton* button, const QKeySequence& key)
{
    // Anywhere in the window while the bar is shown.
    auto* action = new QAction(this);
    action->setShortcut(key);
    action->setShortcutContext(Qt::WindowShortcut);
    connect(action, &QAction::triggered, button, [button] {
        if (button->isEnabled())
            button->click();
    });
    addAction(action);
    keys_[button] = key;
    setTip(button, button->toolTip());
}

void PlaybackBar::setTip(QToolButton* button, const QString& tip)
{
    button->setToolTip(QStringLiteral("%1 (%2)").arg(tip, keys_[button].toString(QKeySequence::NativeText)));
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
    setTip(ui_->replay_play_button, playing ? tr("Pause the recording") : tr("Play the recording"));
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
    if (count != label_count_) {
        // As wide as its widest text, so that the slider keeps its length.
        label_count_ = count;
        int widest = 0;
        for (char digit = '0'; digit <= '9'; ++digit) {
            const QString digits(QString::number(count).size(), QLatin1Char(digit));
            widest = std::max(
                widest,
                ui_->replay_round_label->fontMetrics().horizontalAdvance(tr("round %1 of %2").arg(digits).arg(count)));
        }
        ui_->replay_round_label->setFixedWidth(widest + 2 * ui_->replay_round_label->margin() + 2);
    }
    ui_->replay_round_label->setText(tr("round %1 of %2").arg(index + 1).arg(count));
}
