#pragma once

// A file the recorder writes to, with every write checked: on failure the
// error names the path and the system's reason. Shared by the CSV and MCAP
// writers.

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

    // Creates or empties the file.
    bool open(const QString& path);
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

private:
    bool fail(const char* action, int error_number);

    int fd_ = -1;
    std::int64_t size_ = 0;
    QString path_;
    QString error_;
};

} // namespace tx710
