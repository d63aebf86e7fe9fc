#include "replay/recording_file.h"

#include "recording/input_file.h"
#include "recording/input_limits.h"
#include "recording/mcap_format.h"
#include "recording/mcap_reader.h"

namespace tx710::replay {

namespace {

bool fromText(const QByteArray& bytes, std::vector<Round>& rounds, QString& error)
{
    datafile::Contents contents;
    datafile::ReadError read_error;
    if (!datafile::parse(bytes, contents, read_error)) {
        error = read_error.text();
        return false;
    }
    // A write cut short inside a round leaves that round partial: the cut
    // line carries the same round number as the lines before it.
    if (contents.unterminated_tail && !contents.rounds.empty()) {
        const QByteArray tail = bytes.mid(bytes.lastIndexOf('\n') + 1).simplified();
        if (tail.left(tail.indexOf(' ')) == QByteArray::number(contents.rounds.back().number))
            contents.rounds.pop_back();
    }
    for (datafile::RecordedRound& recorded : contents.rounds)
        rounds.push_back(Round{std::move(recorded.points)});
    return true;
}

bool fromMcap(const QByteArray& bytes, std::vector<Round>& rounds, QString& error)
{
    mcap::Contents contents;
    if (!mcap::parse(bytes, contents, error))
        return false;
    for (ScanRound& scan : contents.rounds) {
        Round round{std::move(scan.points), true, scan.receive_time_ns};
        if (scan.speed_rpm > 0)
            round.speed_rpm = scan.speed_rpm;
        rounds.push_back(std::move(round));
    }
    return true;
}

} // namespace

bool parseRecording(const QByteArray& bytes, const QString& name, std::vector<Round>& rounds, QString& error)
{
    rounds.clear();
    if (bytes.isEmpty()) {
        error = QStringLiteral("the file is empty");
        return false;
    }
    const bool is_mcap =
        bytes.startsWith(QByteArray(mcap::kMagic, 8)) || name.endsWith(QStringLiteral(".mcap"), Qt::CaseInsensitive);
    if (!(is_mcap ? fromMcap(bytes, rounds, error) : fromText(bytes, rounds, error))) {
        rounds.clear();
        return false;
    }
    if (rounds.empty()) {
        error = QStringLiteral("the file holds no whole round");
        return false;
    }
    return true;
}

bool loadRecording(const QString& path, std::vector<Round>& rounds, QString& error,
                   const std::function<bool()>& cancelled)
{
    rounds.clear();
    QByteArray bytes;
    return inputfile::read(path, limits::kRecordingBytes, bytes, error, cancelled)
        && parseRecording(bytes, path, rounds, error);
}

} // namespace tx710::replay
