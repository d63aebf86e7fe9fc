#include <QApplication>

#include "app/startup.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    tx710::StartupSession session;
    return app.exec();
}
