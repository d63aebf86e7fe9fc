#pragma once

#include <QObject>
#include <QString>

// Process-wide hub through which the tool bar commands the view, and the
// holder of the play flag read by the view and the read-out panel.
class LidarGLFunction : public QObject
{
    Q_OBJECT
public:
    static LidarGLFunction* instance();

    bool playFlag() const { return play_flag_; }
    void setPlayFlag(bool flag) { play_flag_ = flag; }

    // A short note the view shows for a while over the scene, e.g. that it
    // is drawn by the software renderer; empty for none.
    QString rendererNote() const { return renderer_note_; }
    void setRendererNote(const QString& note) { renderer_note_ = note; }

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
    QString renderer_note_;
};
