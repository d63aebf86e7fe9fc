// tx710-record: records the LiDAR without a display. It reads the port the
// way the viewer does (the same link, frame finder and decoder, so the same
// rounds a save would record) or replays a recording, and writes every round
// to the files given with --out, chosen by extension.

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

#include "app/unix_signal_watcher.h"
#include "recording/output_targets.h"
#include "recording/recording_outputs.h"
#include "ros2/ros2_sink.h"
#include "streaming/foxglove_server.h"
#include "tools/record_options.h"
#include "tools/recorder.h"

using namespace tx710;

namespace {

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
    Ros2Sink ros2_sink(options.devices);
    if (options.ros2 && !ros2_sink.start(options.ros2_namespace)) {
        std::fprintf(stderr, "tx710-record: %s\n", qUtf8Printable(ros2_sink.errorString()));
        return 1;
    }
    RecordingOutputs outputs;
    outputs.setDevices(options.devices);
    outputs.open(options.outputs, OutputTargets::openMode(options.overwrite));

    Recorder recorder(options, outputs);
    FoxgloveServer server;
    server.setMaxClients(int(options.max_clients));
    server.setDevices(options.devices);
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
