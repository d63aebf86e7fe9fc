#include "panels/notice_widget.h"

#include <QPainter>

#include <algorithm>

namespace {

const QColor kBacking(0, 0, 0, 170);

} // namespace

NoticeWidget::NoticeWidget(QWidget* parent) : QLabel(parent)
{
    setObjectName(QStringLiteral("notice_widget"));
    setMargin(6);
    hide_timer_.setSingleShot(true);
    connect(&hide_timer_, &QTimer::timeout, this, &QWidget::hide);
    hide();
}

void NoticeWidget::showNotice(const QString& text, int duration_ms)
{
    setText(text);
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
    if (!text().isEmpty())
        fit();
}

void NoticeWidget::fit()
{
    const QFontMetrics metrics(font());
    const int limit = std::max(available_width_ - 2 * margin(), 1);
    lines_.clear();
    for (const QString& paragraph : text().split('\n')) {
        QString line;
        for (QString word : paragraph.split(' ', Qt::SkipEmptyParts)) {
            if (metrics.horizontalAdvance(word) > limit)
                word = metrics.elidedText(word, Qt::ElideMiddle, limit);
            const QString longer = line.isEmpty() ? word : line + ' ' + word;
            if (!line.isEmpty() && metrics.horizontalAdvance(longer) > limit) {
                lines_ << line;
                line = word;
            } else {
                line = longer;
            }
        }
        lines_ << line;
    }
    resize(sizeHint());
    update();
}

QSize NoticeWidget::sizeHint() const
{
    const QFontMetrics metrics(font());
    int width = 0;
    for (const QString& line : lines_)
        width = std::max(width, metrics.horizontalAdvance(line));
    return QSize(width, static_cast<int>(lines_.size()) * metrics.lineSpacing()) + QSize(2, 2) * margin();
}

void NoticeWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), kBacking);
    painter.setPen(Qt::white);
    const QFontMetrics metrics(font());
    int baseline = margin() + metrics.ascent();
    for (const QString& line : lines_) {
        painter.drawText(margin(), baseline, line);
        baseline += metrics.lineSpacing();
    }
}
