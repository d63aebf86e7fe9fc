#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>

#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

#include "app/app_settings.h"
#include "app/gl_check.h"
#include "app/log.h"
#include "app/startup.h"
#include "app/unix_signal_watcher.h"
#include "recording/scan_options.h"
#include "ros2/ros2_sink.h"
#include "streaming/foxglove_server.h"
#include "streaming/live_feed.h"

int main(int argc, char* argv[])
{
    // QApplication takes its own options out of argv; a restart needs them all.
    std::vector<char*> arguments(argv, argv + argc + 1);
    QApplication app(argc, argv);
    tx710::setApplicationIdentity(); // before the first window: it names the window's class
    QCoreApplication::setApplicationVersion(QStringLiteral(TX710_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Shows live what a TX710 LiDAR sees."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption port_option(QStringLiteral("port"),
                                         QStringLiteral("Open the serial port PATH at once, without the port dialog."),
                                         QStringLiteral("PATH"));
    parser.addOption(port_option);
    const QCommandLineOption serve_option(
        QStringLiteral("serve"),
        QStringLiteral("Serve the rounds live to Foxglove (WebSocket) on [HOST:]PORT; host 127.0.0.1 unless given."),
        QStringLiteral("[HOST:]PORT"));
    parser.addOption(serve_option);
    const QCommandLineOption replay_option(
        QStringLiteral("replay"),
        QStringLiteral("Show the recording FILE (.txt or .mcap) at once, without the port dialog; --port is then "
                       "not used."),
        QStringLiteral("FILE"));
    parser.addOption(replay_option);
    const QCommandLineOption ros2_option(
        QStringLiteral("ros2"), QStringLiteral("Publish /scan, /tx710/points and /diagnostics on DDS as ROS 2 does."));
    parser.addOption(ros2_option);
    const QCommandLineOption ros2_namespace_option(
        QStringLiteral("ros2-namespace"), QStringLiteral("Put the --ros2 topics under /NS."), QStringLiteral("NS"));
    parser.addOption(ros2_namespace_option);
    // The live stream's profile and scan shape, as tx710-record takes them.
    std::vector<QCommandLineOption> scan_options;
    for (const std::string& name : tx710::scanOptionNames()) {
        scan_options.emplace_back(QString::fromStdString(name),
                                  QStringLiteral("With --serve or --ros2: see tx710-record --help."),
                                  tx710::scanOptionTakesValue(name) ? QStringLiteral("VALUE") : QString());
        parser.addOption(scan_options.back());
    }
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "%s\n\n%s", qUtf8Printable(parser.errorText()), qUtf8Printable(parser.helpText()));
        return 0; // the program ends with 0 on every way out
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();

    tx710::ScanOptions scan;
    std::string scan_error;
    for (const QCommandLineOption& option : scan_options) {
        const std::string name = option.names().constFirst().toStdString();
        const QStringList values = option.valueName().isEmpty()
            ? (parser.isSet(option) ? QStringList{QString()} : QStringList())
            : parser.values(option);
        for (const QString& value : values) {
            const QByteArray bytes = value.toLocal8Bit();
            if (scan_error.empty())
                tx710::parseScanOption(name, bytes.constData(), scan, scan_error);
        }
    }
    if (!scan_error.empty() || !tx710::checkScanOptions(scan, scan_error)) {
        std::fprintf(stderr, "TX710Viewer: %s\n\n%s", scan_error.c_str(), qUtf8Printable(parser.helpText()));
        return 2; // a usage error, as tx710-record gives it
    }

    tx710::ensureUsableGl(arguments.data());

    // The live stream runs beside the window; a server that cannot listen is
    // reported and the viewer goes on without it.
    tx710::FoxgloveServer server;
    server.setScanOptions(scan);
    tx710::LiveFeed feed;
    if (parser.isSet(serve_option)) {
        QString error;
        if (server.listen(parser.value(serve_option), &error)) {
            TX_LOG << "serving on" << QStringLiteral("ws://%1:%2").arg(server.serverAddress()).arg(server.serverPort());
            QObject::connect(&feed, &tx710::LiveFeed::roundReady, &server, &tx710::FoxgloveServer::publishRound);
            QObject::connect(&feed, &tx710::LiveFeed::statusReady, &server, &tx710::FoxgloveServer::publishStatus);
            feed.start();
        } else {
            TX_LOG << "--serve" << parser.value(serve_option) << "failed:" << error;
            std::fprintf(stderr, "TX710Viewer: --serve %s: %s\n", qUtf8Printable(parser.value(serve_option)),
                         qUtf8Printable(error));
        }
    }

    // Publishing on DDS runs beside the window too; when DDS cannot start, a
    // box says why and the viewer goes on without it.
    tx710::Ros2Sink ros2(scan);
    if (parser.isSet(ros2_option)) {
        if (ros2.start(parser.value(ros2_namespace_option))) {
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
    std::unique_ptr<tx710::StartupSession> session = parser.isSet(replay_option)
        ? tx710::StartupSession::forRecording(parser.value(replay_option))
        : parser.isSet(port_option) ? std::make_unique<tx710::StartupSession>(parser.value(port_option))
                                    : std::make_unique<tx710::StartupSession>();
    QObject::connect(&watcher, &tx710::UnixSignalWatcher::unixSignal, &app,
                     [&session](int signal_number) { session->quitForSignal(signal_number); });
    return app.exec();
}
