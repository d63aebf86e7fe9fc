// Writes a.txt, a.csv and a.mcap of the simulated room into a folder, for the
// check against the official MCAP reader (tests/interop) and for measuring
// file sizes: tx710-make-recording FOLDER [ROUNDS]
//
// The rounds go the way the recorder's will: the text file is written first
// and read back, and the rounds it gives are what the CSV and MCAP files hold.

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

#include "recording/csv_writer.h"
#include "recording/mcap_writer.h"
#include "tools/simulated_lidar.h"

using namespace tx710;

namespace {

constexpr int kPointsPerRound = 450; // the device rate: 4500 points/s at 10 rev/s
constexpr std::int64_t kRoundNs = 100000000;
// A fixed start with nanoseconds, so that sec/nsec splitting is exercised.
constexpr std::int64_t kStartNs = 1780000000123456789LL;

int fail(const QString& message)
{
    std::fprintf(stderr, "tx710-make-recording: %s\n", qPrintable(message));
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2)
        return fail(QStringLiteral("usage: tx710-make-recording FOLDER [ROUNDS]"));
    const QString folder = args[1];
    const int round_count = args.size() > 2 ? args[2].toInt() : 100;

    SimulatedLidar lidar;
    QByteArray text = datafile::headerLine();
    for (int round = 1; round <= round_count; ++round) {
        std::vector<PointRecord> points;
        for (int i = 0; i < kPointsPerRound; ++i) {
            const double angle = i * lidar.degreesPerPoint();
            const ScanPoint seen = lidar.measure(angle, (round - 1) * 0.1 + i / SimulatedLidar::kDevicePointsPerSecond);
            // Every 50th point without a return, as the device gives them.
            const bool no_return = i % 50 == 7;
            points.push_back(PointRecord{no_return ? 0.0f : float(seen.intensity),
                                         no_return ? 0.0f : float(seen.distance), float(angle)});
        }
        datafile::appendRound(text, round, points);
    }
    QFile txt(folder + QStringLiteral("/a.txt"));
    if (!txt.open(QIODevice::WriteOnly) || txt.write(text) != text.size() || !txt.flush())
        return fail(QStringLiteral("cannot write %1: %2").arg(txt.fileName(), txt.errorString()));
    txt.close();

    datafile::Contents contents;
    datafile::ReadError read_error;
    if (!datafile::readFile(txt.fileName(), contents, read_error))
        return fail(read_error.text());

    csv::Writer csv;
    mcap::Writer mcap;
    if (!csv.open(folder + QStringLiteral("/a.csv")))
        return fail(csv.errorString());
    if (!mcap.open(folder + QStringLiteral("/a.mcap")))
        return fail(mcap.errorString());
    for (std::size_t i = 0; i < contents.rounds.size(); ++i) {
        const ScanRound round{contents.rounds[i].number, kStartNs + std::int64_t(i) * kRoundNs,
                              contents.rounds[i].points};
        if (!csv.writeRound(round))
            return fail(csv.errorString());
        if (!mcap.writeRound(round))
            return fail(mcap.errorString());
        if (i % 10 == 9) {
            const status::Sample sample{round.receive_time_ns, 375, i / 10, 600, 4500};
            if (!mcap.writeStatus(sample))
                return fail(mcap.errorString());
        }
    }
    if (!csv.close())
        return fail(csv.errorString());
    if (!mcap.close())
        return fail(mcap.errorString());
    for (const char* name : {"a.txt", "a.csv", "a.mcap"})
        std::printf("%s: %lld bytes for %d rounds of %d points\n", name,
                    QFileInfo(folder + '/' + QLatin1String(name)).size(), round_count, kPointsPerRound);
    return 0;
}
