// Drives --ros2's sink with several simulated devices, for the subscriber on
// the other DDS implementation to join late: it publishes /tf_static at once,
// prints "started", waits for RUN_DIR/go (the subscriber matched), then
// publishes ROUNDS rounds of each device ten times a second and a status of
// each once a second, and writes the count of each topic into
// RUN_DIR/published.txt.
// Usage: dds_publish_devices RUN_DIR ROUNDS NAMESPACE FRAME[:X,Y,Z,YAW]...
//   NAMESPACE: --ros2-namespace's, "" for none

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <thread>

#include "ros2/ros2_sink.h"
#include "support/device_scans.h"

using namespace tx710;

namespace {

std::int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Each device its own scene: a circle of (device + 1) metres, in as many
// points as a round of the device at its usual rate (4500 points/s).
ScanRound roundOf(int device, int number)
{
    ScanRound round;
    round.device = device;
    round.number = number;
    round.receive_time_ns = nowNs();
    round.speed_rpm = 600;
    for (int i = 0; i < 450; ++i)
        round.points.push_back({float(100 + device), float(1000 * (device + 1)), float(i) * 0.8f});
    return round;
}

} // namespace

int main(int argc, char** argv)
{
    QStringList words;
    for (int i = 4; i < argc; ++i)
        words << QString::fromLocal8Bit(argv[i]);
    const DeviceScans devices = tx710test::devicesOf(words.join(' '));
    if (devices.empty()) {
        std::fprintf(stderr, "usage: dds_publish_devices RUN_DIR ROUNDS NAMESPACE FRAME[:X,Y,Z,YAW]...\n");
        return 2;
    }
    const std::string dir = argv[1];
    const int rounds = std::atoi(argv[2]);
    Ros2Sink sink(devices);
    if (!sink.start(QString::fromLocal8Bit(argv[3]))) {
        std::fprintf(stderr, "dds_publish_devices: %s\n", qUtf8Printable(sink.errorString()));
        return 1;
    }
    std::printf("started\n");
    std::fflush(stdout);
    struct stat go;
    for (int waited = 0; stat((dir + "/go").c_str(), &go) != 0; ++waited) {
        if (waited == 1200) {
            std::fprintf(stderr, "dds_publish_devices: no %s/go within 60 s\n", dir.c_str());
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    int statuses = 0;
    for (int number = 1; number <= rounds; ++number) {
        for (int device = 0; device < int(devices.size()); ++device) {
            sink.writeRound(roundOf(device, number));
            if (number % 10 == 0 || number == rounds)
                statuses += sink.writeStatus({nowNs(), 100, 0, 600, 4500, device, 0});
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    sink.close();
    std::ofstream published(dir + "/published.txt");
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const std::string folder = devices.size() > 1 ? devices[i].frame_id + "/" : std::string();
        published << folder << "scan " << rounds << '\n' << folder << "points " << rounds << '\n';
    }
    published << "diagnostics " << statuses << "\ntf_static " << (hasTransforms(devices) ? 1 : 0) << '\n';
    std::printf("published\n");
    return 0;
}
