#include "panels/show_data_widget.h"

#include <QMetaObject>
#include <QPointer>

#include <cmath>

#include "ui_show_data_widget.h"
#include "view/lidar_gl_function.h"

namespace {
const QString kNoValue = QStringLiteral("--");
// Longer than a round at the slowest usual rate, so a record normally goes
// out with the round's repaint.
constexpr int kPendingDataTimeoutMs = 250;
} // namespace

ShowDataWidget::ShowDataWidget(QWidget* parent) : QWidget(parent), ui_(new Ui::ShowDataWidget)
{
    ui_->setupUi(this);
    setDevice(QString());
    pending_timer_.setSingleShot(true);
    pending_timer_.setInterval(kPendingDataTimeoutMs);
    connect(&pending_timer_, &QTimer::timeout, this, &ShowDataWidget::showPendingData);
    initUI();
}

ShowDataWidget::~ShowDataWidget()
{
    delete ui_;
}

void ShowDataWidget::initUI()
{
    // The decoder outlives any panel; the guard keeps a record that arrives
    // after this panel is gone from reaching freed memory.
    QPointer<ShowDataWidget> panel(this);
    SerialData::instance()->setShowDataCallback([panel](ShowData data) {
        if (panel.isNull())
            return;
        QMetaObject::invokeMethod(
            panel.data(),
            [panel, data]() {
                if (panel.isNull() || !panel->decoder_records_shown_)
                    return;
                panel->pending_data_ = data;
                if (!panel->pending_timer_.isActive())
                    panel->pending_timer_.start();
            },
            Qt::AutoConnection);
    });
}

void ShowDataWidget::showPendingData()
{
    pending_timer_.stop();
    if (!pending_data_)
        return;
    const ShowData data = *pending_data_;
    pending_data_.reset();
    showData(data);
}

void ShowDataWidget::setDecoderRecordsShown(bool shown)
{
    decoder_records_shown_ = shown;
    if (!shown) {
        pending_timer_.stop();
        pending_data_.reset();
    }
}

void ShowDataWidget::setDevice(const QString& name)
{
    device_ = name;
    ui_->device_label->setVisible(!name.isEmpty());
    ui_->device_title_label->setVisible(!name.isEmpty());
}

void ShowDataWidget::setMouseInView(bool inside)
{
    mouse_in_view_ = inside;
}

void ShowDataWidget::setSpacing(float spacing)
{
    ui_->spacing_label->setText(QString::number(spacing, 'g', 6));
}

void ShowDataWidget::showData(const ShowData& data)
{
    const bool live = LidarGLFunction::instance()->playFlag() && mouse_in_view_;
    if (live) {
        ui_->angle_label->setText(QString::number(data.angle, 'f', 2) + QStringLiteral("°"));
        ui_->distance_label->setText(QString::number(data.distance, 'g', 6) + QStringLiteral("mm"));
        ui_->intensity_label->setText(QString::number(data.intensity, 'g', 6));
        ui_->device_label->setText(device_);
    } else {
        ui_->device_label->setText(kNoValue);
        ui_->angle_label->setText(kNoValue);
        ui_->distance_label->setText(kNoValue);
        ui_->intensity_label->setText(kNoValue);
        ui_->speed_label->setText(kNoValue);
    }
    // A recording without the turning speed has neither figure.
    ui_->spot_frequency_label->setText(data.spot_frequency < 0 ? kNoValue : QString::number(data.spot_frequency));
    ui_->speed_label->setText(std::isnan(data.speed) ? kNoValue
                                                     : QString::number(data.speed, 'g', 6) + QStringLiteral("RPM"));
}
