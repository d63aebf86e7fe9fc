#pragma once

// Reads back what the MCAP writer writes: the rounds in log-time order (the
// /scan point clouds of the Foxglove profile, /tx710/points of the ROS 2
// one), for replay. Reads the file front to back, so a recording cut short (no
// summary, a torn last record) still gives every whole chunk before the cut.
// Malformed input gives an error, never a read outside the bytes.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

#include "recording/input_stream.h"
#include "recording/scan_round.h"

namespace tx710::mcap {

// What a recording may hold: more devices or longer frame ids are refused.
constexpr std::size_t kMaxDevices = 16;
constexpr int kMaxFrameIdChars = 64;

// A LiDAR of a recording of several (or of one with a mount): its frame, and
// where /tf_static places it in the base frame.
struct DevicePlacement {
    QString frame_id;
    bool placed = false; // a transform to it was found
    double x = 0;        // metres in the base frame
    double y = 0;
    double z = 0;
    double yaw_deg = 0; // counter-clockwise
};

struct Contents {
    // number = the message's sequence; speed_rpm from the statuses; device =
    // the index in `devices` (0 in a one-device recording)
    std::vector<ScanRound> rounds;
    // Empty for a recording of one LiDAR without transforms.
    std::vector<DevicePlacement> devices;
    QString base_frame;
    std::size_t status_messages = 0;
    // The turning speed each /tx710/status message gives, in log-time order;
    // a status without a readable positive rpm is left out.
    struct Speed {
        std::int64_t time_ns = 0;
        double rpm = 0;
        int device = 0; // whose status it is (the index in `devices`)
    };
    std::vector<Speed> speeds;
    // False when the file stops before its footer and closing magic.
    bool complete = false;
};

// Where a round's message lies in the file, to read it again: the record at
// byte `record`, and when that is a chunk, the message at `inner` in its
// uncompressed records.
struct MessagePlace {
    static constexpr std::uint32_t kTopLevel = 0xFFFFFFFFu;
    std::int64_t record = 0;
    std::uint32_t inner = kTopLevel;
};

// Reads the file front to back one message at a time, holding at most one
// chunk: the rounds in file order (not sorted), the speeds as they come.
class StreamReader
{
public:
    explicit StreamReader(inputfile::InputStream& input);
    ~StreamReader();

    enum class Item { Round, Speed, End, Failed };
    // The next round (in `round`, found at `place`) or speed (in `speed`);
    // End after the last, Failed with the reason in `error`.
    Item next();
    ScanRound round;
    MessagePlace place;
    Contents::Speed speed;
    std::size_t status_messages = 0;
    // The devices and base frame found so far (see Contents).
    std::vector<DevicePlacement> devices;
    QString base_frame;
    // False: a round is only found (its number, its log time as its receive
    // time, no points), which is many times faster; readRound() decodes it.
    bool decode_rounds = true;
    bool complete = false; // at End: the file has its footer and closing magic
    QString error;

    // Reads the round at `place` again (a place next() gave for this input).
    bool readRound(const MessagePlace& at, ScanRound& out, QString& reason);

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

// The speeds of a recording's statuses by device, asked for in time order:
// at(device, t) is the rpm of that device's latest status at or before t (its
// first status before any), 0 for a device without one.
class SpeedsByDevice
{
public:
    // `speeds` in time order.
    explicit SpeedsByDevice(const std::vector<Contents::Speed>& speeds);
    double at(int device, std::int64_t time_ns);

private:
    std::vector<std::vector<Contents::Speed>> devices_;
    std::vector<std::size_t> next_;
};

bool parse(const QByteArray& bytes, Contents& contents, QString& error);
bool readFile(const QString& path, Contents& contents, QString& error);

} // namespace tx710::mcap
