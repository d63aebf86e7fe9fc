#include "recording/mcap_reader.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtEndian>

#include <algorithm>
#include <map>

#include <zlib.h>
#include <zstd.h>

#include "recording/mcap_format.h"
#include "recording/point_cloud_message.h"
#include "recording/ros2_mcap_profile.h"
#include "recording/status_message.h"

namespace tx710::mcap {

namespace {

// Larger chunks than this are taken as damage, not data.
constexpr std::uint64_t kMaxChunkSize = 256u << 20;

// Reads little-endian fields from a byte range; any read past its end sets
// `ok` to false and yields zeros.
class Cursor
{
public:
    Cursor(const char* data, std::uint64_t size) : data_(data), size_(size) {}

    bool ok = true;
    std::uint64_t left() const { return size_ - at_; }
    std::uint64_t position() const { return at_; }

    template <typename T> T get()
    {
        if (!take(sizeof(T)))
            return 0;
        return qFromLittleEndian<T>(data_ + at_ - sizeof(T));
    }
    QByteArray bytes(std::uint64_t length)
    {
        if (!take(length))
            return QByteArray();
        return QByteArray(data_ + at_ - length, int(length));
    }
    QByteArray string() { return bytes(get<std::uint32_t>()); }

private:
    bool take(std::uint64_t length)
    {
        if (!ok || length > left()) {
            ok = false;
            return false;
        }
        at_ += length;
        return true;
    }

    const char* data_;
    std::uint64_t size_;
    std::uint64_t at_ = 0;
};

struct Channel {
    QByteArray topic;
    QByteArray message_encoding;
    std::uint16_t schema_id = 0;
};

class Reader
{
public:
    explicit Reader(Contents& contents) : contents_(contents) {}

    bool readAll(const QByteArray& file);

    QString error;

private:
    bool record(std::uint8_t opcode, const QByteArray& content, bool in_chunk);
    bool chunk(const QByteArray& content);
    bool message(const QByteArray& content);
    bool malformed(const char* what)
    {
        error = QStringLiteral("malformed %1 record").arg(QLatin1String(what));
        return false;
    }

    Contents& contents_;
    std::map<std::uint16_t, QByteArray> schema_names_;
    std::map<std::uint16_t, Channel> channels_;
    ros2::McapReplay ros2_;
};

bool Reader::readAll(const QByteArray& file)
{
    if (file.size() < 8 || !file.startsWith(QByteArray(kMagic, 8))) {
        error = QStringLiteral("not an MCAP file (no magic at its start)");
        return false;
    }
    Cursor cursor(file.constData() + 8, std::uint64_t(file.size() - 8));
    bool first = true;
    while (cursor.left() > 0) {
        const std::uint64_t start = 8 + cursor.position();
        const std::uint8_t opcode = cursor.get<std::uint8_t>();
        const std::uint64_t length = cursor.get<std::uint64_t>();
        if (!cursor.ok || length > cursor.left()) {
            // A recording cut short keeps everything before its torn record;
            // a file that was ended properly has no torn record.
            if (!file.endsWith(QByteArray(kMagic, 8)))
                return true;
            error = QStringLiteral("the record at byte %1 runs past the end of the file").arg(start);
            return false;
        }
        const QByteArray content = cursor.bytes(length);
        if (first && opcode != kHeader) {
            error = QStringLiteral("the file does not begin with a header record");
            return false;
        }
        first = false;
        if (opcode == kDataEnd) {
            Cursor fields(content.constData(), std::uint64_t(content.size()));
            const std::uint32_t expected = fields.get<std::uint32_t>();
            if (!fields.ok)
                return malformed("data end");
            const auto actual =
                std::uint32_t(::crc32(0, reinterpret_cast<const Bytef*>(file.constData()), uInt(start)));
            if (expected != 0 && expected != actual) {
                error = QStringLiteral("the data section's checksum does not match");
                return false;
            }
        }
        if (opcode == kDataEnd || opcode == kFooter) {
            contents_.complete = file.endsWith(QByteArray(kMagic, 8));
            return true;
        }
        if (!record(opcode, content, false))
            return false;
    }
    return true;
}

bool Reader::record(std::uint8_t opcode, const QByteArray& content, bool in_chunk)
{
    Cursor fields(content.constData(), std::uint64_t(content.size()));
    switch (opcode) {
    case kSchema: {
        const auto id = fields.get<std::uint16_t>();
        const QByteArray name = fields.string();
        if (!fields.ok)
            return malformed("schema");
        schema_names_[id] = name;
        return true;
    }
    case kChannel: {
        Channel channel;
        const auto id = fields.get<std::uint16_t>();
        channel.schema_id = fields.get<std::uint16_t>();
        channel.topic = fields.string();
        channel.message_encoding = fields.string();
        if (!fields.ok)
            return malformed("channel");
        channels_[id] = channel;
        return true;
    }
    case kMessage:
        return message(content);
    case kChunk:
        if (in_chunk)
            return malformed("chunk (a chunk inside a chunk)");
        return chunk(content);
    default:
        return true; // indexes, attachments, metadata: not needed for replay
    }
}

bool Reader::chunk(const QByteArray& content)
{
    Cursor fields(content.constData(), std::uint64_t(content.size()));
    fields.get<std::uint64_t>(); // start and end times: the messages carry their own
    fields.get<std::uint64_t>();
    const auto uncompressed_size = fields.get<std::uint64_t>();
    const auto expected_crc = fields.get<std::uint32_t>();
    const QByteArray compression = fields.string();
    const QByteArray stored = fields.bytes(fields.get<std::uint64_t>());
    if (!fields.ok)
        return malformed("chunk");
    if (uncompressed_size > kMaxChunkSize) {
        error = QStringLiteral("a chunk claims %1 bytes, more than a recording holds").arg(uncompressed_size);
        return false;
    }
    QByteArray records;
    if (compression.isEmpty()) {
        records = stored;
    } else if (compression == kCompression) {
        records = QByteArray(int(uncompressed_size), Qt::Uninitialized);
        const std::size_t size = ZSTD_decompress(records.data(), std::size_t(records.size()), stored.constData(),
                                                 std::size_t(stored.size()));
        if (ZSTD_isError(size)) {
            error = QStringLiteral("a chunk does not decompress: %1").arg(QLatin1String(ZSTD_getErrorName(size)));
            return false;
        }
        records.resize(int(size));
    } else {
        error = QStringLiteral("unsupported chunk compression \"%1\"").arg(QString::fromUtf8(compression));
        return false;
    }
    if (std::uint64_t(records.size()) != uncompressed_size)
        return malformed("chunk (size differs from its uncompressed size)");
    const auto actual_crc =
        std::uint32_t(::crc32(0, reinterpret_cast<const Bytef*>(records.constData()), uInt(records.size())));
    if (expected_crc != 0 && expected_crc != actual_crc) {
        error = QStringLiteral("a chunk's checksum does not match its content");
        return false;
    }
    Cursor inner(records.constData(), std::uint64_t(records.size()));
    while (inner.left() > 0) {
        const auto opcode = inner.get<std::uint8_t>();
        const QByteArray record_content = inner.bytes(inner.get<std::uint64_t>());
        if (!inner.ok)
            return malformed("chunk (a record runs past its end)");
        if (!record(opcode, record_content, true))
            return false;
    }
    return true;
}

bool Reader::message(const QByteArray& content)
{
    Cursor fields(content.constData(), std::uint64_t(content.size()));
    const auto channel_id = fields.get<std::uint16_t>();
    const auto sequence = fields.get<std::uint32_t>();
    // The point cloud carries its receive time; a status has only the log time.
    const auto log_time = fields.get<std::uint64_t>();
    fields.get<std::uint64_t>();
    if (!fields.ok)
        return malformed("message");
    const auto channel = channels_.find(channel_id);
    if (channel == channels_.end()) {
        error = QStringLiteral("a message on channel %1, which no channel record defines").arg(channel_id);
        return false;
    }
    const QByteArray data = content.mid(int(fields.position()));
    if (channel->second.message_encoding == "cdr")
        return ros2_.take(channel->second.topic, schema_names_[channel->second.schema_id], sequence, log_time, data,
                          contents_, error);
    if (channel->second.topic == pointcloud::topic().topic) {
        if (channel->second.message_encoding != pointcloud::topic().message_encoding
            || schema_names_[channel->second.schema_id] != pointcloud::topic().schema_name) {
            error = QStringLiteral("/scan is not a JSON foxglove.PointCloud channel");
            return false;
        }
        ScanRound round;
        round.number = int(sequence);
        QString reason;
        if (!pointcloud::decode(data, round, reason)) {
            error = QStringLiteral("round %1: %2").arg(round.number).arg(reason);
            return false;
        }
        contents_.rounds.push_back(std::move(round));
    } else if (channel->second.topic == status::topic().topic) {
        ++contents_.status_messages;
        const double rpm = QJsonDocument::fromJson(data).object().value(QStringLiteral("rpm")).toDouble();
        if (rpm > 0) // 0 stands for a speed not yet known
            contents_.speeds.push_back(Contents::Speed{std::int64_t(log_time), rpm});
    }
    return true;
}

} // namespace

bool parse(const QByteArray& bytes, Contents& contents, QString& error)
{
    contents = Contents();
    Reader reader(contents);
    if (!reader.readAll(bytes)) {
        error = reader.error;
        return false;
    }
    std::stable_sort(contents.rounds.begin(), contents.rounds.end(),
                     [](const ScanRound& a, const ScanRound& b) { return a.receive_time_ns < b.receive_time_ns; });
    std::stable_sort(contents.speeds.begin(), contents.speeds.end(),
                     [](const Contents::Speed& a, const Contents::Speed& b) { return a.time_ns < b.time_ns; });
    // Each round turns at the speed of the latest status before it.
    std::size_t speed = 0;
    for (ScanRound& round : contents.rounds) {
        while (speed + 1 < contents.speeds.size() && contents.speeds[speed + 1].time_ns <= round.receive_time_ns)
            ++speed;
        if (!contents.speeds.empty())
            round.speed_rpm = contents.speeds[speed].rpm;
    }
    return true;
}

bool readFile(const QString& path, Contents& contents, QString& error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    if (!parse(file.readAll(), contents, error)) {
        error = QStringLiteral("%1: %2").arg(path, error);
        return false;
    }
    return true;
}

} // namespace tx710::mcap
