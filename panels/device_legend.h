#pragma once

#include <QColor>
#include <QStringList>
#include <QWidget>

#include <vector>

// The LiDARs of a replay of several, over the view: a swatch of each one's
// colour and its name, one a line, on a translucent dark backing. Hidden
// while there is no name.
class DeviceLegend : public QWidget
{
    Q_OBJECT
public:
    // Lines shown at most; a last line counts the others.
    static constexpr int kMaxLines = 8;

    explicit DeviceLegend(QWidget* parent = nullptr);

    // `names` and `colours` of the same length; empty hides the legend.
    void setDevices(const QStringList& names, const std::vector<QColor>& colours);
    // The lines as shown.
    QStringList lines() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QStringList names_;
    std::vector<QColor> colours_;
};
