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
        Truncate,  // create or empty the file
        Append,    // create the file or add to its end
        CreateNew, // create the file; an existing one is an error (left alone)
        Replace,   // write a new file beside it that takes its place at close()
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
    // Keeps at least `bytes` of the disk beyond the end (written as zeros
    // that later writes overwrite), so that what must end the file still
    // fits when the disk fills. close() gives back what is left over.
    bool reserve(std::int64_t bytes);
    // Moves the end back to `size` (dropping a torn piece) and keeps the
    // disk space beyond it for what comes next.
    bool rewind(std::int64_t size);
    bool close();
    // Closes and removes what open() created (a new file, or the file meant
    // to replace an existing one, which stays as it was).
    void discard();

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
    std::int64_t reserved_end_ = 0; // the file's length on disk, when beyond size_
    bool created_ = false;
    QString path_;
    QString temporary_path_; // Replace: the new file, renamed to path_ at close()
    QString error_;
    QString reason_;
};

} // namespace tx710
