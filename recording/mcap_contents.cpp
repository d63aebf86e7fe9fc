// A whole MCAP recording at once: every round sorted by time, each with the
// turning speed of the status before it.

#include <algorithm>

#include "recording/input_file.h"
#include "recording/input_limits.h"
#include "recording/mcap_reader.h"

namespace tx710::mcap {

SpeedsByDevice::SpeedsByDevice(const std::vector<Contents::Speed>& speeds)
{
    for (const Contents::Speed& speed : speeds) {
        if (speed.device < 0 || std::size_t(speed.device) >= kMaxDevices)
            continue;
        if (devices_.size() <= std::size_t(speed.device))
            devices_.resize(std::size_t(speed.device) + 1);
        devices_[std::size_t(speed.device)].push_back(speed);
    }
    next_.assign(devices_.size(), 0);
}

double SpeedsByDevice::at(int device, std::int64_t time_ns)
{
    if (device < 0 || std::size_t(device) >= devices_.size() || devices_[std::size_t(device)].empty())
        return 0;
    const std::vector<Contents::Speed>& speeds = devices_[std::size_t(device)];
    std::size_t& speed = next_[std::size_t(device)];
    while (speed + 1 < speeds.size() && speeds[speed + 1].time_ns <= time_ns)
        ++speed;
    return speeds[speed].rpm;
}

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
    contents.devices = reader.devices;
    contents.base_frame = reader.base_frame;
    std::stable_sort(contents.rounds.begin(), contents.rounds.end(),
                     [](const ScanRound& a, const ScanRound& b) { return a.receive_time_ns < b.receive_time_ns; });
    std::stable_sort(contents.speeds.begin(), contents.speeds.end(),
                     [](const Contents::Speed& a, const Contents::Speed& b) { return a.time_ns < b.time_ns; });
    // Each round turns at the speed of its device's latest status before it
    // (the first status for the rounds before any).
    SpeedsByDevice speeds(contents.speeds);
    for (ScanRound& round : contents.rounds) {
        const double rpm = speeds.at(round.device, round.receive_time_ns);
        if (rpm > 0)
            round.speed_rpm = rpm;
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
