#include "view/view_overlays.h"

#include <QCoreApplication>
#include <QLabel>

#include <algorithm>

#include "app/logo_widget.h"
#include "panels/device_legend.h"
#include "panels/health_line.h"
#include "panels/notice_widget.h"
#include "panels/show_data_widget.h"

namespace tx710 {

namespace {

constexpr int kMargin = 8;

} // namespace

ViewOverlays::ViewOverlays(QWidget* view)
    : read_out(new ShowDataWidget(view)), logo(new LogoWidget(view)),
      notice(new NoticeWidget(view)), // hidden until there is something to say
      health(new HealthLine(view)),
      hold(new QLabel(QCoreApplication::translate("LidarGLWidget", "Held: this round stays on screen (H to go on)"),
                      view)),
      measure(new QLabel(view)), legend(new DeviceLegend(view))
{
    read_out->show();
    logo->show();
    health->show();
    hold->setObjectName(QStringLiteral("hold_label"));
    measure->setObjectName(QStringLiteral("measure_label"));
    for (QLabel* label : {hold, measure}) {
        label->setMargin(4);
        label->setStyleSheet(QStringLiteral("background-color: rgba(0, 0, 0, 170); color: rgb(255, 140, 255);"));
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        label->hide();
    }
}

void ViewOverlays::place(const QWidget& view, const QPointF* measure_middle) const
{
    const int width = view.width();
    const int height = view.height();
    read_out->move(0, 0);
    read_out->raise();
    logo->move(width - logo->width(), height - logo->height());
    logo->raise();
    // From the bottom up; one that would reach under the logo goes above it.
    notice->setAvailableWidth(width);
    int bottom = height;
    for (QWidget* line : {static_cast<QWidget*>(health), static_cast<QWidget*>(notice)}) {
        if (line->width() > logo->x())
            bottom = std::min(bottom, logo->y());
        line->move(0, bottom - line->height());
        line->raise();
        bottom = line->y();
    }
    hold->adjustSize();
    hold->move(width - hold->width() - kMargin, kMargin);
    hold->raise();
    if (measure_middle != nullptr) {
        // Beside the line's middle, kept inside the view.
        measure->move(
            std::clamp(static_cast<int>(measure_middle->x()) + kMargin, 0, std::max(0, width - measure->width())),
            std::clamp(static_cast<int>(measure_middle->y()) + kMargin, 0, std::max(0, height - measure->height())));
    } else {
        measure->move(width - measure->width() - kMargin, hold->y() + hold->height() + kMargin);
    }
    measure->raise();
    legend->move(width - legend->width() - kMargin, logo->y() - legend->height() - kMargin);
    legend->raise();
}

} // namespace tx710
