#include "recording/recording_outputs.h"

#include <QFileInfo>

#include <algorithm>

#include "recording/csv_writer.h"
#include "recording/data_file.h"
#include "recording/mcap_writer.h"

namespace tx710 {

struct RecordingOutputs::Output {
    Output(const Target& target, const DeviceScans& devices)
        : path(target.path), format(target.format), device(target.device), mcap(mcapOptions(devices))
    {}
    static mcap::WriterOptions mcapOptions(const DeviceScans& devices)
    {
        mcap::WriterOptions options;
        options.devices = devices;
        return options;
    }
    QString path;
    Format format;
    int device;
    OutputFile text;
    int rounds = 0;
    csv::Writer csv;
    mcap::Writer mcap;
};

RecordingOutputs::RecordingOutputs() = default;

RecordingOutputs::~RecordingOutputs()
{
    close();
}

bool RecordingOutputs::formatFor(const QString& path, Format& format)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("txt"))
        format = Format::Text;
    else if (suffix == QLatin1String("csv"))
        format = Format::Csv;
    else if (suffix == QLatin1String("mcap"))
        format = Format::Mcap;
    else
        return false;
    return true;
}

bool RecordingOutputs::fail(const QString& error)
{
    if (!failed_)
        error_ = error;
    failed_ = true;
    return false;
}

bool RecordingOutputs::open(const QStringList& paths, OutputFile::Mode mode)
{
    close();
    outputs_.clear();
    error_.clear();
    failed_ = false;
    created_ = false;
    mode_ = mode;
    for (const QString& path : paths) {
        Format format;
        if (!formatFor(path, format)) {
            outputs_.clear();
            return fail(QStringLiteral("%1: unknown format (give .txt, .csv or .mcap)").arg(path));
        }
    }
    for (const Target& target : targets(paths, devices_))
        outputs_.push_back(std::make_unique<Output>(target, devices_));
    return true;
}

std::vector<RecordingOutputs::Target> RecordingOutputs::targets(const QStringList& paths, const DeviceScans& devices)
{
    std::vector<Target> targets;
    for (const QString& path : paths) {
        Target target{path};
        formatFor(path, target.format);
        if (target.format == Format::Mcap || !path.contains(QLatin1String(kDeviceField))) {
            targets.push_back(target);
            continue;
        }
        for (std::size_t i = 0; i < devices.size(); ++i) {
            target.path =
                QString(path).replace(QLatin1String(kDeviceField), QString::fromStdString(devices[i].frame_id));
            target.device = int(i);
            targets.push_back(target);
        }
    }
    return targets;
}

bool RecordingOutputs::create()
{
    created_ = true;
    for (const auto& out : outputs_) {
        switch (out->format) {
        case Format::Text:
            // The header comes with the first round, as a save writes it.
            if (!out->text.open(out->path, mode_))
                return fail(out->text.errorString());
            break;
        case Format::Csv:
            if (!out->csv.open(out->path, mode_, devices_.at(std::size_t(std::max(out->device, 0)))))
                return fail(out->csv.errorString());
            break;
        case Format::Mcap:
            if (!out->mcap.open(out->path, mode_))
                return fail(out->mcap.errorString());
            break;
        }
    }
    return true;
}

bool RecordingOutputs::writeRound(const ScanRound& round)
{
    if (failed_ || (!created_ && !create()))
        return false;
    for (const auto& out : outputs_) {
        if (out->device >= 0 && out->device != round.device)
            continue;
        switch (out->format) {
        case Format::Text: {
            // Numbered from 1 with the header first, byte for byte a save.
            QByteArray text = out->rounds == 0 ? datafile::headerLine() : QByteArray();
            datafile::appendRound(text, out->rounds + 1, round.points);
            const std::int64_t start = out->text.size();
            if (!out->text.write(text)) {
                // Only whole rounds stay.
                out->text.truncate(start);
                return fail(out->text.errorString());
            }
            break;
        }
        case Format::Csv:
            if (!out->csv.writeRound(round))
                return fail(out->csv.errorString());
            break;
        case Format::Mcap:
            if (!out->mcap.writeRound(round))
                return fail(out->mcap.errorString());
            break;
        }
        ++out->rounds;
    }
    return true;
}

bool RecordingOutputs::writeStatus(const status::Sample& sample)
{
    // Before the first round there is no file to hold a status.
    if (failed_ || !created_)
        return !failed_;
    for (const auto& out : outputs_) {
        if (out->format == Format::Mcap && !out->mcap.writeStatus(sample))
            return fail(out->mcap.errorString());
    }
    return true;
}

bool RecordingOutputs::close()
{
    // Every file is ended, whatever failed before; one without a round goes.
    for (const auto& out : outputs_) {
        if (out->rounds == 0) {
            out->text.discard();
            out->csv.discard();
            out->mcap.discard();
        } else if (out->format == Format::Text && !out->text.close()) {
            fail(out->text.errorString());
        } else if (out->format == Format::Csv && !out->csv.close()) {
            fail(out->csv.errorString());
        } else if (out->format == Format::Mcap && !out->mcap.close()) {
            fail(out->mcap.errorString());
        }
    }
    return !failed_;
}

std::vector<RecordingOutputs::FileSize> RecordingOutputs::sizes() const
{
    std::vector<FileSize> sizes;
    for (const auto& out : outputs_)
        sizes.push_back(FileSize{out->path, QFileInfo(out->path).size()});
    return sizes;
}

} // namespace tx710
