#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QOpenGLWindow>

#include "app/log.h"

#include "view/lidar_gl_widget.h"

// The native GL window filling the view: it draws through the view's GL code
// and hands all mouse input (and keys) to the view. With TX710_PAINT_STATS
// set, it logs every 2 s the frames so far and their time from the start of
// the paint to the swapped buffer, for scripts/measure-performance.
class SceneWindow : public QOpenGLWindow
{
public:
    explicit SceneWindow(LidarGLWidget* view) : view_(view)
    {
        if (qEnvironmentVariableIsSet("TX710_PAINT_STATS"))
            connect(this, &QOpenGLWindow::frameSwapped, this, &SceneWindow::countFrame);
    }

protected:
    void initializeGL() override { view_->initializeGL(); }
    void resizeGL(int w, int h) override { view_->resizeGL(w, h); }
    void paintGL() override
    {
        paint_clock_.start();
        view_->paintGL();
    }
    bool event(QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::Enter:
        case QEvent::Leave:
        case QEvent::KeyPress:
            // Same origin as the view: the window fills it.
            return QCoreApplication::sendEvent(view_, event);
        default:
            return QOpenGLWindow::event(event);
        }
    }

private:
    void countFrame()
    {
        ++frames_;
        paint_ns_ += paint_clock_.nsecsElapsed();
        if (!log_clock_.isValid() || log_clock_.elapsed() >= 2000) {
            log_clock_.start();
            TX_LOG << "paint stats: frames" << frames_ << "total_us" << paint_ns_ / 1000;
        }
    }

    LidarGLWidget* view_;
    QElapsedTimer paint_clock_;
    QElapsedTimer log_clock_;
    qint64 frames_ = 0;
    qint64 paint_ns_ = 0;
};
