#pragma once

#include <QWidget>

QT_BEGIN_NAMESPACE
namespace Ui {
class LogoWidget;
}
QT_END_NAMESPACE

// The logo strip laid over the view.
class LogoWidget : public QWidget
{
    Q_OBJECT
public:
    explicit LogoWidget(QWidget* parent = nullptr);
    ~LogoWidget() override;

private:
    Ui::LogoWidget* ui_;
};
