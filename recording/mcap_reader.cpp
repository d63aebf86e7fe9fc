#include "recording/mcap_reader.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtEndian>

#include <algorithm>
#include <map>

#include "recording/input_file.h"
#include "recording/input_limits.h"
#include "recording/mcap_chunk.h"
#include "recording/mcap_format.h"
#include "recording/mcap_record_stream.h"
#include "recording/point_cloud_message.h"
#include "recording/ros2_mcap_profile.h"
#include "recording/status_message.h"

namespace tx710::mcap {

namespace {

struct Channel {
    QByteArray topic;
    QByteArray message_encoding;
    std::uint16_t schema_id = 0;
};

bool decodeScan(const QByteArray& content, ScanRound& round, QString& error)
{
    Cursor fields(content.constData(), std::uint64_t(content.size()));
    fields.get<std::uint16_t>();
    round = ScanRound();
    round.number = int(fields.get<std::uint32_t>());
    QString reason;
    if (!pointcloud::decode(content.mid(kMessageHeaderBytes), round, reason)) {
        error = QStringLiteral("round %1: %2").arg(round.number).arg(reason);
        return false;
    }
    return true;
}

} // namespace

class StreamReader::Impl
{
public:
    Impl(StreamReader& out, inputfile::InputStream& input) : out_(out), input_(input), records_(input) {}

    Item next();
    bool readRound(const MessagePlace& at, ScanRound& round, QString& error);

private:
    // A /scan point cloud or a ROS 2 round, by its channel.
    bool decodeRound(const QByteArray& content, ScanRound& round, QString& error);
    Item fail(const QString& reason)
    {
        out_.error = reason;
        return Item::Failed;
    }
    // Schema, channel or message; Round/Speed when a message gives one,
    // End when the record gives nothing to hand on.
    Item record(std::uint8_t opcode, const QByteArray& content, std::int64_t position, std::uint32_t inner);

    StreamReader& out_;
    inputfile::InputStream& input_;
    RecordStream records_;
    std::map<std::uint16_t, QByteArray> schema_names_;
    std::map<std::uint16_t, Channel> channels_;
    ros2::McapReplay ros2_;
    // readRound's last chunk, for the rounds after it.
    std::int64_t cached_chunk_ = -1;
    QByteArray cached_records_;
};

StreamReader::Item StreamReader::Impl::next()
{
    for (;;) {
        std::uint8_t opcode = 0;
        QByteArray content;
        std::int64_t position = 0;
        std::uint32_t inner = MessagePlace::kTopLevel;
        switch (records_.next(opcode, content, position, inner)) {
        case RecordStream::Next::End:
            out_.complete = records_.complete;
            return Item::End;
        case RecordStream::Next::Failed:
            return fail(records_.error);
        case RecordStream::Next::Record:
            break;
        }
        const Item item = record(opcode, content, position, inner);
        if (item != Item::End)
            return item;
    }
}

StreamReader::Item StreamReader::Impl::record(std::uint8_t opcode, const QByteArray& content, std::int64_t position,
                                              std::uint32_t inner)
{
    Cursor fields(content.constData(), std::uint64_t(content.size()));
    if (opcode == kSchema) {
        const auto id = fields.get<std::uint16_t>();
        const QByteArray name = fields.string();
        if (!fields.ok)
            return fail(malformedText("schema"));
        schema_names_[id] = name;
        return Item::End;
    }
    if (opcode == kChannel) {
        Channel channel;
        const auto id = fields.get<std::uint16_t>();
        channel.schema_id = fields.get<std::uint16_t>();
        channel.topic = fields.string();
        channel.message_encoding = fields.string();
        if (!fields.ok)
            return fail(malformedText("channel"));
        channels_[id] = channel;
        return Item::End;
    }
    if (opcode != kMessage)
        return Item::End; // indexes, attachments, metadata: not needed for replay
    const auto channel_id = fields.get<std::uint16_t>();
    const auto sequence = fields.get<std::uint32_t>();
    // The point cloud carries its receive time; a status has only the log time.
    const auto log_time = fields.get<std::uint64_t>();
    fields.get<std::uint64_t>();
    if (!fields.ok)
        return fail(malformedText("message"));
    const auto channel = channels_.find(channel_id);
    if (channel == channels_.end())
        return fail(QStringLiteral("a message on channel %1, which no channel record defines").arg(channel_id));
    if (fields.left() > limits::kMessageBytes)
        return fail(QStringLiteral("a message of %1 bytes, more than a round holds").arg(fields.left()));
    if (channel->second.message_encoding == "cdr") {
        Contents taken;
        if (!ros2_.take(channel->second.topic, schema_names_[channel->second.schema_id], sequence, log_time,
                        content.mid(int(fields.position())), taken, out_.error))
            return Item::Failed;
        out_.status_messages += taken.status_messages;
        if (!taken.rounds.empty()) {
            out_.round = std::move(taken.rounds.front());
            out_.place = MessagePlace{position, inner};
            return Item::Round;
        }
        if (!taken.speeds.empty()) {
            out_.speed = taken.speeds.front();
            return Item::Speed;
        }
        return Item::End;
    }
    if (channel->second.topic == pointcloud::topic().topic) {
        if (channel->second.message_encoding != pointcloud::topic().message_encoding
            || schema_names_[channel->second.schema_id] != pointcloud::topic().schema_name)
            return fail(QStringLiteral("/scan is not a JSON foxglove.PointCloud channel"));
        if (!out_.decode_rounds)
            out_.round = ScanRound{int(sequence), std::int64_t(log_time), {}};
        else if (!decodeScan(content, out_.round, out_.error))
            return Item::Failed;
        out_.place = MessagePlace{position, inner};
        return Item::Round;
    }
    if (channel->second.topic == status::topic().topic) {
        ++out_.status_messages;
        const QByteArray data = content.mid(int(fields.position()));
        const double rpm = QJsonDocument::fromJson(data).object().value(QStringLiteral("rpm")).toDouble();
        if (rpm > 0) { // 0 stands for a speed not yet known
            out_.speed = Contents::Speed{std::int64_t(log_time), rpm};
            return Item::Speed;
        }
    }
    return Item::End;
}

bool StreamReader::Impl::readRound(const MessagePlace& at, ScanRound& round, QString& error)
{
    const auto recordAt = [&](std::int64_t position, std::uint8_t& opcode, QByteArray& content) {
        char head[9];
        if (!input_.seek(position) || input_.read(head, 9) < 9)
            return false;
        opcode = std::uint8_t(head[0]);
        const auto length = qFromLittleEndian<std::uint64_t>(head + 1);
        if (length > kHeldRecordBytes)
            return false;
        content.resize(int(length));
        return input_.read(content.data(), std::int64_t(length)) == std::int64_t(length);
    };
    std::uint8_t opcode = 0;
    QByteArray content;
    if (at.inner == MessagePlace::kTopLevel) {
        if (!recordAt(at.record, opcode, content) || opcode != kMessage) {
            error = QStringLiteral("the file changed since it was opened");
            return false;
        }
        return decodeRound(content, round, error);
    }
    if (cached_chunk_ != at.record) {
        cached_chunk_ = -1;
        if (!recordAt(at.record, opcode, content) || opcode != kChunk) {
            error = QStringLiteral("the file changed since it was opened");
            return false;
        }
        if (!unpackChunk(content, cached_records_, error))
            return false;
        cached_chunk_ = at.record;
    }
    Cursor inner(cached_records_.constData(), std::uint64_t(cached_records_.size()));
    inner.bytes(at.inner);
    opcode = inner.get<std::uint8_t>();
    content = inner.bytes(inner.get<std::uint64_t>());
    if (!inner.ok || opcode != kMessage) {
        error = QStringLiteral("the file changed since it was opened");
        return false;
    }
    return decodeRound(content, round, error);
}

bool StreamReader::Impl::decodeRound(const QByteArray& content, ScanRound& round, QString& error)
{
    Cursor fields(content.constData(), std::uint64_t(content.size()));
    const auto channel = channels_.find(fields.get<std::uint16_t>());
    const auto sequence = fields.get<std::uint32_t>();
    const auto log_time = fields.get<std::uint64_t>();
    if (!fields.ok || channel == channels_.end()) {
        error = QStringLiteral("the file changed since it was opened");
        return false;
    }
    if (channel->second.message_encoding != "cdr")
        return decodeScan(content, round, error);
    Contents taken;
    ros2::McapReplay profile;
    if (!profile.take(channel->second.topic, schema_names_[channel->second.schema_id], sequence, log_time,
                      content.mid(kMessageHeaderBytes), taken, error))
        return false;
    if (taken.rounds.empty()) {
        error = QStringLiteral("the file changed since it was opened");
        return false;
    }
    round = std::move(taken.rounds.front());
    return true;
}

StreamReader::StreamReader(inputfile::InputStream& input) : impl_(std::make_unique<Impl>(*this, input)) {}

StreamReader::~StreamReader() = default;

StreamReader::Item StreamReader::next()
{
    error.clear();
    return impl_->next();
}

bool StreamReader::readRound(const MessagePlace& at, ScanRound& out, QString& reason)
{
    return impl_->readRound(at, out, reason);
}

} // namespace tx710::mcap
