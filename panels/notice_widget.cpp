#include "panels/notice_widget.h"

NoticeWidget::NoticeWidget(QWidget* parent) : QLabel(parent)
{
    setObjectName(QStringLiteral("notice_widget"));
    setWordWrap(true);
    setMaximumWidth(560);
    setMargin(6);
    setTextInteractionFlags(Qt::TextSelectableByMouse); // the path can be copied
    setStyleSheet(QStringLiteral("background-color: rgba(0, 0, 0, 170); color: white;"));
    hide_timer_.setSingleShot(true);
    connect(&hide_timer_, &QTimer::timeout, this, &QWidget::hide);
    hide();
}

void NoticeWidget::showNotice(const QString& text, int duration_ms)
{
    setText(text);
    adjustSize();
    show();
    raise();
    hide_timer_.start(duration_ms);
}
