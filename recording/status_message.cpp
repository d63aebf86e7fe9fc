#include "recording/status_message.h"

#include <QFile>

#include <cmath>

namespace tx710::status {

namespace {

// JSON has no NaN or infinity; a figure not yet known reads 0.
QByteArray number(double value)
{
    return QByteArray::number(std::isfinite(value) ? value : 0.0, 'g', 10);
}

} // namespace

const TopicDescription& topic()
{
    static const TopicDescription description = [] {
        QFile file(QStringLiteral(":/schemas/tx710/Status.json"));
        const QByteArray text = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        return TopicDescription{"/tx710/status", "tx710.Status", "jsonschema", text, "json"};
    }();
    return description;
}

QByteArray encode(const Sample& sample)
{
    return "{\"timestamp\":" + jsonTime(sample.time_ns) + ",\"frames_per_second\":" + number(sample.frames_per_second)
        + ",\"crc_rejects\":" + QByteArray::number(qulonglong(sample.crc_rejects)) + ",\"rpm\":" + number(sample.rpm)
        + ",\"points_per_second\":" + number(sample.points_per_second) + '}';
}

} // namespace tx710::status
