#pragma once

// Reads a recording for replay one whole round at a time, holding only that
// round (and for MCAP, the chunk it lies in): the viewer's text data files
// (every save in the file, rounds in order) and MCAP files (rounds in file
// order with their receive times). Told apart by their content, then by their
// extension. A round can be read again from where it was found.

#include <QString>

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

#include "recording/data_file.h"
#include "recording/input_stream.h"
#include "recording/mcap_reader.h"

namespace tx710::replay {

struct Round {
    std::vector<PointRecord> points;
    bool has_time = false;
    std::int64_t time_ns = 0;                                    // since the Unix epoch, when has_time
    double speed_rpm = std::numeric_limits<double>::quiet_NaN(); // NaN: not recorded
    int device = 0;                                              // the index in RoundStream::devices()
};

// Where a round lies in its file: a text round's first line, or its message.
struct RoundPlace {
    std::int64_t position = 0;
    std::uint32_t inner = mcap::MessagePlace::kTopLevel;
};

class RoundStream
{
public:
    RoundStream();
    ~RoundStream();

    // False with the reason in `error` when the file cannot be opened or is
    // empty. A wait for data (a FIFO) asks `cancelled` every 100 ms.
    bool open(const QString& path, QString& error, const std::function<bool()>& cancelled = {});
    // The same for bytes already read; `name` only decides the format when
    // the content does not (a ".mcap" name without MCAP content is refused).
    bool openBytes(const QByteArray& bytes, const QString& name, QString& error);

    bool isMcap() const { return mcap_ != nullptr; }
    // The devices of a recording of several, as found so far (empty for one
    // LiDAR without transforms, and for text files).
    std::vector<mcap::DevicePlacement> devices() const
    {
        return mcap_ ? mcap_->devices : std::vector<mcap::DevicePlacement>();
    }
    QString baseFrame() const { return mcap_ ? mcap_->base_frame : QString(); }
    // MCAP rounds found by next() without their points, their log time as
    // their receive time; readAt() decodes them.
    void findRoundsOnly() { mcap_->decode_rounds = false; }
    bool seekable() const { return input_.seekable(); }

    enum class Item { Round, End, Failed };
    // The next whole round in file order and where it lies; End after the
    // last; Failed with the reason (a text file's line and what is wrong
    // with it) in `error`. MCAP speeds found on the way go to `speeds`; a
    // round turns at the speed of its device's latest status before it in the file.
    Item next(Round& round, RoundPlace& place, QString& error, std::vector<mcap::Contents::Speed>* speeds = nullptr);
    // The round at `place` again (a place next() gave); false with the
    // reason when the file changed since.
    bool readAt(const RoundPlace& place, Round& round, QString& error);

private:
    bool start(const QString& name, QString& error);
    Item nextText(Round& round, RoundPlace& place, QString& error);

    inputfile::InputStream input_;
    std::unique_ptr<mcap::StreamReader> mcap_;
    static constexpr double kNoSpeed = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> speeds_rpm_; // of each device's latest status in file order
    // Text: the save and the line being read, and a point line read ahead
    // that begins the next round.
    int save_ = 0;
    int line_number_ = 0;
    std::int64_t first_header_ = -1;
    bool pending_ = false;
    int pending_number_ = 0;
    int pending_save_ = 0;
    PointRecord pending_point_;
    std::int64_t pending_position_ = 0;
};

} // namespace tx710::replay
