#include "app/main_window.h"

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent)
{
    resize(1000, 800);
    setWindowTitle(QStringLiteral("TX710Viewer"));
}
