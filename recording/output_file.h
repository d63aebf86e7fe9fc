#pragma once

// The one owner of checked file writing: every write is checked where it
// reaches the system, and on failure the error names the path and the
// system's reason. Used by the CSV, MCAP and data file writers.

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace tx710 {

class OutputFile
{
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    enum class Mode {
        Truncate, // create or empty the file
        Append,   // create the file or add to its end
    };

    bool open(const QString& path, Mode mode = Mode::Truncate);
    // True when the last open() made the file.
    bool created() const { return created_; }
    bool isOpen() const { return fd_ >= 0; }
    // Writes all of `bytes` at the end; a short write counts as a failure.
    bool write(const QByteArray& bytes);
    // Cuts the file back to `size` bytes (dropping a half-written piece).
    bool truncate(std::int64_t size);
    // Asks the system to put the written bytes on the device.
    bool sync();
    bool close();

    std::int64_t size() const { return size_; }
    const QString& path() const { return path_; }
    // "cannot write /path/file.mcap: File too large"
    const QString& errorString() const { return error_; }
    // The system's part of the last failure: "File too large".
    const QString& reason() const { return reason_; }

private:
    bool fail(const char* action, int error_number);

    int fd_ = -1;
    std::int64_t size_ = 0;
    bool created_ = false;
    QString path_;
    QString error_;
    QString reason_;
};

} // namespace tx710
