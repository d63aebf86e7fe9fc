#include <QApplication>

#include <vector>

#include "app/gl_check.h"
#include "app/startup.h"

int main(int argc, char* argv[])
{
    // QApplication takes its own options out of argv; a restart needs them all.
    std::vector<char*> arguments(argv, argv + argc + 1);
    QApplication app(argc, argv);
    tx710::ensureUsableGl(arguments.data());
    tx710::StartupSession session;
    return app.exec();
}
