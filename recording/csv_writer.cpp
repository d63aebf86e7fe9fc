#include "recording/csv_writer.h"

#include "recording/data_file.h"
#include "recording/number_text.h"
#include "recording/point_coordinates.h"

namespace tx710::csv {

namespace {

// Whole seconds and microseconds from integers, free of rounding.
QByteArray seconds(std::int64_t time_ns)
{
    const std::int64_t micro = (time_ns < 0 ? 0 : time_ns) / 1000;
    return QByteArray::number(qint64(micro / 1000000)) + '.'
        + QByteArray::number(qint64(micro % 1000000)).rightJustified(6, '0');
}

} // namespace

QByteArray headerLine()
{
    return "round,time,angle_deg,distance_mm,intensity,x_m,y_m\n";
}

void appendRound(QByteArray& text, const ScanRound& round, const ScanOptions& mounting)
{
    const QByteArray prefix = QByteArray::number(round.number) + ',' + seconds(round.receive_time_ns) + ',';
    for (const PointRecord& point : round.points) {
        const coordinates::PlanePoint plane = coordinates::fromPolar(point, mounting);
        text += prefix;
        datafile::appendPointFields(text, point, ',');
        text += ',';
        numbertext::appendFixed(text, plane.x_m, 6);
        text += ',';
        numbertext::appendFixed(text, plane.y_m, 6);
        text += '\n';
    }
}

bool Writer::open(const QString& path, OutputFile::Mode mode, const ScanOptions& mounting)
{
    mounting_ = mounting;
    error_.clear();
    if (file_.open(path, mode) && file_.write(headerLine()))
        return true;
    error_ = file_.errorString();
    return false;
}

bool Writer::writeRound(const ScanRound& round)
{
    QByteArray text;
    appendRound(text, round, mounting_);
    const std::int64_t start = file_.size();
    if (file_.write(text))
        return true;
    error_ = file_.errorString();
    file_.truncate(start);
    return false;
}

bool Writer::close()
{
    if (file_.close())
        return error_.isEmpty();
    error_ = file_.errorString();
    return false;
}

} // namespace tx710::csv
