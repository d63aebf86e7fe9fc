#pragma once

// The records of an MCAP file read front to back a piece at a time: the
// magic and header checked, chunks opened into their records, the data
// section's checksum and the closing magic seen, and a recording cut short
// ended at its last whole record.

#include <QByteArray>
#include <QString>

#include <cstdint>

#include "recording/input_stream.h"

namespace tx710::mcap {

class RecordStream
{
public:
    explicit RecordStream(inputfile::InputStream& input) : input_(input) {}

    enum class Next { Record, End, Failed };
    // The next schema, channel, message or other record (`opcode` and
    // `content`), found in the top-level record at byte `position`, at
    // `inner` in its chunk's records (MessagePlace::kTopLevel: not in a
    // chunk). End after the last, Failed with the reason in `error`.
    Next next(std::uint8_t& opcode_out, QByteArray& content_out, std::int64_t& position, std::uint32_t& inner_at);
    bool complete = false; // at End: the file has its footer and closing magic
    QString error;

private:
    // The content of the next top-level record, or where it stops.
    enum class Read { Record, End, Torn, Failed };
    Read readRecord(std::uint8_t& opcode, QByteArray& content, bool hold);
    std::int64_t take(char* into, std::int64_t count);
    Next fail(const QString& reason)
    {
        error = reason;
        return Next::Failed;
    }
    Next afterTorn(std::int64_t start);
    // Reads to the end, so that the closing magic is seen.
    Next finish();

    inputfile::InputStream& input_;
    bool started_ = false;
    bool done_ = false;
    std::uint32_t crc_ = 0; // of every byte read so far
    QByteArray last_bytes_; // the last 8 bytes read so far
    QByteArray chunk_;      // the uncompressed records of the chunk being read
    std::uint64_t chunk_at_ = 0;
    std::int64_t chunk_position_ = 0;
};

} // namespace tx710::mcap
