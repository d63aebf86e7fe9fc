#include "panels/notice_widget.h"

#include <algorithm>

NoticeWidget::NoticeWidget(QWidget* parent) : QLabel(parent)
{
    setObjectName(QStringLiteral("notice_widget"));
    setMargin(6);
    setTextInteractionFlags(Qt::TextSelectableByMouse); // the path can be copied
    setStyleSheet(QStringLiteral("background-color: rgba(0, 0, 0, 170); color: white;"));

    hide_timer_.setSingleShot(true);
    connect(&hide_timer_, &QTimer::timeout, this, &QWidget::hide);
    hide();
}

void NoticeWidget::showNotice(const QString& text, int duration_ms)
{
    full_text_ = text;
    setToolTip(text);
    fit();
    show();
    raise();
    hide_timer_.start(duration_ms);
}

void NoticeWidget::setAvailableWidth(int width)
{
    width = std::min(width, kMaxWidth);
    if (width == available_width_)
        return;
    available_width_ = width;
    if (!full_text_.isEmpty())
        fit();
}

void NoticeWidget::fit()
{
    const QFontMetrics metrics(font());
    const int limit = std::max(available_width_ - 2 * margin() - 2 * frameWidth(), 1);
    QStringList lines;
    for (const QString& paragraph : full_text_.split('\n')) {
        QString line;
        for (QString word : paragraph.split(' ', Qt::SkipEmptyParts)) {
            if (metrics.horizontalAdvance(word) > limit)
                word = metrics.elidedText(word, Qt::ElideMiddle, limit);
            const QString longer = line.isEmpty() ? word : line + ' ' + word;
            if (!line.isEmpty() && metrics.horizontalAdvance(longer) > limit) {
                lines << line;
                line = word;
            } else {
                line = longer;
            }
        }
        lines << line;
    }
    setText(lines.join('\n'));
    adjustSize();
}
