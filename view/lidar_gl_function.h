#pragma once

#include <QObject>

// Process-wide hub through which the tool bar commands the view, and the
// holder of the play flag read by the view and the read-out panel.
class LidarGLFunction : public QObject
{
    Q_OBJECT
public:
    static LidarGLFunction* instance();

    bool playFlag() const { return play_flag_; }
    void setPlayFlag(bool flag) { play_flag_ = flag; }

    void emitOriginView() { emit originViewSignal(); }
    void emitZoomIn() { emit zoomInSignal(); }
    void emitZoomOut() { emit zoomOutSignal(); }

signals:
    void originViewSignal();
    void zoomInSignal();
    void zoomOutSignal();

private:
    LidarGLFunction() : QObject(nullptr) {}
    bool play_flag_ = true;
};
