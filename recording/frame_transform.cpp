#include "recording/frame_transform.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

#include "recording/scan_options.h"

namespace tx710::frametransform {

namespace {

QJsonObject xyz(double x, double y, double z)
{
    return QJsonObject{{"x", x}, {"y", y}, {"z", z}};
}

QString quoted(const std::string& text)
{
    return QStringLiteral("'%1'").arg(QString::fromStdString(shortEscaped(text)));
}

// A JSON number, or NaN when it is none (QJsonValue takes a missing one as 0).
double number(const QJsonObject& object, const char* key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    return value.isDouble() ? value.toDouble() : std::nan("");
}

} // namespace

const TopicDescription& topic()
{
    static const TopicDescription description = [] {
        QFile file(QStringLiteral(":/schemas/tx710/FrameTransform.json"));
        const QByteArray text = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        return TopicDescription{"/tf_static", "foxglove.FrameTransform", "jsonschema", text, "json"};
    }();
    return description;
}

QByteArray encode(const ros2::TransformStamped& transform)
{
    const ros2::Transform& t = transform.transform;
    const QJsonObject object{
        {"timestamp",
         QJsonObject{{"sec", double(transform.header.stamp.sec)}, {"nsec", double(transform.header.stamp.nanosec)}}},
        {"parent_frame_id", QString::fromStdString(transform.header.frame_id)},
        {"child_frame_id", QString::fromStdString(transform.child_frame_id)},
        {"translation", xyz(t.translation.x, t.translation.y, t.translation.z)},
        {"rotation", QJsonObject{{"x", t.rotation.x}, {"y", t.rotation.y}, {"z", t.rotation.z}, {"w", t.rotation.w}}}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

bool decode(const QByteArray& json, ros2::TransformStamped& transform, QString& error)
{
    const QJsonDocument document = QJsonDocument::fromJson(json);
    const QJsonObject object = document.object();
    const QJsonValue parent = object.value(QLatin1String("parent_frame_id"));
    const QJsonValue child = object.value(QLatin1String("child_frame_id"));
    if (!document.isObject() || !parent.isString() || !child.isString()) {
        error = QStringLiteral("a FrameTransform without its frame ids");
        return false;
    }
    transform.header.frame_id = parent.toString().toStdString();
    transform.child_frame_id = child.toString().toStdString();
    const QJsonObject translation = object.value(QLatin1String("translation")).toObject();
    const QJsonObject rotation = object.value(QLatin1String("rotation")).toObject();
    transform.transform.translation =
        ros2::Vector3{number(translation, "x"), number(translation, "y"), number(translation, "z")};
    transform.transform.rotation =
        ros2::Quaternion{number(rotation, "x"), number(rotation, "y"), number(rotation, "z"), number(rotation, "w")};
    return true;
}

bool placementOf(const ros2::TransformStamped& transform, mcap::DevicePlacement& placement, QString& error)
{
    const auto badFrame = [](const std::string& frame) {
        return frame.empty() || frame.size() > std::size_t(mcap::kMaxFrameIdChars);
    };
    if (badFrame(transform.header.frame_id) || badFrame(transform.child_frame_id)) {
        error = QStringLiteral("a transform from %1 to %2: frame ids have 1 to %3 characters")
                    .arg(quoted(transform.header.frame_id), quoted(transform.child_frame_id))
                    .arg(mcap::kMaxFrameIdChars);
        return false;
    }
    const ros2::Vector3& v = transform.transform.translation;
    const ros2::Quaternion& q = transform.transform.rotation;
    const QString to = quoted(transform.child_frame_id);
    const double distance = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    const double norm = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
    if (!std::isfinite(distance) || !std::isfinite(norm)) {
        error = QStringLiteral("the transform to %1 is not finite").arg(to);
        return false;
    }
    if (distance > kMaxDistanceM) {
        error = QStringLiteral("the transform to %1 lies %2 m away, more than %3 m")
                    .arg(to)
                    .arg(distance)
                    .arg(kMaxDistanceM);
        return false;
    }
    if (std::abs(norm - 1) > 1e-3) {
        error = QStringLiteral("the transform to %1 turns by a quaternion of length %2, not 1").arg(to).arg(norm);
        return false;
    }
    placement.frame_id = QString::fromStdString(transform.child_frame_id);
    placement.placed = true;
    placement.x = v.x;
    placement.y = v.y;
    placement.z = v.z;
    placement.yaw_deg = std::atan2(2 * (q.w * q.z + q.x * q.y), 1 - 2 * (q.y * q.y + q.z * q.z)) * 180 / M_PI;
    return true;
}

} // namespace tx710::frametransform
