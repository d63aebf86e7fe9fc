// A whole MCAP recording at once: every round sorted by time, each with the
// turning speed of the status before it.

#include <algorithm>

#include "recording/input_file.h"
#include "recording/input_limits.h"
#include "recording/mcap_reader.h"

namespace tx710::mcap {

bool parse(const QByteArray& bytes, Contents& contents, QString& error)
{
    contents = Contents();
    inputfile::InputStream input;
    input.openBytes(bytes);
    StreamReader reader(input);
    for (;;) {
        const StreamReader::Item item = reader.next();
        if (item == StreamReader::Item::Failed) {
            error = reader.error;
            return false;
        }
        if (item == StreamReader::Item::End)
            break;
        if (item == StreamReader::Item::Round)
            contents.rounds.push_back(std::move(reader.round));
        else
            contents.speeds.push_back(reader.speed);
    }
    contents.status_messages = reader.status_messages;
    contents.complete = reader.complete;
    std::stable_sort(contents.rounds.begin(), contents.rounds.end(),
                     [](const ScanRound& a, const ScanRound& b) { return a.receive_time_ns < b.receive_time_ns; });
    std::stable_sort(contents.speeds.begin(), contents.speeds.end(),
                     [](const Contents::Speed& a, const Contents::Speed& b) { return a.time_ns < b.time_ns; });
    // Each round turns at the speed of the latest status before it (the
    // first status for the rounds before any).
    std::size_t speed = 0;
    for (ScanRound& round : contents.rounds) {
        while (speed + 1 < contents.speeds.size() && contents.speeds[speed + 1].time_ns <= round.receive_time_ns)
            ++speed;
        if (!contents.speeds.empty())
            round.speed_rpm = contents.speeds[speed].rpm;
    }
    return true;
}

bool readFile(const QString& path, Contents& contents, QString& error)
{
    QByteArray bytes;
    if (!inputfile::read(path, limits::kRecordingBytes, bytes, error)) {
        error = QStringLiteral("cannot read %1: %2").arg(path, error);
        return false;
    }
    if (!parse(bytes, contents, error)) {
        error = QStringLiteral("%1: %2").arg(path, error);
        return false;
    }
    return true;
}

} // namespace tx710::mcap
