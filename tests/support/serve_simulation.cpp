// Serves the simulated room live for the official WebSocket client's check
// (tests/interop) and for measuring the server under load:
//   tx710-serve-sim [HOST:]PORT SECONDS [POINTS_PER_SECOND]
// Publishes ten rounds a second and a status message each second, prints
// "serving on HOST:PORT" once listening and the counts when done.

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>

#include "streaming/foxglove_server.h"
#include "tools/simulated_lidar.h"

using namespace tx710;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: tx710-serve-sim [HOST:]PORT SECONDS [POINTS_PER_SECOND]\n");
        return 1;
    }
    const double seconds = args[2].toDouble();
    const double points_per_second = args.size() > 3 ? args[3].toDouble() : SimulatedLidar::kDevicePointsPerSecond;
    const int points_per_round = int(points_per_second / SimulatedLidar::kDeviceRevolutionsPerSecond);

    FoxgloveServer server;
    QString error;
    if (!server.listen(args[1], &error)) {
        std::fprintf(stderr, "tx710-serve-sim: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("serving on %s:%u\n", qPrintable(server.serverAddress()), unsigned(server.serverPort()));
    std::fflush(stdout);

    SimulatedLidar lidar(points_per_second);
    QElapsedTimer clock;
    clock.start();
    int rounds = 0;
    int statuses = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    // Catches up by elapsed time, so a late tick does not lower the rate.
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const double now = clock.nsecsElapsed() / 1e9;
        while (rounds < int(now * SimulatedLidar::kDeviceRevolutionsPerSecond)) {
            ScanRound round{rounds + 1, QDateTime::currentMSecsSinceEpoch() * 1000000LL, {}};
            for (int i = 0; i < points_per_round; ++i) {
                const double angle = i * lidar.degreesPerPoint();
                const ScanPoint seen = lidar.measure(angle, rounds * 0.1 + i / points_per_second);
                const bool no_return = i % 50 == 7; // as the device gives them now and then
                round.points.push_back(PointRecord{no_return ? 0.0f : float(seen.intensity),
                                                   no_return ? 0.0f : float(seen.distance), float(angle)});
            }
            server.publishRound(round);
            ++rounds;
        }
        if (statuses < int(now)) {
            server.publishStatus(status::Sample{QDateTime::currentMSecsSinceEpoch() * 1000000LL,
                                                points_per_second / kPointsPerFrame, 0, 600, points_per_second});
            ++statuses;
        }
        if (now >= seconds)
            app.quit();
    });
    tick.start(10);
    app.exec();
    std::printf("published %d rounds of %d points, %d status messages\n", rounds, points_per_round, statuses);
    return 0;
}
