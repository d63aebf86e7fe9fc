#pragma once

// The recording's files, chosen by extension: ".txt" the viewer's data file
// (header, rounds numbered from 1 as a save numbers them), ".csv" and ".mcap".
// Every round goes to every file whole; status samples go to the MCAP files.
// After the first failure nothing more is written and errorString() names the
// file and the system's reason; close() still ends every file properly.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <vector>

#include "recording/round_sink.h"
#include "recording/scan_options.h"

namespace tx710 {

class RecordingOutputs : public RoundSink
{
public:
    enum class Format { Text, Csv, Mcap };

    RecordingOutputs();
    ~RecordingOutputs() override;

    // The format for a path's extension; false for an unknown one.
    static bool formatFor(const QString& path, Format& format);

    // The profile and scan shape of the MCAP files; before open().
    void setScanOptions(const ScanOptions& options) { scan_options_ = options; }

    // Creates (or empties) every file. On failure the files opened so far are
    // closed again and errorString() tells which file failed and why.
    bool open(const QStringList& paths);

    bool writeRound(const ScanRound& round) override;
    bool writeStatus(const status::Sample& sample) override;
    bool close() override;
    QString errorString() const override { return error_; }

    struct FileSize {
        QString path;
        std::int64_t bytes = 0;
    };
    std::vector<FileSize> sizes() const;

private:
    struct Output;
    bool fail(const QString& error);

    std::vector<std::unique_ptr<Output>> outputs_;
    QString error_;
    bool failed_ = false;
    ScanOptions scan_options_;
};

} // namespace tx710
