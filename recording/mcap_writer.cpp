#include "recording/mcap_writer.h"

#include <QtEndian>

#include <zlib.h>
#include <zstd.h>

#include "recording/mcap_format.h"

namespace tx710::mcap {

namespace {

template <typename T> void put(QByteArray& out, T value)
{
    char bytes[sizeof(T)];
    qToLittleEndian(value, bytes);
    out.append(bytes, int(sizeof(T)));
}

void putString(QByteArray& out, const QByteArray& text)
{
    put<std::uint32_t>(out, std::uint32_t(text.size()));
    out += text;
}

QByteArray record(Opcode opcode, const QByteArray& content)
{
    QByteArray out;
    out.reserve(9 + content.size());
    put<std::uint8_t>(out, opcode);
    put<std::uint64_t>(out, std::uint64_t(content.size()));
    out += content;
    return out;
}

std::uint32_t crc(std::uint32_t running, const QByteArray& bytes)
{
    return std::uint32_t(::crc32(running, reinterpret_cast<const Bytef*>(bytes.constData()), uInt(bytes.size())));
}

QByteArray schemaRecord(std::uint16_t id, const TopicDescription& topic)
{
    QByteArray content;
    put<std::uint16_t>(content, id);
    putString(content, topic.schema_name);
    putString(content, topic.schema_encoding);
    putString(content, topic.schema_text);
    return record(kSchema, content);
}

QByteArray channelRecord(std::uint16_t id, const TopicDescription& topic)
{
    QByteArray content;
    put<std::uint16_t>(content, id);
    put<std::uint16_t>(content, id); // its schema has the same id
    putString(content, topic.topic);
    putString(content, topic.message_encoding);
    QByteArray metadata;
    for (const auto& [key, value] : topic.metadata) {
        putString(metadata, key);
        putString(metadata, value);
    }
    putString(content, metadata);
    return record(kChannel, content);
}

} // namespace

Writer::Writer(WriterOptions options) : options_(options), profile_(makeRecordingProfile(options_.devices)) {}

QByteArray Writer::schemaRecords() const
{
    QByteArray records;
    for (const RecordingProfile::Channel& channel : profile_->channels())
        records += schemaRecord(channel.id, channel.topic);
    return records;
}

QByteArray Writer::channelRecords() const
{
    QByteArray records;
    for (const RecordingProfile::Channel& channel : profile_->channels())
        records += channelRecord(channel.id, channel.topic);
    return records;
}

Writer::~Writer()
{
    close();
}

bool Writer::fail(const QString& reason)
{
    if (!failed_)
        error_ = reason;
    failed_ = true;
    return false;
}

bool Writer::open(const QString& path, OutputFile::Mode mode)
{
    close();
    error_.clear();
    failed_ = false;
    data_crc_ = 0;
    profile_ = makeRecordingProfile(options_.devices);
    chunk_.clear();
    chunk_index_.clear();
    chunk_index_records_.clear();
    message_count_ = 0;
    chunk_count_ = 0;
    message_start_ = message_end_ = 0;
    channel_counts_.clear();
    if (!file_.open(path, mode))
        return fail(file_.errorString());
    QByteArray header;
    putString(header, profile_->name());
    putString(header, kLibrary);
    // Room for the channel counts of the statistics and more chunk indexes.
    tail_base_ = summaryAndFooter().size() + 256;
    return commit(QByteArray(kMagic, 8) + record(kHeader, header) + schemaRecords() + channelRecords())
        && reserveTail();
}

bool Writer::reserveTail()
{
    // Whole kilobytes, so that zeros are written once every few chunks.
    const std::int64_t tail = tail_base_ + chunk_index_records_.size();
    return file_.reserve((tail + 1023) / 1024 * 1024 + 1024) || fail(file_.errorString());
}

bool Writer::commit(const QByteArray& bytes)
{
    const std::int64_t start = file_.size();
    if (!file_.write(bytes)) {
        fail(file_.errorString());
        // Drop the torn piece so that the summary can follow whole records,
        // on the disk space the piece took.
        file_.rewind(start);
        return false;
    }
    data_crc_ = crc(data_crc_, bytes);
    return true;
}

bool Writer::writeRound(const ScanRound& round)
{
    if (failed_)
        return false;
    profile_->roundMessages(round, pending_);
    return writeMessages();
}

bool Writer::writeStatus(const status::Sample& sample)
{
    if (failed_)
        return false;
    profile_->statusMessages(sample, pending_);
    return writeMessages();
}

bool Writer::writeMessages()
{
    bool written = true;
    for (const RecordingProfile::Message& message : pending_)
        written = written && writeMessage(message.channel, message.sequence, message.log_time_ns, message.data);
    pending_.clear();
    // The messages of one round go to disk in the same chunk.
    if (written
        && (chunk_.size() >= options_.chunk_bytes
            || chunk_end_ - chunk_start_ >= std::uint64_t(options_.chunk_span_ns)))
        return flushChunk();
    return written;
}

bool Writer::writeMessage(std::uint16_t channel, std::uint32_t sequence, std::int64_t log_time_ns,
                          const QByteArray& data)
{
    if (failed_)
        return false;
    if (!file_.isOpen())
        return fail(QStringLiteral("cannot write a message: no MCAP file is open"));
    const std::uint64_t log_time = log_time_ns < 0 ? 0 : std::uint64_t(log_time_ns);
    // A message that would stretch the chunk past its time span starts the
    // next one: messages need not arrive on the span's boundary.
    if (!chunk_.isEmpty()
        && std::max(chunk_end_, log_time) - std::min(chunk_start_, log_time) > std::uint64_t(options_.chunk_span_ns)
        && !flushChunk())
        return false;
    if (chunk_.isEmpty()) {
        chunk_start_ = log_time;
        chunk_end_ = log_time;
    }
    chunk_start_ = std::min(chunk_start_, log_time);
    chunk_end_ = std::max(chunk_end_, log_time);
    chunk_index_[channel].push_back(IndexEntry{log_time, std::uint64_t(chunk_.size())});

    QByteArray content;
    content.reserve(22 + data.size());
    put<std::uint16_t>(content, channel);
    put<std::uint32_t>(content, sequence);
    put<std::uint64_t>(content, log_time);
    put<std::uint64_t>(content, log_time); // published when received
    content += data;
    chunk_ += record(kMessage, content);
    return true;
}

bool Writer::flushChunk()
{
    if (chunk_.isEmpty())
        return true;
    const QByteArray records = chunk_;
    const auto index = std::move(chunk_index_);
    chunk_.clear();
    chunk_index_.clear();

    QByteArray compressed(int(ZSTD_compressBound(std::size_t(records.size()))), Qt::Uninitialized);
    const std::size_t compressed_size =
        ZSTD_compress(compressed.data(), std::size_t(compressed.size()), records.constData(),
                      std::size_t(records.size()), options_.zstd_level);
    if (ZSTD_isError(compressed_size))
        return fail(QStringLiteral("cannot compress a chunk for %1: %2")
                        .arg(file_.path(), QLatin1String(ZSTD_getErrorName(compressed_size))));
    compressed.resize(int(compressed_size));

    QByteArray chunk;
    put<std::uint64_t>(chunk, chunk_start_);
    put<std::uint64_t>(chunk, chunk_end_);
    put<std::uint64_t>(chunk, std::uint64_t(records.size()));
    put<std::uint32_t>(chunk, crc(0, records));
    putString(chunk, kCompression);
    put<std::uint64_t>(chunk, compressed_size);
    chunk += compressed;
    QByteArray group = record(kChunk, chunk);
    const std::uint64_t chunk_offset = std::uint64_t(file_.size());
    const std::uint64_t chunk_length = std::uint64_t(group.size());

    QByteArray index_offsets;
    std::uint64_t index_length = 0;
    for (const auto& [channel, entries] : index) {
        QByteArray content;
        put<std::uint16_t>(content, channel);
        put<std::uint32_t>(content, std::uint32_t(entries.size() * 16));
        for (const IndexEntry& entry : entries) {
            put<std::uint64_t>(content, entry.log_time);
            put<std::uint64_t>(content, entry.offset);
        }
        const QByteArray index_record = record(kMessageIndex, content);
        put<std::uint16_t>(index_offsets, channel);
        put<std::uint64_t>(index_offsets, chunk_offset + std::uint64_t(group.size()));
        index_length += std::uint64_t(index_record.size());
        group += index_record;
    }
    const std::uint32_t crc_before = data_crc_;
    if (!commit(group))
        return false;
    QByteArray chunk_index;
    put<std::uint64_t>(chunk_index, chunk_start_);
    put<std::uint64_t>(chunk_index, chunk_end_);
    put<std::uint64_t>(chunk_index, chunk_offset);
    put<std::uint64_t>(chunk_index, chunk_length);
    putString(chunk_index, index_offsets);
    put<std::uint64_t>(chunk_index, index_length);
    putString(chunk_index, kCompression);
    put<std::uint64_t>(chunk_index, compressed_size);
    put<std::uint64_t>(chunk_index, std::uint64_t(records.size()));
    chunk_index_records_ += record(kChunkIndex, chunk_index);
    // No room left to end the file after this chunk: the file ends before it.
    if (!reserveTail()) {
        chunk_index_records_.chop(record(kChunkIndex, chunk_index).size());
        data_crc_ = crc_before;
        file_.rewind(std::int64_t(chunk_offset));
        return false;
    }
    if (options_.sync_chunks && !file_.sync())
        return fail(file_.errorString());

    message_start_ = chunk_count_ == 0 ? chunk_start_ : std::min(message_start_, chunk_start_);
    message_end_ = chunk_count_ == 0 ? chunk_end_ : std::max(message_end_, chunk_end_);
    ++chunk_count_;
    for (const auto& [channel, entries] : index) {
        channel_counts_[channel] += entries.size();
        message_count_ += entries.size();
    }
    return true;
}

QByteArray Writer::summaryAndFooter() const
{
    QByteArray data_end;
    put<std::uint32_t>(data_end, data_crc_);
    QByteArray out = record(kDataEnd, data_end);
    const std::uint64_t summary_start = std::uint64_t(file_.size() + out.size());

    QByteArray statistics;
    put<std::uint64_t>(statistics, message_count_);
    put<std::uint16_t>(statistics, std::uint16_t(profile_->channels().size())); // one schema per channel
    put<std::uint32_t>(statistics, std::uint32_t(profile_->channels().size()));
    put<std::uint32_t>(statistics, 0); // attachments
    put<std::uint32_t>(statistics, 0); // metadata
    put<std::uint32_t>(statistics, chunk_count_);
    put<std::uint64_t>(statistics, message_start_);
    put<std::uint64_t>(statistics, message_end_);
    QByteArray counts;
    for (const auto& [channel, count] : channel_counts_) {
        put<std::uint16_t>(counts, channel);
        put<std::uint64_t>(counts, count);
    }
    putString(statistics, counts);

    // Grouped by opcode, each group found again through a summary offset.
    const std::pair<Opcode, QByteArray> groups[] = {{kSchema, schemaRecords()},
                                                    {kChannel, channelRecords()},
                                                    {kStatistics, record(kStatistics, statistics)},
                                                    {kChunkIndex, chunk_index_records_}};
    QByteArray summary;
    QByteArray offsets;
    for (const auto& [opcode, bytes] : groups) {
        if (bytes.isEmpty())
            continue;
        QByteArray offset;
        put<std::uint8_t>(offset, opcode);
        put<std::uint64_t>(offset, summary_start + std::uint64_t(summary.size()));
        put<std::uint64_t>(offset, std::uint64_t(bytes.size()));
        offsets += record(kSummaryOffset, offset);
        summary += bytes;
    }
    const std::uint64_t summary_offset_start = summary_start + std::uint64_t(summary.size());

    QByteArray footer_start = summary + offsets;
    put<std::uint8_t>(footer_start, kFooter);
    put<std::uint64_t>(footer_start, 20);
    put<std::uint64_t>(footer_start, summary_start);
    put<std::uint64_t>(footer_start, summary_offset_start);
    out += footer_start;
    put<std::uint32_t>(out, crc(0, footer_start));
    out += QByteArray(kMagic, 8);
    return out;
}

bool Writer::close()
{
    if (!file_.isOpen())
        return !failed_;
    if (!failed_)
        flushChunk();
    // Even after a failure: the chunks before it are whole and deserve an index.
    const std::int64_t data_size = file_.size();
    if (!file_.write(summaryAndFooter())) {
        fail(file_.errorString());
        file_.truncate(data_size);
    } else if (options_.sync_chunks && !file_.sync()) {
        fail(file_.errorString());
    }
    if (!file_.close())
        fail(file_.errorString());
    return !failed_;
}

} // namespace tx710::mcap
