#pragma once

// Writes rounds and status figures, as the profile of WriterOptions::scan
// gives them (recording/recording_profile.h), to an MCAP file that the official readers and Foxglove open
// with its index: messages in zstd chunks, each followed by its message
// indexes, then a summary with schemas, channels, statistics and chunk
// indexes, summary offsets and the footer.
//
// Every write is checked. After a failed write the writer stops taking
// messages and keeps the first error; close() still ends the file (summary and
// footer) after the last chunk that reached the disk whole, so a full disk or a
// signal leaves a file that opens: the disk space the summary and footer need
// is kept (reserved) beyond the last chunk all along.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "recording/output_file.h"
#include "recording/recording_profile.h"
#include "recording/scan_round.h"
#include "recording/status_message.h"

namespace tx710::mcap {

struct WriterOptions {
    // A chunk is what a power cut may lose, so it goes to disk (and is synced)
    // once it holds this many bytes or spans this much message time.
    int chunk_bytes = 1 << 20;
    std::int64_t chunk_span_ns = 1000000000;
    int zstd_level = 3;
    bool sync_chunks = true;
    // The profile (ROS 2 or Foxglove JSON) and each device's scans.
    DeviceScans devices = {ScanOptions()};
};

class Writer
{
public:
    explicit Writer(WriterOptions options = WriterOptions());
    ~Writer(); // closes
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // Creates the file and writes the header, the schemas and the channels.
    bool open(const QString& path, OutputFile::Mode mode = OutputFile::Mode::Truncate);
    bool isOpen() const { return file_.isOpen(); }

    // Log time = the round's receive time; sequence = the round number.
    bool writeRound(const ScanRound& round);
    bool writeStatus(const status::Sample& sample);

    // Writes the last chunk, the summary and the footer, and closes the file.
    // Returns false when anything written since open() failed.
    bool close();
    // Closes and removes the file open() created (see OutputFile::discard()).
    void discard() { file_.discard(); }

    // The first failure: "cannot write /path/a.mcap: No space left on device".
    const QString& errorString() const { return error_; }

private:
    struct IndexEntry {
        std::uint64_t log_time = 0;
        std::uint64_t offset = 0; // within the uncompressed chunk
    };

    bool writeMessage(std::uint16_t channel, std::uint32_t sequence, std::int64_t log_time_ns, const QByteArray& data);
    bool flushChunk();
    bool commit(const QByteArray& bytes);
    bool reserveTail();
    bool fail(const QString& reason);
    QByteArray summaryAndFooter() const;
    QByteArray schemaRecords() const;
    QByteArray channelRecords() const;
    bool writeMessages();

    WriterOptions options_;
    OutputFile file_;
    QString error_;
    bool failed_ = false;
    std::uint32_t data_crc_ = 0; // of every byte on disk so far
    std::unique_ptr<RecordingProfile> profile_;
    std::vector<RecordingProfile::Message> pending_;
    int tail_base_ = 0; // the summary and footer of a file without chunks

    // The chunk being filled.
    QByteArray chunk_;
    std::uint64_t chunk_start_ = 0;
    std::uint64_t chunk_end_ = 0;
    std::map<std::uint16_t, std::vector<IndexEntry>> chunk_index_;

    // What reached the disk, for the summary.
    QByteArray chunk_index_records_;
    std::uint64_t message_count_ = 0;
    std::uint32_t chunk_count_ = 0;
    std::uint64_t message_start_ = 0;
    std::uint64_t message_end_ = 0;
    std::map<std::uint16_t, std::uint64_t> channel_counts_;
};

} // namespace tx710::mcap
