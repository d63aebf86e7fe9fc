#include "recording/data_file.h"

#include <QFile>

#include <cmath>

#include "recording/number_text.h"

namespace tx710::datafile {

namespace {

constexpr char kHeader[] = "Round angle distance intensity";

bool parseNumber(const QByteArray& field, double& value)
{
    bool ok = false;
    value = field.toDouble(&ok);
    return ok && std::isfinite(value);
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
        return QStringLiteral("round \"%1\" is not a whole number").arg(QString::fromLatin1(fields[0]));
    double angle = 0, distance = 0, intensity = 0;
    if (!parseNumber(fields[1], angle))
        return QStringLiteral("angle \"%1\" is not a number").arg(QString::fromLatin1(fields[1]));
    if (!parseNumber(fields[2], distance))
        return QStringLiteral("distance \"%1\" is not a number").arg(QString::fromLatin1(fields[2]));
    if (!parseNumber(fields[3], intensity))
        return QStringLiteral("intensity \"%1\" is not a number").arg(QString::fromLatin1(fields[3]));
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

bool parse(const QByteArray& bytes, Contents& contents, ReadError& error)
{
    contents = Contents();
    int save = 0;
    int line_number = 0;
    int from = 0;
    while (from < bytes.size()) {
        int end = bytes.indexOf('\n', from);
        if (end < 0) {
            contents.unterminated_tail = true;
            break;
        }
        ++line_number;
        QByteArray line = bytes.mid(from, end - from);
        from = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.trimmed().isEmpty())
            continue;
        if (line.simplified() == kHeader) {
            ++save;
            continue;
        }
        int round_number = 0;
        PointRecord point;
        const QString reason = parsePointLine(line, round_number, point);
        if (!reason.isEmpty()) {
            error = ReadError{line_number, reason};
            return false;
        }
        // Lines before any header count as the first save's.
        const int line_save = std::max(save, 1);
        if (contents.rounds.empty() || contents.rounds.back().save != line_save
            || contents.rounds.back().number != round_number)
            contents.rounds.push_back(RecordedRound{line_save, round_number, {}});
        contents.rounds.back().points.push_back(point);
    }
    return true;
}

bool readFile(const QString& path, Contents& contents, ReadError& error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = ReadError{0, QStringLiteral("cannot read %1: %2").arg(path, file.errorString())};
        return false;
    }
    return parse(file.readAll(), contents, error);
}

} // namespace tx710::datafile
