#pragma once

// The recording's files, chosen by extension: ".txt" the viewer's data file
// (header, rounds numbered from 1 as a save numbers them), ".csv" and ".mcap".
// Every round goes to every file whole; status samples go to the MCAP files.
// The files are created with the first round (a source that never delivers
// one leaves no file), each stays open until close(). After the first failure
// nothing more is written and errorString() names the file and the system's
// reason; close() still ends every file properly, and removes a file that
// holds no round (an existing file it was to replace stays as it was).
// A .txt or .csv name holding {device} becomes one file per LiDAR, the
// frame id in its place, with that LiDAR's rounds only; an .mcap file holds
// every LiDAR.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <vector>

#include "recording/output_file.h"
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

    // What is put in a .txt or .csv name for each LiDAR.
    static constexpr char kDeviceField[] = "{device}";
    struct Target {
        QString path;
        Format format = Format::Text;
        int device = -1; // the one LiDAR it holds; -1: every one
    };
    // The files that `paths` (known formats) become for `devices`.
    static std::vector<Target> targets(const QStringList& paths, const DeviceScans& devices);

    // The profile and scan shape of the MCAP files and the mounting of the
    // CSV files' x and y; before open().
    void setDevices(const DeviceScans& devices) { devices_ = devices; }

    // Takes the files to write, opened with `mode` at the first round; false
    // for an unknown format (errorString() says which file).
    bool open(const QStringList& paths, OutputFile::Mode mode = OutputFile::Mode::Truncate);

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
    bool create();

    std::vector<std::unique_ptr<Output>> outputs_;
    OutputFile::Mode mode_ = OutputFile::Mode::Truncate;
    QString error_;
    bool failed_ = false;
    DeviceScans devices_ = {ScanOptions()};
    bool created_ = false;
};

} // namespace tx710
