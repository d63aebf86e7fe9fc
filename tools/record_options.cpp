// The command line of tx710-record: its options, their checks and the usage
// text.

#include "tools/record_options.h"

#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <getopt.h>
#include <string>
#include <vector>

#include "recording/output_targets.h"
#include "recording/quoted_value.h"
#include "recording/recording_outputs.h"
#include "ros2/dds_names.h"

namespace tx710 {

namespace {

// LiDARs in one recording: each is opened in turn, with up to 3 s for its data.
constexpr int kMaxPorts = 16;

const char kUsageHead[] = "Usage: tx710-record (--port PATH | --replay FILE) [--rounds N | --duration SECONDS]\n"
                          "                    [--out FILE]... [--overwrite] [--serve [HOST:]PORT] [--quiet]\n"
                          "                    [--realtime] [--reconnect [--reconnect-timeout SECONDS]]\n"
                          "                    [--ros2 [--ros2-namespace NS]]\n"
                          "                    [SCAN OPTIONS]\n"
                          "Records whole LiDAR revolutions without a display.\n"
                          "\n"
                          "  --port PATH         the LiDAR's serial port (name or path), 230400 8N1;\n"
                          "                      repeatable: several LiDARs, each with its own\n"
                          "                      --frame-id, .txt and .csv names with {device}\n"
                          "  --replay FILE       a data file of the viewer (.txt) or a recording of this\n"
                          "                      program (.mcap), as fast as possible\n"
                          "  --realtime          replay at the recorded pace (.txt: 10 rounds/s)\n"
                          "  --rounds N          stop after N rounds (of each LiDAR)\n"
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
                          "Scan options (the .mcap files and the live stream; after a --port for that\n"
                          "LiDAR, before the first for all; --mcap-profile and --base-frame for all):\n";
const char kUsageTail[] = "Exit status: 0 when the recording ended as asked or on SIGINT, SIGTERM or\n"
                          "SIGHUP; 1 when the device or an output failed; 2 for a usage error.\n";

std::string usage()
{
    return std::string(kUsageHead) + scanOptionsUsage() + kUsageTail;
}

int usageError(const QString& message)
{
    std::fprintf(stderr, "tx710-record: %s\n%s", qUtf8Printable(message), usage().c_str());
    return 2;
}

// Options that shape the whole recording, whichever --port they follow.
bool forTheRecording(const std::string& name)
{
    return name == "mcap-profile" || name == "base-frame";
}

// A port as the system names its device: a bare name is under /dev, links
// lead to their target.
QString canonicalPort(const QString& port)
{
    const QString path = port.contains(QLatin1Char('/')) ? port : QStringLiteral("/dev/") + port;
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? QFileInfo(path).absoluteFilePath() : canonical;
}

// A frame id that may name topics (/front/scan): letters, digits, _ and /,
// not starting with a digit or /.
bool topicToken(const std::string& id)
{
    if (id.empty() || id.front() == '/' || (id.front() >= '0' && id.front() <= '9'))
        return false;
    for (char c : id)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '/'))
            return false;
    return true;
}

// What several LiDARs need beyond one: their own ports, frame ids that name
// topics, and a file of each for .txt and .csv outputs.
QString checkDevices(const Options& options)
{
    for (int i = 0; i < options.ports.size(); ++i) {
        const std::string& id = options.devices[std::size_t(i)].frame_id;
        for (int j = 0; j < i; ++j) {
            if (canonicalPort(options.ports[j]) == canonicalPort(options.ports[i]))
                return QStringLiteral("--port %1 is the port of --port %2 again")
                    .arg(quotedValue(options.ports[i]), quotedValue(options.ports[j]));
            if (options.devices[std::size_t(j)].frame_id == id)
                return QStringLiteral("--port %1 needs a --frame-id of its own: %2 is taken by --port %3")
                    .arg(quotedValue(options.ports[i]), quotedValue(QString::fromStdString(id)),
                         quotedValue(options.ports[j]));
        }
        if (!topicToken(id))
            return QStringLiteral("--frame-id %1: with several LiDARs it names their topics: letters, digits, _ "
                                  "and / only, not starting with a digit or /")
                .arg(quotedValue(QString::fromStdString(id)));
    }
    for (const QString& output : options.outputs) {
        RecordingOutputs::Format format;
        RecordingOutputs::formatFor(output, format);
        const bool per_device = output.contains(QLatin1String(RecordingOutputs::kDeviceField));
        if (format != RecordingOutputs::Format::Mcap && !per_device)
            return QStringLiteral("--out %1: with several LiDARs a .txt or .csv name needs {device} (the frame id)")
                .arg(quotedValue(output));
        if (format == RecordingOutputs::Format::Mcap && per_device)
            return QStringLiteral("--out %1: one .mcap file holds every LiDAR; its name takes no {device}")
                .arg(quotedValue(output));
    }
    return QString();
}

} // namespace

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
    ScanOptions defaults;  // before the first --port
    ScanOptions recording; // --mcap-profile and --base-frame
    while ((code = getopt_long(argc, argv, "", long_options.data(), nullptr)) != -1) {
        // getopt gives '?' and ':' for what it does not take.
        if (code >= kScan && code < kScan + int(scan_names.size())) {
            const std::string& name = scan_names[std::size_t(code - kScan)];
            if (name == "mount" && options.ports.isEmpty())
                return usageError(QStringLiteral("--mount applies to the --port before it"));
            ScanOptions& target = forTheRecording(name) ? recording
                : options.ports.isEmpty()               ? defaults
                                                        : options.devices.back();
            std::string error;
            if (!parseScanOption(name, optarg, target, error))
                return usageError(QString::fromStdString(error));
            continue;
        }
        const QString value = optarg ? QString::fromLocal8Bit(optarg) : QString();
        char* end = nullptr;
        switch (code) {
        case kPort:
            if (options.ports.size() == kMaxPorts)
                return usageError(QStringLiteral("at most %1 --port").arg(kMaxPorts));
            options.ports.append(value);
            options.devices.push_back(defaults);
            break;
        case kReplay:
            options.replay = value;
            break;
        case kRounds:
            errno = 0;
            options.rounds = std::strtoll(optarg, &end, 10);
            if (errno != 0 || end == optarg || *end != '\0' || options.rounds < 1)
                return usageError(QStringLiteral("--rounds needs a positive count: %1").arg(quotedValue(value)));
            break;
        case kDuration:
            errno = 0;
            options.duration = std::strtod(optarg, &end);
            if (errno != 0 || end == optarg || *end != '\0' || !(options.duration > 0))
                return usageError(
                    QStringLiteral("--duration needs a positive number of seconds: %1").arg(quotedValue(value)));
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
                return usageError(
                    QStringLiteral("--max-clients needs a count from 1 to 100000: %1").arg(quotedValue(value)));
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
                return usageError(QStringLiteral("--reconnect-timeout needs a positive number of seconds: %1")
                                      .arg(quotedValue(value)));
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
    if (options.ports.isEmpty())
        options.devices = {defaults};
    for (ScanOptions& device : options.devices) {
        device.profile = recording.profile;
        device.base_frame = recording.base_frame;
    }
    if (options.ports.isEmpty() == options.replay.isEmpty())
        return usageError(QStringLiteral("give one source: --port PATH or --replay FILE"));
    const QString replay_suffix = QFileInfo(options.replay).suffix().toLower();
    if (!options.replay.isEmpty() && replay_suffix != QLatin1String("txt") && replay_suffix != QLatin1String("mcap"))
        return usageError(QStringLiteral("%1: --replay takes a .txt or an .mcap file").arg(options.replay));
    if (options.rounds > 0 && options.duration > 0)
        return usageError(QStringLiteral("give --rounds or --duration, not both"));
    if (options.realtime && options.replay.isEmpty())
        return usageError(QStringLiteral("--realtime applies to --replay only"));
    if (options.reconnect && options.ports.isEmpty())
        return usageError(QStringLiteral("--reconnect applies to --port only"));
    if (options.reconnect_timeout > 0 && !options.reconnect)
        return usageError(QStringLiteral("--reconnect-timeout needs --reconnect"));
    for (std::size_t i = 0; i < options.devices.size(); ++i) {
        std::string scan_error;
        if (!checkScanOptions(options.devices[i], scan_error))
            return usageError(options.devices.size() == 1
                                  ? QString::fromStdString(scan_error)
                                  : QStringLiteral("--port %1: %2")
                                        .arg(quotedValue(options.ports[int(i)]), QString::fromStdString(scan_error)));
    }
    for (const ScanOptions& device : options.devices)
        if (hasTransforms(options.devices) && device.frame_id == device.base_frame)
            return usageError(
                QStringLiteral("--frame-id %1 is the --base-frame: a LiDAR's frame needs a name of its own")
                    .arg(quotedValue(QString::fromStdString(device.frame_id))));
    if (options.ports.size() > 1) {
        const QString refused = checkDevices(options);
        if (!refused.isEmpty())
            return usageError(refused);
    }
    if (!options.ros2_namespace.isEmpty() && !options.ros2)
        return usageError(QStringLiteral("--ros2-namespace applies to --ros2 only"));
    if (options.outputs.isEmpty() && options.serve.isEmpty() && !options.ros2)
        return usageError(QStringLiteral("nothing to record to: give --out FILE, --serve [HOST:]PORT or --ros2"));
    QStringList files;
    for (const RecordingOutputs::Target& target : RecordingOutputs::targets(options.outputs, options.devices))
        files << target.path;
    const QString refused = OutputTargets::check(
        files, options.replay.isEmpty() ? options.ports : QStringList{options.replay}, options.overwrite);
    if (!refused.isEmpty())
        return usageError(refused);
    return -1;
}

} // namespace tx710
