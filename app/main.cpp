#include <QApplication>
#include <QCommandLineParser>

#include <csignal>
#include <cstdio>
#include <memory>

#include <vector>

#include "app/gl_check.h"
#include "app/startup.h"
#include "app/unix_signal_watcher.h"

int main(int argc, char* argv[])
{
    // QApplication takes its own options out of argv; a restart needs them all.
    std::vector<char*> arguments(argv, argv + argc + 1);
    QApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(TX710_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Shows live what a TX710 LiDAR sees."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption port_option(QStringLiteral("port"),
                                         QStringLiteral("Open the serial port PATH at once, without the port dialog."),
                                         QStringLiteral("PATH"));
    parser.addOption(port_option);
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "%s\n\n%s", qUtf8Printable(parser.errorText()), qUtf8Printable(parser.helpText()));
        return 0; // the program ends with 0 on every way out
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();

    tx710::ensureUsableGl(arguments.data());

    // Before the session, so that a signal during the port's detection wait
    // is not fatal.
    tx710::UnixSignalWatcher watcher({SIGINT, SIGTERM, SIGHUP});
    std::unique_ptr<tx710::StartupSession> session = parser.isSet(port_option)
        ? std::make_unique<tx710::StartupSession>(parser.value(port_option))
        : std::make_unique<tx710::StartupSession>();
    QObject::connect(&watcher, &tx710::UnixSignalWatcher::unixSignal, &app,
                     [&session](int signal_number) { session->quitForSignal(signal_number); });
    return app.exec();
}
