#pragma once

// The byte-level reading of MCAP records: little-endian fields out of a byte
// range, and a chunk's records uncompressed and checked.

#include <QByteArray>
#include <QString>
#include <QtEndian>

#include <cstdint>

#include "recording/input_limits.h"

namespace tx710::mcap {

// Reads little-endian fields from a byte range; any read past its end sets
// `ok` to false and yields zeros.
class Cursor
{
public:
    Cursor(const char* data, std::uint64_t size) : data_(data), size_(size) {}

    bool ok = true;
    std::uint64_t left() const { return size_ - at_; }
    std::uint64_t position() const { return at_; }

    template <typename T> T get()
    {
        if (!take(sizeof(T)))
            return 0;
        return qFromLittleEndian<T>(data_ + at_ - sizeof(T));
    }
    QByteArray bytes(std::uint64_t length)
    {
        if (!take(length))
            return QByteArray();
        return QByteArray(data_ + at_ - length, int(length));
    }
    QByteArray string() { return bytes(get<std::uint32_t>()); }

private:
    bool take(std::uint64_t length)
    {
        if (!ok || length > left()) {
            ok = false;
            return false;
        }
        at_ += length;
        return true;
    }

    const char* data_;
    std::uint64_t size_;
    std::uint64_t at_ = 0;
};

// A record held for reading: a chunk, the largest, with room for its fields
// and for zstd's overhead on data that does not compress.
constexpr std::uint64_t kHeldRecordBytes = limits::kChunkBytes + (1u << 20);
constexpr int kMessageHeaderBytes = 2 + 4 + 8 + 8;

QString malformedText(const char* what);

// A chunk's records, uncompressed and checked; empty with `error` on failure.
bool unpackChunk(const QByteArray& content, QByteArray& records, QString& error);

} // namespace tx710::mcap
