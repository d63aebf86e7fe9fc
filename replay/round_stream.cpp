#include "replay/round_stream.h"

#include "recording/input_limits.h"
#include "recording/mcap_format.h"

namespace tx710::replay {

namespace {

QString changed()
{
    return QStringLiteral("the file changed since it was opened");
}

} // namespace

RoundStream::RoundStream() = default;
RoundStream::~RoundStream() = default;

bool RoundStream::open(const QString& path, QString& error, const std::function<bool()>& cancelled)
{
    if (!input_.open(path, cancelled)) {
        error = input_.error;
        return false;
    }
    return start(path, error);
}

bool RoundStream::openBytes(const QByteArray& bytes, const QString& name, QString& error)
{
    input_.openBytes(bytes);
    return start(name, error);
}

bool RoundStream::start(const QString& name, QString& error)
{
    const QByteArray first = input_.peek(8);
    if (!input_.error.isEmpty()) {
        error = input_.error;
        return false;
    }
    if (first.isEmpty()) {
        error = QStringLiteral("the file is empty");
        return false;
    }
    if (first == QByteArray(mcap::kMagic, 8) || name.endsWith(QStringLiteral(".mcap"), Qt::CaseInsensitive))
        mcap_ = std::make_unique<mcap::StreamReader>(input_);
    return true;
}

RoundStream::Item RoundStream::next(Round& round, RoundPlace& place, QString& error,
                                    std::vector<mcap::Contents::Speed>* speeds)
{
    if (!mcap_)
        return nextText(round, place, error);
    for (;;) {
        switch (mcap_->next()) {
        case mcap::StreamReader::Item::Round: {
            const auto device = std::size_t(mcap_->round.device);
            round = Round{std::move(mcap_->round.points), true, mcap_->round.receive_time_ns,
                          device < speeds_rpm_.size() ? speeds_rpm_[device] : kNoSpeed, int(device)};
            place = RoundPlace{mcap_->place.record, mcap_->place.inner};
            return Item::Round;
        }
        case mcap::StreamReader::Item::Speed:
            if (std::size_t(mcap_->speed.device) < mcap::kMaxDevices) {
                if (speeds_rpm_.size() <= std::size_t(mcap_->speed.device))
                    speeds_rpm_.resize(std::size_t(mcap_->speed.device) + 1, kNoSpeed);
                speeds_rpm_[std::size_t(mcap_->speed.device)] = mcap_->speed.rpm;
            }
            if (speeds)
                speeds->push_back(mcap_->speed);
            break;
        case mcap::StreamReader::Item::End:
            return Item::End;
        case mcap::StreamReader::Item::Failed:
            error = mcap_->error;
            return Item::Failed;
        }
    }
}

RoundStream::Item RoundStream::nextText(Round& round, RoundPlace& place, QString& error)
{
    round = Round();
    int number = 0;
    int round_save = 0;
    bool have = false;
    if (pending_) {
        pending_ = false;
        have = true;
        number = pending_number_;
        round_save = pending_save_;
        round.points.push_back(pending_point_);
        place = RoundPlace{pending_position_};
    }
    const auto fail = [&](const QString& reason) {
        error = datafile::ReadError{line_number_, reason}.text();
        return Item::Failed;
    };
    for (;;) {
        const std::int64_t line_start = input_.position();
        QByteArray line;
        const inputfile::InputStream::Line got = input_.readLine(line, limits::kLineBytes);
        switch (got) {
        case inputfile::InputStream::Line::Failed:
            error = input_.error;
            return Item::Failed;
        case inputfile::InputStream::Line::End:
            return have ? Item::Round : Item::End;
        case inputfile::InputStream::Line::TooLong:
            ++line_number_;
            return fail(QStringLiteral("longer than %1 bytes").arg(limits::kLineBytes));
        case inputfile::InputStream::Line::Tail: {
            // A last line without its line feed (a write cut short) is left
            // out; when it carries the round's number, that round is partial.
            const QByteArray tail = line.simplified();
            if (have && tail.left(tail.indexOf(' ')) == QByteArray::number(number))
                have = false;
            return have ? Item::Round : Item::End;
        }
        case inputfile::InputStream::Line::Read:
            break;
        }
        ++line_number_;
        datafile::LineKind kind = datafile::LineKind::Blank;
        int line_round = 0;
        PointRecord point;
        const QString reason = datafile::parseLine(line, kind, line_round, point);
        if (!reason.isEmpty())
            return fail(reason);
        if (kind == datafile::LineKind::Header) {
            if (first_header_ < 0)
                first_header_ = line_start;
            ++save_;
        }
        if (kind != datafile::LineKind::Point)
            continue;
        // Lines before any header count as the first save's.
        const int line_save = std::max(save_, 1);
        if (!have) {
            have = true;
            number = line_round;
            round_save = line_save;
            place = RoundPlace{line_start};
        } else if (line_save != round_save || line_round != number) {
            pending_ = true;
            pending_number_ = line_round;
            pending_save_ = line_save;
            pending_point_ = point;
            pending_position_ = line_start;
            return Item::Round;
        } else if (round.points.size() == limits::kPointsPerRound) {
            return fail(QStringLiteral("more than %1 points in a round").arg(limits::kPointsPerRound));
        }
        round.points.push_back(point);
    }
}

bool RoundStream::readAt(const RoundPlace& place, Round& round, QString& error)
{
    if (mcap_) {
        ScanRound scan;
        if (!mcap_->readRound(mcap::MessagePlace{place.position, place.inner}, scan, error))
            return false;
        round = Round{std::move(scan.points), true, scan.receive_time_ns};
        round.device = scan.device;
        return true;
    }
    if (!input_.seek(place.position)) {
        error = changed();
        return false;
    }
    // The first header does not part the lines before it from those after.
    save_ = first_header_ >= 0 && place.position > first_header_ ? 1 : 0;
    pending_ = false;
    line_number_ = 0;
    RoundPlace found;
    if (nextText(round, found, error) != Item::Round || found.position != place.position) {
        error = changed();
        return false;
    }
    return true;
}

} // namespace tx710::replay
