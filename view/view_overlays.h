#pragma once

#include <QPointF>

class QLabel;
class QWidget;
class DeviceLegend;
class HealthLine;
class LogoWidget;
class NoticeWidget;
class ShowDataWidget;

namespace tx710 {

// The view's own child widgets, drawn over the scene, and where they sit:
// the read-out panel top-left, the logo bottom-right, the health line and
// the notices stacked up from the bottom-left corner clear of the logo, the
// hold and measure labels top-right (the measure's figures beside its line),
// the legend of a replay of several LiDARs above the logo.
struct ViewOverlays {
    explicit ViewOverlays(QWidget* view);
    // Places them all in `view`; `measure_middle` is the measure line's
    // middle, in pixels, when a line is shown.
    void place(const QWidget& view, const QPointF* measure_middle) const;

    ShowDataWidget* read_out;
    LogoWidget* logo;
    NoticeWidget* notice;
    HealthLine* health;
    QLabel* hold;
    QLabel* measure;
    DeviceLegend* legend;
};

} // namespace tx710
