// The records of an MCAP file read front to back (see the header).

#include "recording/mcap_record_stream.h"

#include <QtEndian>

#include <algorithm>

#include <zlib.h>

#include "recording/mcap_chunk.h"
#include "recording/mcap_format.h"
#include "recording/mcap_reader.h"

namespace tx710::mcap {

std::int64_t RecordStream::take(char* into, std::int64_t count)
{
    std::int64_t done = 0;
    char piece[16384];
    while (done < count) {
        char* target = into ? into + done : piece;
        const std::int64_t want = into ? count - done : std::min<std::int64_t>(count - done, sizeof piece);
        const std::int64_t got = input_.read(target, want);
        crc_ = std::uint32_t(::crc32(crc_, reinterpret_cast<const Bytef*>(target), uInt(got)));
        last_bytes_.append(target + std::max<std::int64_t>(0, got - 8), int(std::min<std::int64_t>(got, 8)));
        last_bytes_ = last_bytes_.right(8);
        done += got;
        if (got < want)
            break;
    }
    return done;
}

RecordStream::Read RecordStream::readRecord(std::uint8_t& opcode, QByteArray& content, bool hold)
{
    char head[9];
    const std::int64_t got = take(head, 9);
    if (got < 9)
        return !input_.error.isEmpty() ? Read::Failed : got == 0 ? Read::End : Read::Torn;
    opcode = std::uint8_t(head[0]);
    const auto length = qFromLittleEndian<std::uint64_t>(head + 1);
    content.clear();
    if (!hold || length > kHeldRecordBytes) {
        // Not needed, or too large to hold: passed over, a piece at a time.
        if (std::uint64_t(take(nullptr, std::int64_t(std::min<std::uint64_t>(length, INT64_MAX)))) < length)
            return input_.error.isEmpty() ? Read::Torn : Read::Failed;
        if (hold) {
            error = QStringLiteral("a record of %1 bytes, more than a recording holds").arg(length);
            return Read::Failed;
        }
        return Read::Record;
    }
    content.resize(int(length));
    if (take(content.data(), std::int64_t(length)) < std::int64_t(length))
        return input_.error.isEmpty() ? Read::Torn : Read::Failed;
    return Read::Record;
}

RecordStream::Next RecordStream::afterTorn(std::int64_t start)
{
    // A recording cut short keeps everything before its torn record; a file
    // that was ended properly has no torn record.
    if (last_bytes_ != QByteArray(kMagic, 8)) {
        done_ = true;
        return Next::End;
    }
    return fail(QStringLiteral("the record at byte %1 runs past the end of the file").arg(start));
}

RecordStream::Next RecordStream::finish()
{
    while (take(nullptr, 1 << 20) > 0) {}
    if (!input_.error.isEmpty())
        return fail(input_.error);
    complete = last_bytes_ == QByteArray(kMagic, 8);
    done_ = true;
    return Next::End;
}

RecordStream::Next RecordStream::next(std::uint8_t& opcode_out, QByteArray& content_out, std::int64_t& position,
                                      std::uint32_t& inner_at)
{
    error.clear();
    if (done_)
        return Next::End;
    if (!started_) {
        char magic[8];
        if (take(magic, 8) < 8 || QByteArray(magic, 8) != QByteArray(kMagic, 8))
            return input_.error.isEmpty() ? fail(QStringLiteral("not an MCAP file (no magic at its start)"))
                                          : fail(input_.error);
        started_ = true;
        QByteArray content;
        std::uint8_t opcode = 0;
        switch (readRecord(opcode, content, true)) {
        case Read::End:
            done_ = true;
            return Next::End;
        case Read::Torn:
            return afterTorn(8);
        case Read::Failed:
            return fail(error.isEmpty() ? input_.error : error);
        case Read::Record:
            break;
        }
        if (opcode != kHeader)
            return fail(QStringLiteral("the file does not begin with a header record"));
    }
    for (;;) {
        // The next record of the chunk being read.
        if (chunk_at_ < std::uint64_t(chunk_.size())) {
            Cursor inner(chunk_.constData() + chunk_at_, std::uint64_t(chunk_.size()) - chunk_at_);
            const auto opcode = inner.get<std::uint8_t>();
            const QByteArray content = inner.bytes(inner.get<std::uint64_t>());
            if (!inner.ok)
                return fail(malformedText("chunk (a record runs past its end)"));
            const auto at = std::uint32_t(chunk_at_);
            chunk_at_ += inner.position();
            if (opcode == kChunk)
                return fail(malformedText("chunk (a chunk inside a chunk)"));
            opcode_out = opcode;
            content_out = content;
            position = chunk_position_;
            inner_at = at;
            return Next::Record;
        }
        chunk_.clear();
        chunk_at_ = 0;
        const std::int64_t start = input_.position();
        const std::uint32_t crc_before = crc_;
        std::uint8_t opcode = 0;
        QByteArray content;
        // Only the records replay needs are held.
        char kind = 0;
        input_.peek(1).isEmpty() ? void() : void(kind = input_.peek(1)[0]);
        const bool hold = kind == char(kSchema) || kind == char(kChannel) || kind == char(kMessage)
            || kind == char(kChunk) || kind == char(kDataEnd);
        switch (readRecord(opcode, content, hold)) {
        case Read::End:
            done_ = true;
            return Next::End;
        case Read::Torn:
            return afterTorn(start);
        case Read::Failed:
            return fail(error.isEmpty() ? input_.error : error);
        case Read::Record:
            break;
        }
        if (opcode == kDataEnd) {
            Cursor fields(content.constData(), std::uint64_t(content.size()));
            const std::uint32_t expected = fields.get<std::uint32_t>();
            if (!fields.ok)
                return fail(malformedText("data end"));
            if (expected != 0 && expected != crc_before)
                return fail(QStringLiteral("the data section's checksum does not match"));
        }
        if (opcode == kDataEnd || opcode == kFooter)
            return finish();
        if (opcode == kChunk) {
            if (!unpackChunk(content, chunk_, error))
                return Next::Failed;
            chunk_position_ = start;
            continue;
        }
        opcode_out = opcode;
        content_out = std::move(content);
        position = start;
        inner_at = MessagePlace::kTopLevel;
        return Next::Record;
    }
}

} // namespace tx710::mcap
