#include "recording/data_file.h"

#include <QFile>

#include <cfloat>
#include <cmath>

#include "recording/input_file.h"
#include "recording/input_limits.h"
#include "recording/number_text.h"
#include "recording/quoted_value.h"

namespace tx710::datafile {

namespace {

constexpr char kHeader[] = "Round angle distance intensity";

// Only what a float holds: a value the writer could not write back is refused.
bool parseNumber(const QByteArray& field, double& value)
{
    bool ok = false;
    value = field.toDouble(&ok);
    return ok && std::fabs(value) <= double(FLT_MAX);
}

QString notA(const char* what, const QByteArray& field, const char* kind)
{
    return QStringLiteral("%1 %2 is not a %3").arg(QLatin1String(what), quotedValue(field), QLatin1String(kind));
}

// Fills `round_number` and `point` from one line; returns the reason on failure.
QString parsePointLine(const QByteArray& line, int& round_number, PointRecord& point)
{
    const QList<QByteArray> fields = line.simplified().split(' ');
    if (fields.size() != 4)
        return QStringLiteral("expected four fields: round angle distance intensity");
    bool ok = false;
    round_number = fields[0].toInt(&ok);
    if (!ok || round_number < 0)
        return notA("round", fields[0], "whole number");
    double angle = 0, distance = 0, intensity = 0;
    if (!parseNumber(fields[1], angle))
        return notA("angle", fields[1], "number");
    if (!parseNumber(fields[2], distance))
        return notA("distance", fields[2], "number");
    if (!parseNumber(fields[3], intensity))
        return notA("intensity", fields[3], "number");
    point = PointRecord{float(intensity), float(distance), float(angle)};
    return QString();
}

// A value through its text and back, as the writer and the reader do it.
float throughText(float value, char format, int precision)
{
    return float(QByteArray::number(double(value), format, precision).toDouble());
}

} // namespace

PointRecord asWritten(const PointRecord& point)
{
    PointRecord out = point;
    // Angles: 3 decimals. Scaling a float by 1000 is exact in a double, and
    // the text rounds halves away from zero as std::round does; the reader
    // then makes the nearest double to n/1000, as the division does.
    const double scaled = double(point.angle) * 1000.0;
    out.angle = std::isfinite(scaled) ? float(std::round(scaled) / 1000.0) : point.angle;
    // Distance and intensity: 6 significant digits, so whole numbers below
    // a million (all the device gives) stay as they are.
    for (float* value : {&out.distance, &out.intensity}) {
        if (!(std::fabs(*value) < 1e6f && *value == std::trunc(*value)))
            *value = throughText(*value, 'g', 6);
    }
    return out;
}

QByteArray headerLine()
{
    return QByteArray(kHeader) + '\n';
}

void appendRound(QByteArray& text, int round_number, const std::vector<PointRecord>& points)
{
    const QByteArray round_field = QByteArray::number(round_number);
    for (const PointRecord& point : points) {
        text += round_field;
        text += ' ';
        appendPointFields(text, point, ' ');
        text += '\n';
    }
}

void appendPointFields(QByteArray& text, const PointRecord& point, char separator)
{
    numbertext::appendFixed(text, double(point.angle), 3);
    text += separator;
    numbertext::appendGeneral6(text, double(point.distance));
    text += separator;
    numbertext::appendGeneral6(text, double(point.intensity));
}

QString ReadError::text() const
{
    return line > 0 ? QStringLiteral("line %1: %2").arg(line).arg(reason) : reason;
}

QString parseLine(const QByteArray& text, LineKind& kind, int& round_number, PointRecord& point)
{
    QByteArray line = text;
    if (line.endsWith('\r'))
        line.chop(1);
    kind = line.trimmed().isEmpty()    ? LineKind::Blank
        : line.simplified() == kHeader ? LineKind::Header
                                       : LineKind::Point;
    return kind == LineKind::Point ? parsePointLine(line, round_number, point) : QString();
}

bool parse(const QByteArray& bytes, Contents& contents, ReadError& error)
{
    contents = Contents();
    int save = 0;
    int line_number = 0;
    int from = 0;
    while (from < bytes.size()) {
        int end = bytes.indexOf('\n', from);
        ++line_number;
        // Measured before the line is copied.
        if ((end < 0 ? bytes.size() : end) - from > limits::kLineBytes) {
            error = ReadError{line_number, QStringLiteral("longer than %1 bytes").arg(limits::kLineBytes)};
            return false;
        }
        if (end < 0) {
            contents.unterminated_tail = true;
            break;
        }
        const QByteArray line = QByteArray::fromRawData(bytes.constData() + from, end - from);
        from = end + 1;
        LineKind kind = LineKind::Blank;
        int round_number = 0;
        PointRecord point;
        const QString reason = parseLine(line, kind, round_number, point);
        if (!reason.isEmpty()) {
            error = ReadError{line_number, reason};
            return false;
        }
        if (kind == LineKind::Header)
            ++save;
        if (kind != LineKind::Point)
            continue;
        // Lines before any header count as the first save's.
        const int line_save = std::max(save, 1);
        const bool new_round = contents.rounds.empty() || contents.rounds.back().save != line_save
            || contents.rounds.back().number != round_number;
        if (!new_round && contents.rounds.back().points.size() == limits::kPointsPerRound) {
            error =
                ReadError{line_number, QStringLiteral("more than %1 points in a round").arg(limits::kPointsPerRound)};
            return false;
        }
        if (new_round)
            contents.rounds.push_back(RecordedRound{line_save, round_number, {}});
        contents.rounds.back().points.push_back(point);
    }
    return true;
}

bool readFile(const QString& path, Contents& contents, ReadError& error)
{
    QByteArray bytes;
    QString reason;
    if (!inputfile::read(path, limits::kRecordingBytes, bytes, reason)) {
        error = ReadError{0, QStringLiteral("cannot read %1: %2").arg(path, reason)};
        return false;
    }
    return parse(bytes, contents, error);
}

} // namespace tx710::datafile
