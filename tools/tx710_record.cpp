// tx710-record: records the LiDAR without a display. It reads the port the
// way the viewer does (the same link, frame finder and decoder, so the same
// rounds a save would record) or replays a recording, and writes every round
// to the files given with --out, chosen by extension.

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <getopt.h>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <unistd.h>

#include "SerialPort/serial_data.h"
#include "SerialPort/serial_link.h"
#include "app/unix_signal_watcher.h"
#include "recording/output_targets.h"
#include "recording/recording_outputs.h"
#include "recording/scan_options.h"
#include "replay/round_stream.h"
#include "ros2/dds_names.h"
#include "ros2/ros2_sink.h"
#include "streaming/foxglove_server.h"
#include "streaming/live_feed.h"
#include "tools/link_wait.h"

using namespace tx710;

namespace {

constexpr std::int64_t kReplayRoundNs = 100000000; // the device's 10 rounds/s

const char kUsageHead[] = "Usage: tx710-record (--port PATH | --replay FILE) [--rounds N | --duration SECONDS]\n"
                          "                    [--out FILE]... [--overwrite] [--serve [HOST:]PORT] [--quiet]\n"
                          "                    [--realtime] [--reconnect [--reconnect-timeout SECONDS]]\n"
                          "                    [--ros2 [--ros2-namespace NS]]\n"
                          "                    [SCAN OPTIONS]\n"
                          "Records whole LiDAR revolutions without a display.\n"
                          "\n"
                          "  --port PATH         the LiDAR's serial port (name or path), 230400 8N1\n"
                          "  --replay FILE       a data file of the viewer (.txt) or a recording of this\n"
                          "                      program (.mcap), as fast as possible\n"
                          "  --realtime          replay at the recorded pace (.txt: 10 rounds/s)\n"
                          "  --rounds N          stop after N rounds\n"
                          "  --duration SECONDS  stop after this time (default: until interrupted)\n"
                          "  --out FILE          write the rounds to FILE, repeatable; the format by\n"
                          "                      extension: .txt (the viewer's data file), .csv, .mcap;\n"
                          "                      created with the first round, never over an existing\n"
                          "                      file unless --overwrite\n"
                          "  --overwrite         replace existing output files (when the recording closes)\n"
                          "  --serve [HOST:]PORT serve the rounds live to Foxglove (WebSocket,\n"
                          "                      foxglove.websocket.v1); host 127.0.0.1 unless given\n"
                          "  --reconnect         when the link is lost, keep the files open, wait for\n"
                          "                      the device (the same adapter) and record on\n"
                          "  --reconnect-timeout SECONDS  give up after that long without it (exit 1)\n"
                          "  --max-clients N     with --serve: refuse clients beyond N at once (default 32)\n"
                          "  --ros2              publish /scan, /tx710/points and /diagnostics on DDS as\n"
                          "                      ROS 2 does (ROS_DOMAIN_ID, ROS_AUTOMATIC_DISCOVERY_RANGE)\n"
                          "  --ros2-namespace NS put those topics under /NS\n"
                          "  --quiet             no progress line and no summary\n"
                          "  --help              show this text\n"
                          "  --version           show the version\n"
                          "Scan options (the .mcap files and the live stream):\n";
const char kUsageTail[] = "Exit status: 0 when the recording ended as asked or on SIGINT, SIGTERM or\n"
                          "SIGHUP; 1 when the device or an output failed; 2 for a usage error.\n";

std::string usage()
{
    return std::string(kUsageHead) + scanOptionsUsage() + kUsageTail;
}

struct Options {
    QString port;
    QString replay;
    long long rounds = 0; // 0: no limit
    double duration = 0;  // 0: no limit
    QStringList outputs;
    QString serve; // [HOST:]PORT of the live server, empty: none
    long long max_clients = FoxgloveServer::kDefaultMaxClients;
    bool quiet = false;
    bool realtime = false;
    bool overwrite = false;
    bool reconnect = false;
    double reconnect_timeout = 0; // 0: wait until interrupted
    ScanOptions scan;
    bool ros2 = false;
    QString ros2_namespace;
};

int usageError(const QString& message)
{
    std::fprintf(stderr, "tx710-record: %s\n%s", qUtf8Printable(message), usage().c_str());
    return 2;
}

// Returns -1 to go on, or the exit status when parsing ends the program.
int parseOptions(int argc, char** argv, Options& options)
{
    enum {
        kPort = 1,
        kReplay,
        kRounds,
        kDuration,
        kOut,
        kServe,
        kQuiet,
        kRealtime,
        kHelp,
        kVersion,
        kOverwrite,
        kReconnect,
        kTimeout,
        kMaxClients,
        kScan = 1000
    };
    enum { kRos2 = 900, kRos2Ns };
    std::vector<option> long_options = {
        {"port", required_argument, nullptr, kPort},
        {"replay", required_argument, nullptr, kReplay},
        {"rounds", required_argument, nullptr, kRounds},
        {"duration", required_argument, nullptr, kDuration},
        {"out", required_argument, nullptr, kOut},
        {"serve", required_argument, nullptr, kServe},
        {"quiet", no_argument, nullptr, kQuiet},
        {"realtime", no_argument, nullptr, kRealtime},
        {"help", no_argument, nullptr, kHelp},
        {"version", no_argument, nullptr, kVersion},
        {"overwrite", no_argument, nullptr, kOverwrite},
        {"reconnect", no_argument, nullptr, kReconnect},
        {"reconnect-timeout", required_argument, nullptr, kTimeout},
        {"max-clients", required_argument, nullptr, kMaxClients},
    };
    long_options.push_back({"ros2", no_argument, nullptr, kRos2});
    long_options.push_back({"ros2-namespace", required_argument, nullptr, kRos2Ns});
    const std::vector<std::string>& scan_names = scanOptionNames();
    for (std::size_t i = 0; i < scan_names.size(); ++i)
        long_options.push_back({scan_names[i].c_str(),
                                scanOptionTakesValue(scan_names[i]) ? required_argument : no_argument, nullptr,
                                kScan + int(i)});
    long_options.push_back({nullptr, 0, nullptr, 0});
    opterr = 0;
    int code = 0;
    while ((code = getopt_long(argc, argv, "", long_options.data(), nullptr)) != -1) {
        // getopt gives '?' and ':' for what it does not take.
        if (code >= kScan && code < kScan + int(scan_names.size())) {
            std::string error;
            if (!parseScanOption(scan_names[std::size_t(code - kScan)], optarg, options.scan, error))
                return usageError(QString::fromStdString(error));
            continue;
        }
        const QString value = optarg ? QString::fromLocal8Bit(optarg) : QString();
        char* end = nullptr;
        switch (code) {
        case kPort:
            options.port = value;
            break;
        case kReplay:
            options.replay = value;
            break;
        case kRounds:
            errno = 0;
            options.rounds = std::strtoll(optarg, &end, 10);
            if (errno != 0 || end == optarg || *end != '\0' || options.rounds < 1)
                return usageError(QStringLiteral("--rounds needs a positive count: '%1'").arg(value));
            break;
        case kDuration:
            errno = 0;
            options.duration = std::strtod(optarg, &end);
            if (errno != 0 || end == optarg || *end != '\0' || !(options.duration > 0))
                return usageError(QStringLiteral("--duration needs a positive number of seconds: '%1'").arg(value));
            break;
        case kOut: {
            RecordingOutputs::Format format;
            if (!RecordingOutputs::formatFor(value, format))
                return usageError(QStringLiteral("%1: unknown output format (give .txt, .csv or .mcap)").arg(value));
            options.outputs.append(value);
            break;
        }
        case kServe:
            options.serve = value;
            break;
        case kMaxClients:
            errno = 0;
            options.max_clients = std::strtoll(optarg, &end, 10);
            if (errno != 0 || end == optarg || *end != '\0' || options.max_clients < 1 || options.max_clients > 100000)
                return usageError(QStringLiteral("--max-clients needs a count from 1 to 100000: '%1'").arg(value));
            break;
        case kQuiet:
            options.quiet = true;
            break;
        case kRealtime:
            options.realtime = true;
            break;
        case kOverwrite:
            options.overwrite = true;
            break;
        case kReconnect:
            options.reconnect = true;
            break;
        case kTimeout:
            errno = 0;
            options.reconnect_timeout = std::strtod(optarg, &end);
            if (errno != 0 || end == optarg || *end != '\0' || !(options.reconnect_timeout > 0)
                || options.reconnect_timeout > 1e6)
                return usageError(
                    QStringLiteral("--reconnect-timeout needs a positive number of seconds: '%1'").arg(value.left(40)));
            break;
        case kRos2:
            options.ros2 = true;
            break;
        case kRos2Ns: {
            std::string qualified, error;
            if (!ros2::qualifyNamespace(optarg, qualified, error))
                return usageError(QString::fromStdString(error));
            options.ros2_namespace = value;
            break;
        }
        case kHelp:
            std::fputs(usage().c_str(), stdout);
            return 0;
        case kVersion:
            std::puts("tx710-record " TX710_VERSION);
            return 0;
        default:
            return usageError(
                QStringLiteral("unknown or incomplete option '%1'").arg(QString::fromLocal8Bit(argv[optind - 1])));
        }
    }
    if (optind < argc)
        return usageError(QStringLiteral("unexpected argument '%1'").arg(QString::fromLocal8Bit(argv[optind])));
    if (options.port.isEmpty() == options.replay.isEmpty())
        return usageError(QStringLiteral("give one source: --port PATH or --replay FILE"));
    const QString replay_suffix = QFileInfo(options.replay).suffix().toLower();
    if (!options.replay.isEmpty() && replay_suffix != QLatin1String("txt") && replay_suffix != QLatin1String("mcap"))
        return usageError(QStringLiteral("%1: --replay takes a .txt or an .mcap file").arg(options.replay));
    if (options.rounds > 0 && options.duration > 0)
        return usageError(QStringLiteral("give --rounds or --duration, not both"));
    if (options.realtime && options.replay.isEmpty())
        return usageError(QStringLiteral("--realtime applies to --replay only"));
    if (options.reconnect && options.port.isEmpty())
        return usageError(QStringLiteral("--reconnect applies to --port only"));
    if (options.reconnect_timeout > 0 && !options.reconnect)
        return usageError(QStringLiteral("--reconnect-timeout needs --reconnect"));
    std::string scan_error;
    if (!checkScanOptions(options.scan, scan_error))
        return usageError(QString::fromStdString(scan_error));
    if (!options.ros2_namespace.isEmpty() && !options.ros2)
        return usageError(QStringLiteral("--ros2-namespace applies to --ros2 only"));
    if (options.outputs.isEmpty() && options.serve.isEmpty() && !options.ros2)
        return usageError(QStringLiteral("nothing to record to: give --out FILE, --serve [HOST:]PORT or --ros2"));
    const QString refused = OutputTargets::check(
        options.outputs, options.replay.isEmpty() ? options.port : options.replay, options.overwrite);
    if (!refused.isEmpty())
        return usageError(refused);
    return -1;
}

std::int64_t nowNs()
{
    return QDateTime::currentMSecsSinceEpoch() * 1000000LL;
}

// "PATH: error", unless the error names the path already.
QString withPath(const QString& path, const QString& error)
{
    return error.contains(path) ? error : QStringLiteral("%1: %2").arg(path, error);
}

QString sizeText(std::int64_t bytes)
{
    if (bytes < 10 * 1024)
        return QStringLiteral("%1 B").arg(bytes);
    if (bytes < 10 * 1024 * 1024)
        return QStringLiteral("%1 KiB").arg(bytes / 1024);
    return QStringLiteral("%1 MiB").arg(double(bytes) / (1024.0 * 1024.0), 0, 'f', 1);
}

// Runs one recording: a source hands rounds in, every sink gets each round
// and each status sample, and the first failure or the end asked for stops it.
class Recorder : public QObject
{
public:
    Recorder(const Options& options, RecordingOutputs& outputs) : options_(options), outputs_(outputs)
    {
        sinks_.push_back(&outputs_);
        progress_ = !options_.quiet && ::isatty(STDERR_FILENO);
    }

    // Another consumer of every round and status sample (a live server).
    void addSink(RoundSink* sink) { sinks_.push_back(sink); }

    // Starts the source; false when it failed at once (reported already).
    bool start()
    {
        elapsed_.start();
        bool started = false;
        try {
            started = options_.port.isEmpty() ? startReplay() : startPort();
        } catch (const std::bad_alloc&) {
            fail(QStringLiteral("out of memory"));
        }
        if (!started)
            return false;
        // The time asked for counts from the first data.
        if (options_.duration > 0)
            QTimer::singleShot(int(options_.duration * 1000.0), Qt::PreciseTimer, this, [this] { finish(0); });
        connect(&tick_, &QTimer::timeout, this, &Recorder::tick);
        tick_.start(1000);
        return true;
    }

    void finish(int code)
    {
        if (finished_)
            return;
        finished_ = true;
        tick_.stop();
        replay_timer_.stop();
        feed_.stop();
        link_.close();
        for (RoundSink* sink : sinks_) {
            if (!sink->close() && code == 0) {
                code = 1;
                error_ = sink->errorString();
            }
        }
        if (progress_)
            std::fputs("\n", stderr);
        if (code == 1)
            std::fprintf(stderr, "tx710-record: %s\n", qUtf8Printable(error_));
        else if (!options_.quiet)
            std::fprintf(stderr, "tx710-record: %s\n", qUtf8Printable(summary()));
        QCoreApplication::exit(code);
    }

    void fail(const QString& error)
    {
        if (finished_)
            return;
        // A signal that cut a wait short is an asked-for end.
        if (UnixSignalWatcher::signalled()) {
            finish(0);
            return;
        }
        error_ = error;
        finish(1);
    }

private:
    bool startPort()
    {
        connect(&link_, &SerialLink::linkLost, this, [this](const QString& reason) {
            if (!link_wait_)
                fail(QStringLiteral("%1: link lost: %2").arg(options_.port, reason));
        });
        connect(&feed_, &LiveFeed::roundReady, this, [this](const ScanRound& round) { handRound(round); });
        connect(&feed_, &LiveFeed::statusReady, this, &Recorder::handStatus);
        feed_.start();
        // Nothing is drawn: reading ten times a second is soon enough.
        link_.setReadInterval(100);
        link_.setCancelCheck(&UnixSignalWatcher::signalled);
        if (link_.open(options_.port) != SerialLink::OpenResult::Opened) {
            fail(QStringLiteral("%1: %2").arg(options_.port, link_.errorString()));
            return false;
        }
        if (options_.reconnect) {
            const auto clear_progress = [this] {
                if (progress_)
                    std::fputs("\r\x1b[K", stderr);
            };
            link_wait_ = new LinkWait(link_, options_.port, options_.reconnect_timeout, clear_progress, this);
            connect(link_wait_, &LinkWait::gaveUp, this, &Recorder::fail);
        }
        return true;
    }

    bool startReplay()
    {
        // The same whole rounds, limits and reasons as a replay in the
        // viewer, read one at a time: one round is held, whatever the length.
        QString error;
        replay_start_ns_ = nowNs();
        if (!replay_.open(options_.replay, error, &UnixSignalWatcher::signalled) || !readAhead(error)) {
            fail(withPath(options_.replay, error));
            return false;
        }
        if (!has_next_) {
            fail(withPath(options_.replay, QStringLiteral("the file holds no whole round")));
            return false;
        }
        replay_timer_.setSingleShot(true);
        connect(&replay_timer_, &QTimer::timeout, this, &Recorder::replayNext);
        replay_timer_.start(0);
        return true;
    }

    // The round after the one to hand on now; false on a read failure.
    bool readAhead(QString& error)
    {
        replay::Round round;
        replay::RoundPlace place;
        const replay::RoundStream::Item item = replay_.next(round, place, error);
        has_next_ = item == replay::RoundStream::Item::Round;
        // No times in a data file: the device's pace from the start on.
        next_ = ScanRound{0, round.has_time ? round.time_ns : replay_start_ns_ + replayed_ * kReplayRoundNs,
                          std::move(round.points), std::isnan(round.speed_rpm) ? 0 : round.speed_rpm};
        return item != replay::RoundStream::Item::Failed;
    }

    // One round per turn of the event loop, so that signals are seen.
    void replayNext()
    {
        if (!has_next_) {
            finish(0);
            return;
        }
        ScanRound round = std::move(next_);
        ++replayed_;
        QString error;
        const bool read = readAhead(error);
        int wait_ms = 0;
        if (options_.realtime && has_next_)
            wait_ms = int(qBound<std::int64_t>(0, (next_.receive_time_ns - round.receive_time_ns) / 1000000, 60000));
        handRound(std::move(round));
        if (!read) {
            if (!finished_ && !finished_pending_)
                failLater(withPath(options_.replay, error));
            return;
        }
        if (!finished_ && !finished_pending_)
            replay_timer_.start(wait_ms);
    }

    void handRound(ScanRound round)
    {
        if (finished_ || finished_pending_)
            return;
        try {
            writeRound(std::move(round));
        } catch (const std::bad_alloc&) {
            // The files keep the rounds before this one and end properly.
            failLater(QStringLiteral("out of memory"));
        }
    }

    void failLater(const QString& error)
    {
        feed_.stop();
        finished_pending_ = true;
        // Not from inside the decoder: the link closes from the event loop.
        QMetaObject::invokeMethod(
            this, [this, error] { fail(error); }, Qt::QueuedConnection);
    }

    void writeRound(ScanRound round)
    {
        // Consecutive from 1 in every output: a replay of several saves
        // becomes one recording.
        round.number = ++rounds_;
        for (RoundSink* sink : sinks_) {
            if (!sink->writeRound(round)) {
                failLater(sink->errorString());
                return;
            }
        }
        if (options_.rounds > 0 && rounds_ >= options_.rounds) {
            feed_.stop();
            finished_pending_ = true;
            QMetaObject::invokeMethod(
                this, [this] { finish(0); }, Qt::QueuedConnection);
        }
    }

    void handStatus(const status::Sample& sample)
    {
        if (finished_ || finished_pending_)
            return;
        for (RoundSink* sink : sinks_) {
            if (!sink->writeStatus(sample)) {
                fail(sink->errorString());
                return;
            }
        }
    }

    void tick()
    {
        if (progress_ && !finished_ && !finished_pending_)
            std::fprintf(stderr, "\r%s\x1b[K", qUtf8Printable(progressText()));
    }

    QString filesText() const
    {
        QStringList parts;
        for (const auto& file : outputs_.sizes())
            parts.append(QStringLiteral("%1 %2").arg(QFileInfo(file.path).fileName(), sizeText(file.bytes)));
        return parts.join(QStringLiteral(", "));
    }

    QString progressText() const
    {
        QString text = QStringLiteral("rounds %1").arg(rounds_);
        if (link_wait_ && link_wait_->waiting())
            text = link_wait_->progressText() + QStringLiteral("  ") + text;
        if (!options_.port.isEmpty())
            text += QStringLiteral("  frames/s %1  CRC rejects %2  RPM %3")
                        .arg(feed_.lastStatus().frames_per_second, 0, 'f', 0)
                        .arg(feed_.rejects())
                        .arg(feed_.lastStatus().rpm, 0, 'f', 1);
        return text + QStringLiteral("  ") + filesText();
    }

    QString summary() const
    {
        QString text = QStringLiteral("%1 rounds in %2 s").arg(rounds_).arg(elapsed_.elapsed() / 1000.0, 0, 'f', 1);
        if (!options_.port.isEmpty())
            text += QStringLiteral(", %1 CRC rejects").arg(feed_.rejects());
        const QString files = filesText();
        return files.isEmpty() ? text : text + QStringLiteral(": ") + files;
    }

    const Options& options_;
    RecordingOutputs& outputs_;
    std::vector<RoundSink*> sinks_;
    SerialLink link_;
    LinkWait* link_wait_ = nullptr; // with --reconnect
    LiveFeed feed_;
    QTimer tick_;
    QTimer replay_timer_;
    QElapsedTimer elapsed_;
    replay::RoundStream replay_;
    ScanRound next_;
    bool has_next_ = false;
    std::int64_t replay_start_ns_ = 0;
    std::int64_t replayed_ = 0;
    long long rounds_ = 0;
    bool progress_ = false;
    bool finished_ = false;
    bool finished_pending_ = false;
    QString error_;
};

// The log lines of the link and the decoder are for the viewer's log; here
// stderr carries the progress, the summary or the one line of a failure.
void dropLogLines(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtFatalMsg)
        std::fprintf(stderr, "tx710-record: %s\n", qUtf8Printable(message));
}

} // namespace

int main(int argc, char** argv)
{
    // Held back until the watcher takes them: a signal this early neither
    // kills the program nor goes unseen.
    sigset_t ending;
    sigemptyset(&ending);
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&ending, signal_number);
    pthread_sigmask(SIG_BLOCK, &ending, nullptr);
    // A file at its size limit fails the write (reported) instead of ending
    // the program; a closed pipe likewise.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    qInstallMessageHandler(dropLogLines);

    Options options;
    const int parsed = parseOptions(argc, argv, options);
    if (parsed >= 0)
        return parsed;

    QCoreApplication app(argc, argv);
    UnixSignalWatcher watcher({SIGINT, SIGTERM, SIGHUP});
    pthread_sigmask(SIG_UNBLOCK, &ending, nullptr);
    if (UnixSignalWatcher::signalled())
        return 0;
    // Before the files: a DDS that cannot start leaves them untouched.
    Ros2Sink ros2_sink(options.scan);
    if (options.ros2 && !ros2_sink.start(options.ros2_namespace)) {
        std::fprintf(stderr, "tx710-record: %s\n", qUtf8Printable(ros2_sink.errorString()));
        return 1;
    }
    RecordingOutputs outputs;
    outputs.setScanOptions(options.scan);
    outputs.open(options.outputs, OutputTargets::openMode(options.overwrite));

    Recorder recorder(options, outputs);
    FoxgloveServer server;
    server.setMaxClients(int(options.max_clients));
    server.setScanOptions(options.scan);
    if (!options.serve.isEmpty()) {
        QString error;
        if (!server.listen(options.serve, &error)) {
            outputs.close();
            std::fprintf(stderr, "tx710-record: --serve %s: %s\n", qUtf8Printable(options.serve),
                         qUtf8Printable(error));
            return 1;
        }
        if (!options.quiet)
            std::fprintf(stderr, "tx710-record: serving on ws://%s:%u\n", qUtf8Printable(server.serverAddress()),
                         unsigned(server.serverPort()));
        recorder.addSink(&server);
    }
    if (options.ros2)
        recorder.addSink(&ros2_sink);
    QObject::connect(&watcher, &UnixSignalWatcher::unixSignal, &recorder, [&recorder](int) { recorder.finish(0); });
    if (!recorder.start())
        return UnixSignalWatcher::signalled() ? 0 : 1;
    return app.exec();
}
