#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>

#include <QOpenGLWindow>
#include <algorithm>
#include <ctime>
#include <vector>

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
        paint_cpu_start_ = processCpuNs();
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
    static qint64 processCpuNs()
    {
        timespec now{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
        return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
    }
    void countFrame()
    {
        ++frames_;
        const qint64 ns = paint_clock_.nsecsElapsed();
        paint_ns_ += ns;
        paint_cpu_ns_ += processCpuNs() - paint_cpu_start_;
        period_ns_.push_back(ns);
        if (!log_clock_.isValid() || log_clock_.elapsed() >= 2000) {
            log_clock_.start();
            std::nth_element(period_ns_.begin(), period_ns_.begin() + period_ns_.size() / 2, period_ns_.end());
            TX_LOG << "paint stats: frames" << frames_ << "total_us" << paint_ns_ / 1000 << "cpu_us"
                   << paint_cpu_ns_ / 1000 << "median_us" << period_ns_[period_ns_.size() / 2] / 1000;
            period_ns_.clear();
        }
    }

    LidarGLWidget* view_;
    QElapsedTimer paint_clock_;
    QElapsedTimer log_clock_;
    qint64 frames_ = 0;
    qint64 paint_ns_ = 0;
    qint64 paint_cpu_start_ = 0;
    qint64 paint_cpu_ns_ = 0;
    std::vector<qint64> period_ns_; // this log period's paint times
};
