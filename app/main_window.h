#pragma once

#include <QMainWindow>

// Placeholder main window: replaced by the full window with view and tool bar.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
};
