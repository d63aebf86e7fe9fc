#include "app/copyright_dialog.h"

#include "ui_copyright_dialog.h"

CopyRightDialog::CopyRightDialog(QWidget* parent) : QDialog(parent), ui_(new Ui::CopyRightDialog)
{
    ui_->setupUi(this);
    connect(ui_->buttonBox, SIGNAL(accepted()), this, SLOT(accept()));
    connect(ui_->buttonBox, SIGNAL(rejected()), this, SLOT(reject()));
    setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);
    setObjectName(QStringLiteral("CopyRightDialog"));
}

CopyRightDialog::~CopyRightDialog()
{
    delete ui_;
}
