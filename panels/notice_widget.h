#pragma once

#include <QLabel>
#include <QTimer>

// A short message over the bottom-left corner of the view, e.g. where a save
// went; hidden until there is something to say, and again after a while.
class NoticeWidget : public QLabel
{
    Q_OBJECT
public:
    explicit NoticeWidget(QWidget* parent = nullptr);

    // Shows `text` for `duration_ms`, replacing what was shown.
    void showNotice(const QString& text, int duration_ms = 6000);

private:
    QTimer hide_timer_;
};
