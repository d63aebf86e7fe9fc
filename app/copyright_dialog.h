#pragma once

#include <QDialog>

QT_BEGIN_NAMESPACE
namespace Ui {
class CopyRightDialog;
}
QT_END_NAMESPACE

// The about box: software version and copyright notice.
class CopyRightDialog : public QDialog
{
    Q_OBJECT
public:
    explicit CopyRightDialog(QWidget* parent = nullptr);
    ~CopyRightDialog() override;

private:
    Ui::CopyRightDialog* ui_;
};
