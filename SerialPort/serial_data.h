#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVector3D>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "SerialPort/frame_finder.h"
#include "SerialPort/rejection_log_budget.h"
#include "SerialPort/round_saver.h"
#include "recording/data_file.h"

// The read-out record handed to the read-out panel for a picked point.
struct ShowData {
    float angle = 0;    // degrees
    float distance = 0; // mm
    float intensity = 0;
    float speed = 0;                 // RPM (speed field / 6)
    std::int32_t spot_frequency = 0; // points per second
    float reserved[5] = {0, 0, 0, 0, 0};
};

struct HoverPoint {
    float x = 0;
    float y = 0;
};

// The decoder: frame finding, point decoding, round assembly, the hover pick,
// spot frequency, and the saves of recorded rounds (through a RoundSaver).
// The viewer has one, instance(); a recorder of several LiDARs makes one per
// device with create(). All decoding runs on the GUI thread.
class SerialData : public QObject, private tx710::FrameConsumer
{
    Q_OBJECT
public:
    static SerialData* instance();
    // A decoder of its own, beside the process-wide one.
    static std::unique_ptr<SerialData> create();
    // Waits for a data writer still running.
    ~SerialData() override;

    // Frame finder: one call per read from the port.
    void findFrame(QByteArray bytes);
    // Decodes one CRC-checked 47-byte frame.
    void parseFrame(const QByteArray& frame);

    bool colorFlag() const { return color_flag_; }
    void setHoverAngle(float angle) { hover_angle_ = angle; }
    float hoverAngle() const { return hover_angle_; }
    HoverPoint hoverPoint() const { return hover_point_; }

    void setRoundCallback(std::function<void()> callback) { round_callback_ = std::move(callback); }
    void setShowDataCallback(std::function<void(ShowData)> callback) { show_data_callback_ = std::move(callback); }
    // The data writer reports through it from its own thread.
    void setSaveProgressCallback(std::function<void(bool, int)> callback)
    {
        saver_.setProgressCallback(std::move(callback));
    }

    // Recording.
    void startSaveData();
    void stopSaveData();
    // True from the start of a data writer until just before its final report.
    bool saveRunning() const { return saver_.running(); }
    // Complete once saveRunning() is false or the final report has come.
    SaveOutcome lastSaveOutcome() const;

    // Every recorded round, without the save's 100-round limit and without
    // the data writer: from the next round end on, each revolution is handed
    // to `sink` (on the decoding thread) where a save would queue it. Rounds
    // without points are skipped, as a save skips them. Independent of
    // saves, which may run at the same time. False while another stream runs.
    using RoundSink = std::function<void(std::vector<PointRecord>)>;
    bool startRoundStream(RoundSink sink);
    // Ends the stream; the revolution under way is dropped.
    void stopRoundStream();

    // The line was lost: the frame and the revolution under way are dropped,
    // so that rounds go on with the next whole one. A stream's revolution
    // whose last frame came is whole and handed on; after the loss, a frame
    // that begins a revolution starts the stream's next round. The last complete round
    // stays on display; a save's round under way is dropped too (end the
    // save first).
    void dropRoundInProgress();

    // Frames found by the frame finder since start-up.
    std::uint64_t acceptedFrameCount() const { return finder_.acceptedCount(); }
    std::uint64_t rejectedFrameCount() const { return finder_.rejectedCount(); }
    // The last frame's turning speed, revolutions per minute.
    double lastSpeedRpm() const { return last_speed_ / 6.0; }
    // How far the revolution under way has to turn after the last point
    // decoded, degrees; 0 once its last frame came.
    double degreesToTurnEnd() const { return last_frame_ends_turn_ ? 0 : std::max(0.0f, 360.0f - last_end_angle_); }
    // Points per second, averaged over the last ten rounds (as the read-out shows it).
    std::int32_t spotFrequency() const { return spot_frequency_; }

    // Positions and colours of the last complete round (GUI thread only).
    std::vector<QVector3D> display_points_;
    std::vector<QVector3D> display_colors_;
    // What each of display_points_ is: its angle, distance and intensity.
    const std::vector<PointRecord>& displayRecords() const { return display_records_; }

public slots:
    void setColorFlag(bool flag) { color_flag_ = flag; }

private:
    SerialData();

    friend class SerialDataTestAccess;
    QString data_directory_override_; // set only through the test seam

    // Where a save writes: its path and folder note, or why there is none.
    SaveOutcome createSaveFile();

    // Decodes a frame already known to be 47 bytes with a correct CRC, in
    // these steps: angles, the round boundary, recording, position, the hover
    // pick and colour, and at a round end the publication.
    void decodeFrame(const std::uint8_t* frame);
    void recordPoint(tx710::ScanPoint point, float angle);
    void pickPoint(tx710::ScanPoint point, float angle, const QVector3D& position, int speed);
    void addDisplayPoint(bool next_round, const QVector3D& position, const QVector3D& colour,
                         const PointRecord& record);
    void publishRound(int speed);
    // Called where one revolution ends and the next begins (0-degree crossing).
    void recordRoundBoundary();
    void streamRoundBoundary();
    void updateSpotFrequency(int speed);

    // Frame finder.
    void frameAccepted(const std::uint8_t* frame) override;
    void frameRejected(const std::uint8_t* frame, const std::uint8_t* kept, std::size_t kept_length) override;
    tx710::FrameFinder finder_{this};
    tx710::RejectionLogBudget rejection_log_budget_;
    QByteArray last_frame_;

    // Scan assembly (GUI thread).
    std::vector<QVector3D> round_points_;
    std::vector<QVector3D> round_colors_;
    std::vector<QVector3D> next_points_;
    std::vector<QVector3D> next_colors_;
    std::vector<PointRecord> round_records_;
    std::vector<PointRecord> next_records_;
    std::vector<PointRecord> display_records_;
    float last_start_angle_ = 0;
    bool last_frame_wrapped_ = false;
    bool last_frame_ends_turn_ = false; // its next point would lie past 360 degrees
    float last_end_angle_ = 0;          // of its last point
    bool resuming_ = false;             // the first frame after a lost line is to come
    float hover_angle_ = -1.0f;
    HoverPoint hover_point_;
    bool color_flag_ = false;
    int last_speed_ = 0; // the speed field of the last frame

    // Spot frequency: 64-bit so that a long wait for a round end cannot overflow.
    std::int64_t spot_counter_ = 0;
    std::int32_t spot_frequency_ = 4500;
    std::vector<float> frequency_ring_ = std::vector<float>(10, 4500.0f);
    int ring_index_ = 0;

    std::function<void()> round_callback_;
    std::function<void(ShowData)> show_data_callback_;

    // The round stream, beside any save (decoding thread).
    RoundSink round_sink_;
    bool stream_started_ = false; // past the stream's first revolution boundary
    std::vector<PointRecord> stream_record_;
    // Saves: collected on the GUI thread, written by the data writer. Last: its
    // writer ends before the other members go.
    RoundSaver saver_;
};
