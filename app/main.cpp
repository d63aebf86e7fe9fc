#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QMessageBox>

#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

#include "SerialPort/serial_logic.h"
#include "app/app_settings.h"
#include "app/gl_check.h"
#include "app/log.h"
#include "app/startup.h"
#include "app/unix_signal_watcher.h"
#include "recording/scan_options.h"
#include "ros2/ros2_sink.h"
#include "streaming/foxglove_server.h"
#include "streaming/live_feed.h"

namespace {

// The options Qt's own application classes take out of the command line
// (QGuiApplication, QApplication, X11); true when one takes a value.
const std::pair<const char*, bool> kQtOptions[] = {{"platform", true},        {"platformpluginpath", true},
                                                   {"platformtheme", true},   {"plugin", true},
                                                   {"qwindowgeometry", true}, {"qwindowicon", true},
                                                   {"qwindowtitle", true},    {"session", true},
                                                   {"style", true},           {"stylesheet", true},
                                                   {"display", true},         {"geometry", true},
                                                   {"qmljsdebugger", false},  {"reverse", false},
                                                   {"widgetcount", false},    {"nograb", false},
                                                   {"dograb", false},         {"sync", false}};

// The arguments as our parser sees them once Qt has taken its own options.
QStringList withoutQtOptions(int argc, char** argv)
{
    QStringList kept;
    for (int i = 0; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        QString name = argument.startsWith(QLatin1String("--")) ? argument.mid(2) : argument.mid(1);
        const bool inline_value = name.contains(QLatin1Char('='));
        name = name.section(QLatin1Char('='), 0, 0);
        bool qt_option = false;
        for (const auto& [qt_name, takes_value] : kQtOptions) {
            if (i > 0 && argument.startsWith(QLatin1Char('-')) && name == QLatin1String(qt_name)) {
                qt_option = true;
                i += takes_value && !inline_value ? 1 : 0;
            }
        }
        if (!qt_option)
            kept << argument;
    }
    return kept;
}

struct Options {
    QCommandLineParser parser;
    const QCommandLineOption port{QStringLiteral("port"),
                                  QStringLiteral("Open the serial port PATH at once, without the port dialog."),
                                  QStringLiteral("PATH")};
    const QCommandLineOption serve{
        QStringLiteral("serve"),
        QStringLiteral("Serve the rounds live to Foxglove (WebSocket) on [HOST:]PORT; host 127.0.0.1 unless given."),
        QStringLiteral("[HOST:]PORT")};
    const QCommandLineOption max_clients{QStringLiteral("max-clients"),
                                         QStringLiteral("With --serve: refuse clients beyond N at once (default %1).")
                                             .arg(tx710::FoxgloveServer::kDefaultMaxClients),
                                         QStringLiteral("N")};
    const QCommandLineOption replay{
        QStringLiteral("replay"),
        QStringLiteral("Show the recording FILE (.txt or .mcap) at once, without the port dialog; --port is then "
                       "not used."),
        QStringLiteral("FILE")};
    const QCommandLineOption reconnect{
        QStringLiteral("reconnect"),
        QStringLiteral("When the link is lost, wait for the device and go on instead of ending (also a remembered "
                       "setting, the tool bar's Reconnect).")};
    const QCommandLineOption ros2{
        QStringLiteral("ros2"), QStringLiteral("Publish /scan, /tx710/points and /diagnostics on DDS as ROS 2 does.")};
    const QCommandLineOption ros2_namespace{QStringLiteral("ros2-namespace"),
                                            QStringLiteral("Put the --ros2 topics under /NS."), QStringLiteral("NS")};
    // The live stream's profile and scan shape, as tx710-record takes them.
    std::vector<QCommandLineOption> scan_options;
    int max_client_count = tx710::FoxgloveServer::kDefaultMaxClients;
    tx710::ScanOptions scan;

    Options()
    {
        parser.setApplicationDescription(QStringLiteral("Shows live what a TX710 LiDAR sees."));
        parser.addHelpOption();
        parser.addVersionOption();
        parser.addOptions({port, serve, max_clients, replay, reconnect, ros2, ros2_namespace});
        for (const std::string& name : tx710::scanOptionNames()) {
            scan_options.emplace_back(QString::fromStdString(name),
                                      QStringLiteral("With --serve or --ros2: see tx710-record --help."),
                                      tx710::scanOptionTakesValue(name) ? QStringLiteral("VALUE") : QString());
            parser.addOption(scan_options.back());
        }
    }

    // The scan options' first malformed value, as tx710-record words it.
    QString scanError()
    {
        std::string error;
        for (const QCommandLineOption& option : scan_options) {
            const std::string name = option.names().constFirst().toStdString();
            const QStringList values = option.valueName().isEmpty()
                ? (parser.isSet(option) ? QStringList{QString()} : QStringList())
                : parser.values(option);
            for (const QString& value : values) {
                const QByteArray bytes = value.toLocal8Bit();
                if (error.empty())
                    tx710::parseScanOption(name, bytes.constData(), scan, error);
            }
        }
        if (error.empty())
            tx710::checkScanOptions(scan, error);
        return QString::fromStdString(error);
    }

    // Before any window, so that it works without a display too: --help and
    // --version print and end with 0; a command line the program does not
    // take ends with the reason, the usage and 2. Returns -1 to go on.
    int parse(int argc, char** argv)
    {
        const QCoreApplication console(argc, argv);
        QCoreApplication::setApplicationName(QString::fromLatin1(tx710::kApplicationName));
        QCoreApplication::setApplicationVersion(QStringLiteral(TX710_VERSION));
        QString error;
        if (!parser.parse(withoutQtOptions(argc, argv))) {
            error = parser.errorText();
        } else if (parser.isSet(QStringLiteral("help"))) {
            parser.showHelp(0);
        } else if (parser.isSet(QStringLiteral("version"))) {
            parser.showVersion();
        } else if (!parser.positionalArguments().isEmpty()) {
            error = QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().first().left(40));
        } else if (parser.isSet(max_clients)) {
            bool ok = false;
            max_client_count = parser.value(max_clients).toInt(&ok);
            if (!ok || max_client_count < 1 || max_client_count > 100000)
                error = QStringLiteral("--max-clients needs a count from 1 to 100000: '%1'.")
                            .arg(parser.value(max_clients).left(40));
        }
        if (error.isEmpty())
            error = scanError();
        if (error.isEmpty())
            return -1;
        std::fprintf(stderr, "%s\n\n%s", qUtf8Printable(error), qUtf8Printable(parser.helpText()));
        return 2;
    }
};

} // namespace

int main(int argc, char* argv[])
{
    // QApplication takes its own options out of argv; a restart needs them all.
    std::vector<char*> arguments(argv, argv + argc + 1);
    Options options;
    if (const int exit_code = options.parse(argc, argv); exit_code >= 0)
        return exit_code;
    QCommandLineParser& parser = options.parser;

    QApplication app(argc, argv);
    tx710::setApplicationIdentity(); // before the first window: it names the window's class
    QCoreApplication::setApplicationVersion(QStringLiteral(TX710_VERSION));

    tx710::ensureUsableGl(arguments.data());
    SerialLogic::instance()->setReconnect(parser.isSet(options.reconnect)
                                          || tx710::setting(tx710::kReconnectKey, false).toBool());

    // The live stream runs beside the window; a server that cannot listen is
    // reported and the viewer goes on without it.
    tx710::FoxgloveServer server;
    server.setMaxClients(options.max_client_count);
    server.setDevices({options.scan});
    tx710::LiveFeed feed;
    if (parser.isSet(options.serve)) {
        QString error;
        if (server.listen(parser.value(options.serve), &error)) {
            TX_LOG << "serving on" << QStringLiteral("ws://%1:%2").arg(server.serverAddress()).arg(server.serverPort());
            QObject::connect(&feed, &tx710::LiveFeed::roundReady, &server, &tx710::FoxgloveServer::publishRound);
            QObject::connect(&feed, &tx710::LiveFeed::statusReady, &server, &tx710::FoxgloveServer::publishStatus);
            feed.start();
        } else {
            TX_LOG << "--serve" << parser.value(options.serve) << "failed:" << error;
            std::fprintf(stderr, "TX710Viewer: --serve %s: %s\n", qUtf8Printable(parser.value(options.serve)),
                         qUtf8Printable(error));
        }
    }

    // Publishing on DDS runs beside the window too; when DDS cannot start, a
    // box says why and the viewer goes on without it.
    tx710::Ros2Sink ros2({options.scan});
    if (parser.isSet(options.ros2)) {
        if (ros2.start(parser.value(options.ros2_namespace))) {
            TX_LOG << "publishing on DDS (--ros2)";
            QObject::connect(&feed, &tx710::LiveFeed::roundReady, &app,
                             [&ros2](const ScanRound& round) { ros2.publishRound(round); });
            QObject::connect(&feed, &tx710::LiveFeed::statusReady, &app,
                             [&ros2](const tx710::status::Sample& sample) { ros2.publishStatus(sample); });
            feed.start(); // already running for --serve: the rounds come all the same
        } else {
            TX_LOG << "--ros2 failed:" << ros2.errorString();
            std::fprintf(stderr, "TX710Viewer: %s\n", qUtf8Printable(ros2.errorString()));
            auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("ROS 2 publishing"),
                                        ros2.errorString() + QStringLiteral("\nThe viewer goes on without it."));
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->setModal(false);
            box->show();
        }
    }

    // Before the session, so that a signal during the port's detection wait
    // is not fatal.
    tx710::UnixSignalWatcher watcher({SIGINT, SIGTERM, SIGHUP});
    std::unique_ptr<tx710::StartupSession> session = parser.isSet(options.replay)
        ? tx710::StartupSession::forRecording(parser.value(options.replay))
        : parser.isSet(options.port) ? std::make_unique<tx710::StartupSession>(parser.value(options.port))
                                     : std::make_unique<tx710::StartupSession>();
    QObject::connect(&watcher, &tx710::UnixSignalWatcher::unixSignal, &app,
                     [&session](int signal_number) { session->quitForSignal(signal_number); });
    return app.exec();
}
