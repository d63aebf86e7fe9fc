#pragma once

#include <QLabel>
#include <QStringList>
#include <QTimer>

// A short message over the bottom-left corner of the view, e.g. where a save
// went; hidden until there is something to say, and again after a while.
// Drawn over a translucent dark backing, wrapped between words only; a word
// (a path) too long for a line is cut in its middle. text() is the message.
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
    // The lines as drawn.
    const QStringList& shownLines() const { return lines_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void fit();

    QTimer hide_timer_;
    QStringList lines_;
    int available_width_ = kMaxWidth;
};
