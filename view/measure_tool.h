#pragma once

#include <QPointF>
#include <QString>
#include <QVector2D>
#include <QVector3D>

#include <vector>

namespace tx710 {

class ViewCamera;

// The measure tool's state: whether it is on, and the ends marked so far
// (two clicks; a third starts again), each snapped to the nearest drawn point
// within a few pixels; and what its label says.
class MeasureTool
{
public:
    void setActive(bool on);
    bool active() const { return active_; }
    void clear() { ends_.clear(); }
    // Marks an end at `pixel`, or at the drawn point nearest to it.
    void addEnd(const QPointF& pixel, const ViewCamera& camera, const std::vector<QVector3D>& drawn);
    // In the scan plane (metres).
    const std::vector<QVector2D>& ends() const { return ends_; }
    bool complete() const { return ends_.size() == 2; }
    // What the label shows: the next click, or the distance and bearing.
    QString labelText() const;

private:
    bool active_ = false;
    std::vector<QVector2D> ends_;
};

} // namespace tx710
