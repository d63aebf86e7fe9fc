#include "recording/point_cloud_message.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtEndian>

#include <cmath>
#include <cstring>

#include "recording/input_limits.h"
#include "recording/point_coordinates.h"

namespace tx710::pointcloud {

namespace {

// The package's value for float32 in the "type" of a field.
constexpr int kFloat32 = 7;

const char* const kFieldNames[] = {"x", "y", "z", "intensity", "angle", "distance"};

QByteArray readSchema(const QString& resource)
{
    QFile file(resource);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void appendFloat(QByteArray& bytes, float value)
{
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    char little[4];
    qToLittleEndian(bits, little);
    bytes.append(little, 4);
}

float floatAt(const char* at)
{
    const std::uint32_t bits = qFromLittleEndian<std::uint32_t>(at);
    float value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

} // namespace

const TopicDescription& topic()
{
    static const TopicDescription description{"/scan", "foxglove.PointCloud", "jsonschema",
                                              readSchema(QStringLiteral(":/schemas/foxglove/PointCloud.json")), "json"};
    return description;
}

QByteArray encode(const ScanRound& round, const ScanOptions& mounting)
{
    QByteArray data;
    data.reserve(int(round.points.size()) * kPointStride);
    for (const PointRecord& point : round.points) {
        const coordinates::PlanePoint plane = coordinates::fromPolar(point, mounting);
        appendFloat(data, float(plane.x_m));
        appendFloat(data, float(plane.y_m));
        appendFloat(data, 0.0f);
        appendFloat(data, point.intensity);
        appendFloat(data, point.angle);
        appendFloat(data, point.distance);
    }
    QByteArray json = "{\"timestamp\":" + jsonTime(round.receive_time_ns) + ",\"frame_id\":\""
        + QByteArray::fromStdString(mounting.frame_id)
        + "\",\"pose\":{\"position\":{\"x\":0,\"y\":0,\"z\":0},\"orientation\":{\"x\":0,\"y\":0,\"z\":0,\"w\":1}}"
          ",\"point_stride\":"
        + QByteArray::number(kPointStride) + ",\"fields\":[";
    int offset = 0;
    for (const char* name : kFieldNames) {
        if (offset > 0)
            json += ',';
        json += "{\"name\":\"" + QByteArray(name) + "\",\"offset\":" + QByteArray::number(offset)
            + ",\"type\":" + QByteArray::number(kFloat32) + '}';
        offset += 4;
    }
    json += "],\"data\":\"" + data.toBase64() + "\"}";
    return json;
}

bool decode(const QByteArray& json, ScanRound& round, QString& error, bool frame_angles)
{
    QJsonParseError parse_error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parse_error);
    if (!document.isObject()) {
        error = parse_error.error != QJsonParseError::NoError ? QStringLiteral("point cloud is not JSON: %1 at byte %2")
                                                                    .arg(parse_error.errorString())
                                                                    .arg(parse_error.offset)
                                                              : QStringLiteral("point cloud is not a JSON object");
        return false;
    }
    const QJsonObject message = document.object();
    const QJsonObject time = message.value(QLatin1String("timestamp")).toObject();
    const double sec = time.value(QLatin1String("sec")).toDouble(-1);
    const double nsec = time.value(QLatin1String("nsec")).toDouble(-1);
    if (!(sec >= 0 && sec < 1e10 && nsec >= 0 && nsec < 1e9)) {
        error = QStringLiteral("point cloud has no valid timestamp");
        return false;
    }
    const int stride = message.value(QLatin1String("point_stride")).toInt(0);
    if (stride <= 0) {
        error = QStringLiteral("point cloud has no valid point_stride");
        return false;
    }
    // Offsets of the fields a round needs, whatever their order.
    int offsets[5] = {-1, -1, -1, -1, -1};
    const char* const wanted[5] = {"intensity", "angle", "distance", "x", "y"};
    const int fields = frame_angles ? 5 : 3;
    for (const QJsonValue& value : message.value(QLatin1String("fields")).toArray()) {
        const QJsonObject field = value.toObject();
        for (int i = 0; i < fields; ++i) {
            if (field.value(QLatin1String("name")).toString() != QLatin1String(wanted[i]))
                continue;
            const int offset = field.value(QLatin1String("offset")).toInt(-1);
            if (field.value(QLatin1String("type")).toInt() != kFloat32 || offset < 0 || offset > stride - 4) {
                error = QStringLiteral("point cloud field %1 is not a float32 within the stride")
                            .arg(QLatin1String(wanted[i]));
                return false;
            }
            offsets[i] = offset;
        }
    }
    for (int i = 0; i < fields; ++i) {
        if (offsets[i] < 0) {
            error = QStringLiteral("point cloud has no %1 field").arg(QLatin1String(wanted[i]));
            return false;
        }
    }
    const QByteArray::FromBase64Result data = QByteArray::fromBase64Encoding(
        message.value(QLatin1String("data")).toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!data || data.decoded.size() % stride != 0) {
        error = QStringLiteral("point cloud data is not base64 of whole points");
        return false;
    }
    if (std::size_t(data.decoded.size() / stride) > limits::kPointsPerRound) {
        error = QStringLiteral("point cloud has more than %1 points").arg(limits::kPointsPerRound);
        return false;
    }
    round.receive_time_ns = std::int64_t(sec) * 1000000000 + std::int64_t(nsec);
    round.points.clear();
    round.points.reserve(std::size_t(data.decoded.size() / stride));
    for (int at = 0; at < data.decoded.size(); at += stride) {
        const char* point = data.decoded.constData() + at;
        PointRecord record{floatAt(point + offsets[0]), floatAt(point + offsets[2]), floatAt(point + offsets[1])};
        if (frame_angles && record.distance > 0)
            record.angle = float(
                deviceAngleOf(ScanOptions(), std::atan2(floatAt(point + offsets[4]), floatAt(point + offsets[3]))));
        // What no file of ours can write back is refused, as the data file's reader does.
        if (!std::isfinite(record.intensity) || !std::isfinite(record.distance) || !std::isfinite(record.angle)) {
            error = QStringLiteral("point %1 of the point cloud is not a finite number").arg(at / stride + 1);
            return false;
        }
        round.points.push_back(record);
    }
    return true;
}

} // namespace tx710::pointcloud
