#include "recording/mcap_reader.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtEndian>

#include <algorithm>
#include <map>

#include "recording/frame_transform.h"
#include "recording/input_file.h"
#include "recording/input_limits.h"
#include "recording/mcap_chunk.h"
#include "recording/mcap_devices.h"
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
    int device = -1; // of a round or status channel under a device's prefix
};

const QByteArray kPointsSuffix = "/tx710/points";

// A round of `channel`'s point clouds; those of several LiDARs (under a
// prefix) with the angles of their frames, for placing them.
bool decodeScan(const Channel& channel, const QByteArray& content, ScanRound& round, QString& error)
{
    Cursor fields(content.constData(), std::uint64_t(content.size()));
    fields.get<std::uint16_t>();
    round = ScanRound();
    round.number = int(fields.get<std::uint32_t>());
    QString reason;
    if (!pointcloud::decode(content.mid(kMessageHeaderBytes), round, reason,
                            channel.topic != pointcloud::topic().topic)) {
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
    Item channelRecord(Cursor& fields);
    Item ros2Message(const Channel& channel, std::uint32_t sequence, std::uint64_t log_time, const QByteArray& data,
                     const MessagePlace& place);
    Item place(const std::vector<ros2::TransformStamped>& transforms);

    StreamReader& out_;
    inputfile::InputStream& input_;
    RecordStream records_;
    std::map<std::uint16_t, QByteArray> schema_names_;
    std::map<std::uint16_t, Channel> channels_;
    ros2::McapReplay ros2_;
    DeviceTable devices_;
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
    if (opcode == kChannel)
        return channelRecord(fields);
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
    if (channel->second.message_encoding == "cdr")
        return ros2Message(channel->second, sequence, log_time, content.mid(int(fields.position())),
                           MessagePlace{position, inner});
    if (channel->second.topic == frametransform::topic().topic
        && schema_names_[channel->second.schema_id] == frametransform::topic().schema_name) {
        ros2::TransformStamped transform;
        if (!frametransform::decode(content.mid(int(fields.position())), transform, out_.error))
            return fail(QStringLiteral("/tf_static %1: %2").arg(sequence).arg(out_.error));
        return place({transform});
    }
    if (channel->second.device < 0)
        return Item::End; // another topic, left alone
    if (channel->second.topic.endsWith(pointcloud::topic().topic)) {
        if (channel->second.message_encoding != pointcloud::topic().message_encoding
            || schema_names_[channel->second.schema_id] != pointcloud::topic().schema_name)
            return fail(QStringLiteral("%1 is not a JSON foxglove.PointCloud channel")
                            .arg(QString::fromUtf8(channel->second.topic.left(kMaxFrameIdChars + 6))));
        if (!out_.decode_rounds)
            out_.round = ScanRound{int(sequence), std::int64_t(log_time), {}};
        else if (!decodeScan(channel->second, content, out_.round, out_.error))
            return Item::Failed;
        out_.round.device = channel->second.device;
        out_.place = MessagePlace{position, inner};
        return Item::Round;
    }
    ++out_.status_messages;
    const QByteArray data = content.mid(int(fields.position()));
    const double rpm = QJsonDocument::fromJson(data).object().value(QStringLiteral("rpm")).toDouble();
    if (rpm > 0) { // 0 stands for a speed not yet known
        out_.speed = Contents::Speed{std::int64_t(log_time), rpm, channel->second.device};
        return Item::Speed;
    }
    return Item::End;
}

StreamReader::Item StreamReader::Impl::channelRecord(Cursor& fields)
{
    Channel channel;
    const auto id = fields.get<std::uint16_t>();
    channel.schema_id = fields.get<std::uint16_t>();
    channel.topic = fields.string();
    channel.message_encoding = fields.string();
    if (!fields.ok)
        return fail(malformedText("channel"));
    // Rounds come on <prefix>/tx710/points (ROS 2) or <prefix>/scan (JSON),
    // the JSON statuses on <prefix>/tx710/status.
    const bool cdr = channel.message_encoding == "cdr";
    const QByteArray suffix = cdr                       ? kPointsSuffix
        : channel.topic.endsWith(status::topic().topic) ? status::topic().topic
                                                        : pointcloud::topic().topic;
    if (!devices_.deviceOf(channel.topic, suffix, channel.device, out_.error))
        return Item::Failed;
    channels_[id] = channel;
    out_.devices = devices_.devices();
    return Item::End;
}

StreamReader::Item StreamReader::Impl::ros2Message(const Channel& channel, std::uint32_t sequence,
                                                   std::uint64_t log_time, const QByteArray& data,
                                                   const MessagePlace& place)
{
    ros2::ReplayItem item;
    if (!ros2_.take(channel.topic, schema_names_[channel.schema_id], sequence, log_time, data, item, out_.error))
        return Item::Failed;
    if (item.status)
        ++out_.status_messages;
    switch (item.kind) {
    case ros2::ReplayItem::Kind::Round:
        if (channel.device < 0)
            return Item::End;
        out_.round = std::move(item.round);
        out_.round.device = channel.device;
        out_.place = place;
        return Item::Round;
    case ros2::ReplayItem::Kind::Speed:
        out_.speed = item.speed;
        out_.speed.device = devices_.deviceOfFrame(item.status_frame);
        return Item::Speed;
    case ros2::ReplayItem::Kind::Transforms:
        return this->place(item.transforms);
    case ros2::ReplayItem::Kind::Nothing:
        break;
    }
    return Item::End;
}

StreamReader::Item StreamReader::Impl::place(const std::vector<ros2::TransformStamped>& transforms)
{
    QString reason;
    if (!devices_.place(transforms, reason))
        return fail(QStringLiteral("/tf_static: %1").arg(reason));
    out_.devices = devices_.devices();
    out_.base_frame = devices_.baseFrame();
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
    if (channel->second.device < 0) {
        error = QStringLiteral("the file changed since it was opened");
        return false;
    }
    if (channel->second.message_encoding != "cdr") {
        if (!decodeScan(channel->second, content, round, error))
            return false;
        round.device = channel->second.device;
        return true;
    }
    ros2::ReplayItem taken;
    ros2::McapReplay profile;
    if (!profile.take(channel->second.topic, schema_names_[channel->second.schema_id], sequence, log_time,
                      content.mid(kMessageHeaderBytes), taken, error))
        return false;
    if (taken.kind != ros2::ReplayItem::Kind::Round) {
        error = QStringLiteral("the file changed since it was opened");
        return false;
    }
    round = std::move(taken.round);
    round.device = channel->second.device;
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
