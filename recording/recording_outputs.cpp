#include "recording/recording_outputs.h"

#include <QFileInfo>

#include "recording/csv_writer.h"
#include "recording/data_file_writer.h"
#include "recording/mcap_writer.h"
#include "recording/output_file.h"

namespace tx710 {

struct RecordingOutputs::Output {
    Output(const QString& file_path, Format file_format, const ScanOptions& scan)
        : path(file_path), format(file_format), text(file_path), mcap(mcapOptions(scan))
    {}
    static mcap::WriterOptions mcapOptions(const ScanOptions& scan)
    {
        mcap::WriterOptions options;
        options.scan = scan;
        return options;
    }
    QString path;
    Format format;
    DataFileWriter text;
    int text_rounds = 0;
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

bool RecordingOutputs::open(const QStringList& paths)
{
    close();
    outputs_.clear();
    error_.clear();
    failed_ = false;
    for (const QString& path : paths) {
        Format format;
        if (!formatFor(path, format)) {
            close();
            return fail(QStringLiteral("%1: unknown format (give .txt, .csv or .mcap)").arg(path));
        }
        outputs_.push_back(std::make_unique<Output>(path, format, scan_options_));
        Output& out = *outputs_.back();
        bool opened = true;
        switch (format) {
        case Format::Text: {
            // A new data file, as a save starts one; the header comes with the first round.
            OutputFile file;
            opened = file.open(path) && file.close();
            if (!opened)
                fail(file.errorString());
            break;
        }
        case Format::Csv:
            opened = out.csv.open(path, scan_options_) || fail(out.csv.errorString());
            break;
        case Format::Mcap:
            opened = out.mcap.open(path) || fail(out.mcap.errorString());
            break;
        }
        if (!opened) {
            const QString error = error_;
            close();
            error_ = error;
            return false;
        }
    }
    return true;
}

bool RecordingOutputs::writeRound(const ScanRound& round)
{
    if (failed_)
        return false;
    for (const auto& out : outputs_) {
        switch (out->format) {
        case Format::Text:
            // Numbered from 1 with the header first, byte for byte a save.
            if (!out->text.appendRound(out->text_rounds + 1, round.points, out->text_rounds == 0))
                return fail(QStringLiteral("%1: %2").arg(out->path, out->text.errorString()));
            ++out->text_rounds;
            break;
        case Format::Csv:
            if (!out->csv.writeRound(round))
                return fail(out->csv.errorString());
            break;
        case Format::Mcap:
            if (!out->mcap.writeRound(round))
                return fail(out->mcap.errorString());
            break;
        }
    }
    return true;
}

bool RecordingOutputs::writeStatus(const status::Sample& sample)
{
    if (failed_)
        return false;
    for (const auto& out : outputs_) {
        if (out->format == Format::Mcap && !out->mcap.writeStatus(sample))
            return fail(out->mcap.errorString());
    }
    return true;
}

bool RecordingOutputs::close()
{
    // Every file is ended, whatever failed before.
    for (const auto& out : outputs_) {
        if (out->format == Format::Csv && !out->csv.close())
            fail(out->csv.errorString());
        else if (out->format == Format::Mcap && !out->mcap.close())
            fail(out->mcap.errorString());
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
