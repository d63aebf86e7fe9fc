#include "panels/device_legend.h"

#include <QPainter>

#include <algorithm>

namespace {

constexpr int kPadding = 5;
const QColor kBacking(0, 0, 0, 150);
const QColor kText(200, 200, 200);

} // namespace

DeviceLegend::DeviceLegend(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("device_legend"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    hide();
}

void DeviceLegend::setDevices(const QStringList& names, const std::vector<QColor>& colours)
{
    names_ = names;
    colours_ = colours;
    colours_.resize(std::size_t(names_.size()), kText);
    resize(sizeHint());
    setVisible(!names_.isEmpty());
    update();
}

QStringList DeviceLegend::lines() const
{
    if (names_.size() <= kMaxLines)
        return names_;
    return names_.mid(0, kMaxLines - 1) << tr("and %1 more").arg(names_.size() - kMaxLines + 1);
}

QSize DeviceLegend::sizeHint() const
{
    const QFontMetrics metrics = fontMetrics();
    int width = 0;
    for (const QString& line : lines())
        width = std::max(width, metrics.horizontalAdvance(line));
    const int line_height = metrics.height();
    return QSize(width + line_height + 3 * kPadding, int(lines().size()) * line_height + 2 * kPadding);
}

void DeviceLegend::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    painter.fillRect(rect(), kBacking);
    const QFontMetrics metrics = fontMetrics();
    const int line_height = metrics.height();
    const QStringList shown = lines();
    for (int k = 0; k < shown.size(); ++k) {
        const int top = kPadding + k * line_height;
        const int swatch = line_height - 6;
        if (k < kMaxLines - 1 || names_.size() <= kMaxLines)
            painter.fillRect(QRect(kPadding, top + 3, swatch, swatch), colours_[std::size_t(k)]);
        painter.setPen(kText);
        painter.drawText(QPoint(kPadding * 2 + line_height, top + metrics.ascent()), shown[k]);
    }
}
