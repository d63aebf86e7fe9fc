#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVector3D>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "SerialPort/frame_finder.h"

// The read-out record handed to the read-out panel for a picked point.
struct ShowData {
    float angle = 0;          // degrees
    float distance = 0;       // mm
    float intensity = 0;
    float speed = 0;          // RPM (speed field / 6)
    std::int32_t spot_frequency = 0; // points per second
    float reserved[5] = {0, 0, 0, 0, 0};
};

// One raw point as recorded for the data files.
struct PointRecord {
    float intensity = 0;
    float distance = 0; // mm
    float angle = 0;    // degrees, 0..360
};

struct HoverPoint {
    float x = 0;
    float y = 0;
};

// The decoder: frame finding, point decoding, round assembly, the hover pick,
// spot frequency, and the collection and writing of recorded rounds.
// One instance per process; all decoding runs on the GUI thread.
class SerialData : public QObject
{
    Q_OBJECT
public:
    static SerialData* instance();

    // Frame finder: one call per read from the port.
    void findFrame(QByteArray bytes);
    // Decodes one CRC-checked 47-byte frame.
    void parseFrame(const QByteArray& frame);

    void setHoverAngle(float angle) { hover_angle_ = angle; }
    HoverPoint hoverPoint() const { return hover_point_; }

    void setRoundCallback(std::function<void()> callback) { round_callback_ = std::move(callback); }
    void setShowDataCallback(std::function<void(ShowData)> callback) { show_data_callback_ = std::move(callback); }
    void setSaveProgressCallback(std::function<void(bool, int)> callback) { save_progress_callback_ = std::move(callback); }

    // Recording.
    void startSaveData();
    void stopSaveData();

    // Positions and colours of the last complete round (GUI thread only).
    std::vector<QVector3D> display_points_;
    std::vector<QVector3D> display_colors_;

public slots:
    void setColorFlag(bool flag) { color_flag_ = flag; }

protected:
    SerialData();

    // Decoder state and the recording members live below. Tests derive from
    // this class to get a fresh decoder per case and read the state directly.
    // (Private section to be completed with the decoding and recording state.)
};
