#pragma once

#include <QDialog>
#include <QStringList>
#include <QTimer>

#include <functional>

QT_BEGIN_NAMESPACE
namespace Ui {
class SerialDialog;
}
QT_END_NAMESPACE

// The first window: a port list refreshed every 500 ms and Ok/Cancel. On Ok
// it asks SerialLogic to open the chosen (or typed) port and reports the
// outcome through the callback; it never ends the application itself.
class SerialDialog : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kRefreshIntervalMs = 500;

    explicit SerialDialog(QWidget* parent = nullptr);
    ~SerialDialog() override;

    void setCallback(std::function<void(bool)> callback);

public slots:
    void okButtonClicked();
    void cancelButtonClicked();

private:
    void refreshPorts();

    Ui::SerialDialog* ui_;
    std::function<void(bool)> callback_;
    QTimer* refresh_timer_;
    QStringList port_names_;
};
