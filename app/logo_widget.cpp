#include "app/logo_widget.h"

#include "ui_logo_widget.h"

LogoWidget::LogoWidget(QWidget* parent) : QWidget(parent), ui_(new Ui::LogoWidget)
{
    ui_->setupUi(this);
    setObjectName(QStringLiteral("LogoWidget"));
}

LogoWidget::~LogoWidget()
{
    delete ui_;
}
