#pragma once

#include <QWidget>

#include "SerialPort/serial_data.h"

QT_BEGIN_NAMESPACE
namespace Ui {
class ShowDataWidget;
}
QT_END_NAMESPACE

// Read-out panel laid over the view's top-left corner: grid spacing, the
// picked point's angle, distance and intensity, rotating speed and spot
// frequency.
class ShowDataWidget : public QWidget
{
    Q_OBJECT
public:
    explicit ShowDataWidget(QWidget* parent = nullptr);
    ~ShowDataWidget() override;

    void setMouseInView(bool inside);
    void setSpacing(float spacing);

    // Shows one record; point values only while playing with the mouse in the view.
    void showData(const ShowData& data);

private:
    void initUI();

    Ui::ShowDataWidget* ui_;
    bool mouse_in_view_ = false;
};
