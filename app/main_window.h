#pragma once

#include <QMainWindow>
#include <QString>

#include <memory>

class LidarToolBar;

namespace Ui {
class MainWindow;
}

// The program's only main window: the point-cloud view as the whole central
// area and the tool bar on top. It also takes the screenshots of the view.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Saves what the screen shows over the view as a PNG in Screenshots/
    // beside the executable.
    void saveScreenshot();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    Ui::MainWindow* ui_ = nullptr;
    std::shared_ptr<LidarToolBar> tool_bar_;
};
