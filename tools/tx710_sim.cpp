// tx710-sim: a stand-in for a TX710 LiDAR on a serial line. It creates a
// pseudo-terminal (or writes to a device it is given) and streams scan frames
// of a simulated room, or of a data file recorded by the viewer, paced like
// the device.

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <iostream>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <QString>

#include "SerialPort/frame_protocol.h"
#include "recording/data_file.h"
#include "tools/sim_line.h"
#include "tools/simulated_lidar.h"

namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

// 230400 baud, 10 bits a byte (start, 8 data, stop).
constexpr double kLineBytesPerSecond = 230400.0 / 10.0;
constexpr double kLinePointsPerSecond = kLineBytesPerSecond / tx710::kFrameLength * tx710::kPointsPerFrame;

std::atomic<bool> g_stop{false};

void onSignal(int)
{
    g_stop = true;
}

struct Options {
    double duration = 0;  // 0: until stopped
    long long frames = 0; // 0: no limit
    double rate = tx710::SimulatedLidar::kDevicePointsPerSecond;
    bool full_rate = false;
    long long corrupt_every = 0;
    bool stray_bytes = false;
    bool silent = false;
    double hangup_after = -1; // < 0: never
    double replug_after = -1; // < 0: never
    std::string link;
    std::string replay_file;
    std::string device;
    std::uint32_t seed = 1;
};

void printUsage(const char* program)
{
    std::printf("Usage: %s [options]\n"
                "Simulates a TX710 LiDAR: streams 47-byte scan frames (CRC-8) of a room with\n"
                "walls, an open door, a reflector and a moving object, turning at 10 rev/s.\n"
                "Without --device it creates a pseudo-terminal, prints its path on the first\n"
                "line and sends while a program has it open. On exit it prints the counts.\n"
                "\n"
                "Options:\n"
                "  --device PATH          write to this serial device (set to 230400 8N1 raw)\n"
                "                         instead of creating a pseudo-terminal\n"
                "  --duration SECONDS     stop after this many seconds (default: until Ctrl+C)\n"
                "  --frames N             stop after sending N frames\n"
                "  --rate POINTS_PER_SEC  point rate; default 4500 as the device, at most\n"
                "                         %.0f (the full 230400-baud line); more points per\n"
                "                         round at the same 10 rev/s\n"
                "  --full-rate            send as fast as a 230400-baud line carries\n"
                "                         (about 490 frames/s, stray bytes included)\n"
                "  --corrupt-every N      give every Nth frame a wrong CRC byte\n"
                "  --stray-bytes          put 0 to 6 random bytes (never 0x54) between frames\n"
                "  --silent               open the line but send nothing\n"
                "  --hangup-after SECONDS close the line after this time, as if unplugged\n"
                "  --replug-after SECONDS after the hang-up, come back once after this time\n"
                "                         with a new pseudo-terminal (behind the same --link)\n"
                "  --link PATH            make PATH a symbolic link to the pseudo-terminal, as\n"
                "                         udev names an adapter; removed on hang-up\n"
                "  --replay FILE          send the rounds of a data file recorded by the viewer\n"
                "                         (\"Round angle distance intensity\" lines), repeated\n"
                "  --seed N               seed of the scene's noise (default 1)\n"
                "  --help                 show this text\n",
                program, kLinePointsPerSecond);
}

bool parseNumber(const char* text, double& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text, &end);
    return errno == 0 && end != text && *end == '\0';
}

// Returns 0 to go on, or the exit status when parsing ends the program.
int parseOptions(int argc, char** argv, Options& options, bool& go_on)
{
    enum {
        kDevice = 1,
        kDuration,
        kFrames,
        kRate,
        kFullRate,
        kCorrupt,
        kStray,
        kSilent,
        kHangup,
        kReplug,
        kLink,
        kReplay,
        kSeed,
        kHelp
    };
    static const option long_options[] = {
        {"device", required_argument, nullptr, kDevice},
        {"duration", required_argument, nullptr, kDuration},
        {"frames", required_argument, nullptr, kFrames},
        {"rate", required_argument, nullptr, kRate},
        {"full-rate", no_argument, nullptr, kFullRate},
        {"corrupt-every", required_argument, nullptr, kCorrupt},
        {"stray-bytes", no_argument, nullptr, kStray},
        {"silent", no_argument, nullptr, kSilent},
        {"hangup-after", required_argument, nullptr, kHangup},
        {"replug-after", required_argument, nullptr, kReplug},
        {"link", required_argument, nullptr, kLink},
        {"replay", required_argument, nullptr, kReplay},
        {"seed", required_argument, nullptr, kSeed},
        {"help", no_argument, nullptr, kHelp},
        {nullptr, 0, nullptr, 0},
    };
    go_on = false;
    int code = 0;
    while ((code = getopt_long(argc, argv, "", long_options, nullptr)) != -1) {
        double number = 0;
        const bool numeric = optarg && parseNumber(optarg, number);
        auto bad = [&](const char* what) {
            std::fprintf(stderr, "tx710-sim: %s: '%s'\n", what, optarg ? optarg : "");
            return 2;
        };
        switch (code) {
        case kDevice:
            options.device = optarg;
            break;
        case kDuration:
            if (!numeric || number <= 0)
                return bad("duration must be a positive number of seconds");
            options.duration = number;
            break;
        case kFrames:
            if (!numeric || number < 1)
                return bad("frames must be a positive count");
            options.frames = static_cast<long long>(number);
            break;
        case kRate:
            if (!numeric || number <= 0)
                return bad("rate must be a positive number of points per second");
            options.rate = number;
            break;
        case kFullRate:
            options.full_rate = true;
            break;
        case kCorrupt:
            if (!numeric || number < 1)
                return bad("corrupt-every must be a positive count");
            options.corrupt_every = static_cast<long long>(number);
            break;
        case kStray:
            options.stray_bytes = true;
            break;
        case kSilent:
            options.silent = true;
            break;
        case kHangup:
            if (!numeric || number < 0)
                return bad("hangup-after must be a number of seconds");
            options.hangup_after = number;
            break;
        case kReplug:
            if (!numeric || number < 0)
                return bad("replug-after must be a number of seconds");
            options.replug_after = number;
            break;
        case kLink:
            options.link = optarg;
            break;
        case kReplay:
            options.replay_file = optarg;
            break;
        case kSeed:
            if (!numeric || number < 0)
                return bad("seed must be a non-negative number");
            options.seed = static_cast<std::uint32_t>(number);
            break;
        case kHelp:
            printUsage(argv[0]);
            return 0;
        default:
            std::fprintf(stderr, "Try '%s --help'.\n", argv[0]);
            return 2;
        }
    }
    if (optind < argc) {
        std::fprintf(stderr, "tx710-sim: unexpected argument '%s'\n", argv[optind]);
        return 2;
    }
    if ((options.replug_after >= 0 || !options.link.empty()) && !options.device.empty()) {
        std::fprintf(stderr, "tx710-sim: --link and --replug-after need the pseudo-terminal, not --device\n");
        return 2;
    }
    if (options.replug_after >= 0 && options.hangup_after < 0) {
        std::fprintf(stderr, "tx710-sim: --replug-after needs --hangup-after\n");
        return 2;
    }
    if (options.rate > kLinePointsPerSecond) {
        std::fprintf(stderr, "tx710-sim: rate %.0f exceeds the line, using %.0f points/s\n", options.rate,
                     kLinePointsPerSecond);
        options.rate = kLinePointsPerSecond;
    }
    if (options.full_rate)
        options.rate = kLinePointsPerSecond;
    go_on = true;
    return 0;
}

// Where the frames come from: the simulated room or a recording, repeated.
class FrameSource
{
public:
    FrameSource(const Options& options) : room_(options.rate, options.seed) {}

    bool loadRecording(const std::string& file)
    {
        tx710::datafile::Contents contents;
        tx710::datafile::ReadError error;
        if (!tx710::datafile::readFile(QString::fromLocal8Bit(file.c_str()), contents, error)) {
            std::fprintf(stderr, "tx710-sim: %s: %s\n", file.c_str(), qPrintable(error.text()));
            return false;
        }
        recording_ = tx710::framesFromRecordedRounds(contents.rounds);
        if (recording_.empty()) {
            std::fprintf(stderr, "tx710-sim: %s holds no points\n", file.c_str());
            return false;
        }
        replaying_ = true;
        return true;
    }

    tx710::FrameBytes next()
    {
        if (!replaying_)
            return room_.nextFrame();
        const tx710::FrameBytes frame = recording_[next_recorded_];
        next_recorded_ = (next_recorded_ + 1) % recording_.size();
        return frame;
    }

private:
    tx710::SimulatedLidar room_;
    std::vector<tx710::FrameBytes> recording_;
    std::size_t next_recorded_ = 0;
    bool replaying_ = false;
};

} // namespace

int main(int argc, char** argv)
{
    Options options;
    bool go_on = false;
    const int parse_status = parseOptions(argc, argv, options, go_on);
    if (!go_on)
        return parse_status;

    FrameSource source(options);
    if (!options.replay_file.empty() && !source.loadRecording(options.replay_file))
        return 1;

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGPIPE, SIG_IGN);

    tx710::SimLine line(g_stop);
    std::string path = options.device;
    if (options.device.empty() ? !line.openPseudoTerminal(path, options.link) : !line.openDevice(options.device))
        return 1;
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);

    const Clock::time_point started = Clock::now();
    auto elapsed = [&] { return Seconds(Clock::now() - started).count(); };
    auto timeIsUp = [&] { return options.duration > 0 && elapsed() >= options.duration; };
    // The hang-up counts from the start, the replugged line lives on.
    bool replugged = false;
    auto hangupDue = [&] { return !replugged && options.hangup_after >= 0 && elapsed() >= options.hangup_after; };

    std::mt19937 random(options.seed ^ 0x9E3779B9u);
    std::uniform_int_distribution<int> stray_count(0, 6);
    std::uniform_int_distribution<int> stray_value(0, 254);

    long long frames_sent = 0;
    long long frames_corrupted = 0;
    long long stray_bytes_sent = 0;
    bool line_failed = false;

    // Pacing: frames at the point rate, or bytes at the line rate.
    const double frame_interval = tx710::kPointsPerFrame / options.rate;
    Clock::time_point schedule_start = started;
    double scheduled = 0; // frames or bytes since schedule_start
    bool had_reader = false;
    bool unplugged = false;

    while (!g_stop && !timeIsUp() && !(options.frames > 0 && frames_sent >= options.frames)) {
        if (hangupDue()) {
            std::fprintf(stderr, "tx710-sim: hanging up after %.1f s\n", elapsed());
            line.close();
            if (options.replug_after < 0) {
                unplugged = true;
                break;
            }
            const auto back = Clock::now() + std::chrono::duration_cast<Clock::duration>(Seconds(options.replug_after));
            while (!g_stop && !timeIsUp() && Clock::now() < back)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (g_stop || timeIsUp())
                break;
            if (!line.openPseudoTerminal(path, options.link)) {
                line_failed = true;
                break;
            }
            replugged = true;
            std::fprintf(stderr, "tx710-sim: back on %s after %.1f s\n", path.c_str(), elapsed());
            continue;
        }
        if (options.silent || !line.hasReader()) {
            had_reader = false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        if (!had_reader) {
            had_reader = true;
            schedule_start = Clock::now();
            scheduled = 0;
        }

        tx710::FrameBytes frame = source.next();
        if (options.corrupt_every > 0 && (frames_sent + 1) % options.corrupt_every == 0) {
            frame[tx710::kCrcOffset] ^= 0xA5;
            ++frames_corrupted;
        }
        std::vector<std::uint8_t> bytes(frame.begin(), frame.end());
        if (options.stray_bytes) {
            const int count = stray_count(random);
            for (int i = 0; i < count; ++i) {
                const int value = stray_value(random);
                // Never the header byte, so strays cannot start a frame.
                bytes.push_back(static_cast<std::uint8_t>(value >= tx710::kHeaderByte ? value + 1 : value));
            }
            stray_bytes_sent += count;
        }

        if (!line.writeAll(bytes.data(), bytes.size())) {
            line_failed = !g_stop;
            break;
        }
        ++frames_sent;

        scheduled += options.full_rate ? static_cast<double>(bytes.size()) / kLineBytesPerSecond : frame_interval;
        const auto due = schedule_start + std::chrono::duration_cast<Clock::duration>(Seconds(scheduled));
        const auto now = Clock::now();
        if (now - due > std::chrono::seconds(1)) {
            // Fell far behind (reader stalled): start a fresh schedule.
            schedule_start = now;
            scheduled = 0;
        } else if (due > now) {
            std::this_thread::sleep_until(due);
        }
    }

    if (!unplugged && !line_failed) {
        // Closing the master discards what the reader has not taken yet; let
        // it drain the last frames first.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    line.close();

    std::printf("frames sent: %lld\n", frames_sent);
    std::printf("frames corrupted: %lld\n", frames_corrupted);
    std::printf("stray bytes: %lld\n", stray_bytes_sent);
    std::fflush(stdout);
    return line_failed ? 1 : 0;
}
