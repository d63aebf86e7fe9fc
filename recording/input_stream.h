#pragma once

// Reads an input file piece by piece (a regular file, a FIFO, a character
// device, or bytes already in memory), so that a reader holds only what it
// is working on. A wait for data (a FIFO with no writer yet) asks
// `cancelled` at least every 100 ms, so that a signal ends it. Regular files
// and bytes can be read again from any position.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>

namespace tx710::inputfile {

class InputStream
{
public:
    InputStream() = default;
    ~InputStream();
    InputStream(const InputStream&) = delete;
    InputStream& operator=(const InputStream&) = delete;

    // False with the reason in `error` ("No such file or directory").
    bool open(const QString& path, const std::function<bool()>& cancelled = {});
    void openBytes(const QByteArray& bytes);

    // A regular file or bytes: seek() works.
    bool seekable() const { return seekable_; }
    // Bytes from the start of the input.
    std::int64_t position() const { return position_; }
    bool seek(std::int64_t position);

    enum class Line {
        Read,    // a line, without its line feed
        Tail,    // the last bytes of the input, with no line feed after them
        End,     // nothing left
        TooLong, // more than the bytes asked for before a line feed
        Failed   // see error
    };
    // One line of at most `max_bytes`, measured before it is held.
    Line readLine(QByteArray& line, int max_bytes);
    // Up to `count` bytes into `into`; fewer only at the end or on failure.
    std::int64_t read(char* into, std::int64_t count);
    // At most `count` bytes, fewer at the end; nothing kept.
    std::int64_t skip(std::int64_t count);
    // The first `count` bytes not read yet, left to read.
    QByteArray peek(int count);
    // Set when a read failed: the reason ("interrupted", "Input/output error").
    QString error;

private:
    // More bytes into the buffer; false at the end or on failure.
    bool fill();

    int fd_ = -1;
    bool seekable_ = false;
    std::function<bool()> cancelled_;
    QByteArray buffer_; // read, not yet taken: [taken_, size)
    int taken_ = 0;
    bool at_end_ = false;
    std::int64_t position_ = 0;
};

} // namespace tx710::inputfile
