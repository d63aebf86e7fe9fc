// Time per painted frame of the point-cloud view at its busiest zoom step
// (201 rings, 200 labels), 1000 x 800, a new round of 450 points each frame
// as at the device rate: one round shown, and 50 rounds shown with decay.
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

// A round of 450 points on a wavy outline, intensities across the colour map.
std::vector<PointRecord> makeRound(int number)
{
    std::vector<PointRecord> round;
    for (int i = 0; i < 450; ++i) {
        const float angle = static_cast<float>(i) * 0.8f;
        const float wave = std::sin(5.0f * angle * 3.1415927f / 180.0f + 0.1f * static_cast<float>(number));
        round.push_back(PointRecord{static_cast<float>(i % 256), 200.0f + 150.0f * wave, angle});
    }
    return round;
}

void paintNewRounds(benchmark::State& state, int decay_rounds)
{
    g_view->setDecayRounds(decay_rounds);
    int number = 0;
    for (; number < decay_rounds; ++number)
        g_view->showRecordedRound(makeRound(number), 600.0);
    g_view->paintFrame(); // warm-up
    for (auto _ : state) {
        g_view->showRecordedRound(makeRound(++number), 600.0);
        g_view->paintFrame();
    }
    state.counters["frames_per_second"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_PaintFrameZoomStep0(benchmark::State& state)
{
    paintNewRounds(state, 1);
}
BENCHMARK(BM_PaintFrameZoomStep0)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PaintFrameZoomStep0Decay50(benchmark::State& state)
{
    paintNewRounds(state, 50);
}
BENCHMARK(BM_PaintFrameZoomStep0Decay50)->Unit(benchmark::kMillisecond)->UseRealTime();

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
