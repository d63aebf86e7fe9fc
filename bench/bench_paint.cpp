// Time per painted frame of the point-cloud view at its busiest zoom step
// (201 rings, 200 labels) with a full round of 450 points, 1000 x 800.
// Makes a real window: run under an X server (xvfb-run) for the software renderer.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QWindow>

#include <cmath>
#include <memory>

#include "SerialPort/serial_data.h"
#include "view/lidar_gl_widget.h"

namespace {

class TimedView : public LidarGLWidget
{
public:
    // One frame, finished: the software renderer rasterises lazily.
    void paintFrame()
    {
        makeCurrent();
        paintGL();
        context()->functions()->glFinish();
        doneCurrent();
    }
};

TimedView* g_view = nullptr;

void fillRound()
{
    SerialData* data = SerialData::instance();
    data->display_points_.clear();
    data->display_colors_.clear();
    for (int i = 0; i < 450; ++i) {
        const float a = static_cast<float>(i) * 0.8f * 3.1415927f / 180.0f;
        const float r = 0.2f + 0.15f * std::sin(5.0f * a);
        data->display_points_.emplace_back(-r * std::sin(a), -r * std::cos(a), 0.0f);
        data->display_colors_.emplace_back(1.0f, i % 3 == 0 ? 0.0f : 1.0f, i % 2 == 0 ? 1.0f : 0.0f);
    }
}

void BM_PaintFrameZoomStep0(benchmark::State& state)
{
    g_view->paintFrame(); // warm-up
    for (auto _ : state)
        g_view->paintFrame();
    state.counters["frames_per_second"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PaintFrameZoomStep0)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    auto view = std::make_unique<TimedView>();
    view->resize(1000, 800);
    view->show();
    QElapsedTimer waited;
    waited.start();
    while (!(view->windowHandle() && view->windowHandle()->isExposed()) && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    if (!view->windowHandle() || !view->windowHandle()->isExposed()) {
        qWarning("the view window did not appear; run under an X server");
        return 1;
    }
    fillRound();
    view->grabFramebuffer(); // waits for the GL window's first frame: context and GL objects made
    g_view = view.get();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_view = nullptr;
    return 0;
}
