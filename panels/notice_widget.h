#pragma once

#include <QLabel>
#include <QTimer>

// A short message over the bottom-left corner of the view, e.g. where a save
// went; hidden until there is something to say, and again after a while.
// Over a translucent dark backing; wrapped between words only, and a word
// (a path) too long for a line is cut in its middle.
class NoticeWidget : public QLabel
{
    Q_OBJECT
public:
    static constexpr int kMaxWidth = 560;

    explicit NoticeWidget(QWidget* parent = nullptr);

    // Shows `text` for `duration_ms`, replacing what was shown.
    void showNotice(const QString& text, int duration_ms = 6000);
    // The widest the notice may be, at most kMaxWidth.
    void setAvailableWidth(int width);

private:
    void fit();

    QTimer hide_timer_;
    QString full_text_;
    int available_width_ = kMaxWidth;
};
