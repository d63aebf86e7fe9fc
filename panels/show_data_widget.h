#pragma once

#include <QTimer>
#include <QWidget>

#include <optional>

#include "SerialPort/serial_data.h"

QT_BEGIN_NAMESPACE
namespace Ui {
class ShowDataWidget;
}
QT_END_NAMESPACE

// Read-out panel laid over the view's top-left corner: grid spacing, the
// picked point's angle, distance and intensity, rotating speed and spot
// frequency, and in a replay of several LiDARs the point's LiDAR.
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
    // A replay of several LiDARs: the LiDAR of the records shown next, in a
    // row of its own; empty hides the row.
    void setDevice(const QString& name);
    // Shows the newest record that arrived from the decoder, if any. The view
    // calls it when it schedules its repaint for a new round, so that panel
    // and scene are composed in one pass: without a GPU every composition of
    // the window costs as much as the scene itself.
    void showPendingData();
    // Whether the decoder's records reach the panel; not while the view
    // shows a held or replayed round, whose records it picks itself.
    void setDecoderRecordsShown(bool shown);

private:
    void initUI();

    Ui::ShowDataWidget* ui_;
    bool mouse_in_view_ = false;
    bool decoder_records_shown_ = true;
    QString device_;
    std::optional<ShowData> pending_data_;
    // Shows a pending record when no round comes to carry it.
    QTimer pending_timer_;
};
