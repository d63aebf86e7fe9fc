// Decoder throughput on the simulated room's stream, handed over in reads of
// 64 to 4096 bytes, with and without a recording running; and the frame
// finder alone, to show where the time goes.

#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QTemporaryDir>

#include <chrono>
#include <thread>
#include <vector>

#include "SerialPort/frame_finder.h"
#include "SerialPort/serial_data_p.h"
#include "tools/simulated_lidar.h"

namespace {

// The simulated device at its own rates: 10 revolutions and 4500 points per second.
QByteArray simulatedStream(int frames)
{
    tx710::SimulatedLidar lidar;
    QByteArray stream;
    stream.reserve(frames * int(tx710::kFrameLength));
    for (int i = 0; i < frames; ++i) {
        const tx710::FrameBytes frame = lidar.nextFrame();
        stream.append(reinterpret_cast<const char*>(frame.data()), int(frame.size()));
    }
    return stream;
}

std::vector<QByteArray> cutIntoReads(const QByteArray& stream, int read_size)
{
    std::vector<QByteArray> reads;
    for (int at = 0; at < stream.size(); at += read_size)
        reads.push_back(stream.mid(at, read_size));
    return reads;
}

void reportThroughput(benchmark::State& state, const QByteArray& stream)
{
    const double frames = double(stream.size()) / double(tx710::kFrameLength);
    state.SetBytesProcessed(std::int64_t(state.iterations()) * stream.size());
    state.counters["MB"] =
        benchmark::Counter(double(stream.size()) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["frames"] = benchmark::Counter(frames, benchmark::Counter::kIsIterationInvariantRate);
}

constexpr int kStreamFrames = 20000; // about 530 revolutions, 0.94 MB

void BM_Decode(benchmark::State& state)
{
    const QByteArray stream = simulatedStream(kStreamFrames);
    const std::vector<QByteArray> reads = cutIntoReads(stream, int(state.range(0)));
    const SerialDataTestAccess::Decoder owner = SerialDataTestAccess::create();
    SerialData& decoder = *owner;
    int rounds = 0;
    decoder.setRoundCallback([&rounds] { ++rounds; });
    for (auto _ : state) {
        for (const QByteArray& read : reads)
            decoder.findFrame(read);
        benchmark::DoNotOptimize(decoder.display_points_.data());
    }
    if (decoder.rejectedFrameCount() != 0 || rounds == 0)
        state.SkipWithError("the simulated stream did not decode cleanly");
    reportThroughput(state, stream);
}

// Each iteration is one whole save: 100 revolutions collected while the
// data writer thread writes them to a file.
void BM_DecodeWhileRecording(benchmark::State& state)
{
    const QByteArray stream = simulatedStream(3800); // 101 revolutions
    const std::vector<QByteArray> reads = cutIntoReads(stream, int(state.range(0)));
    QTemporaryDir directory;
    const SerialDataTestAccess::Decoder owner = SerialDataTestAccess::create(directory.path());
    SerialData& decoder = *owner;
    for (auto _ : state) {
        state.PauseTiming();
        while (decoder.saveRunning())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        decoder.startSaveData();
        state.ResumeTiming();
        for (const QByteArray& read : reads)
            decoder.findFrame(read);
    }
    reportThroughput(state, stream);
}

// The frame finder and CRC alone, without decoding the frames.
void BM_FindFramesOnly(benchmark::State& state)
{
    struct Discard : tx710::FrameConsumer {
        std::uint64_t frames = 0;
        void frameAccepted(const std::uint8_t*) override { ++frames; }
        void frameRejected(const std::uint8_t*, const std::uint8_t*, std::size_t) override {}
    } consumer;
    const QByteArray stream = simulatedStream(kStreamFrames);
    const std::vector<QByteArray> reads = cutIntoReads(stream, int(state.range(0)));
    tx710::FrameFinder finder(&consumer);
    for (auto _ : state) {
        for (const QByteArray& read : reads)
            finder.feed(reinterpret_cast<const std::uint8_t*>(read.constData()), std::size_t(read.size()));
        benchmark::DoNotOptimize(consumer.frames);
    }
    reportThroughput(state, stream);
}

} // namespace

BENCHMARK(BM_Decode)->RangeMultiplier(4)->Range(64, 4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeWhileRecording)->RangeMultiplier(4)->Range(64, 4096)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindFramesOnly)->RangeMultiplier(4)->Range(64, 4096)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
