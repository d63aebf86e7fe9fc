// The byte-level reading of MCAP records (see the header).

#include "recording/mcap_chunk.h"

#include <zlib.h>
#include <zstd.h>

#include "recording/mcap_format.h"
#include "recording/quoted_value.h"

namespace tx710::mcap {

QString malformedText(const char* what)
{
    return QStringLiteral("malformed %1 record").arg(QLatin1String(what));
}

bool unpackChunk(const QByteArray& content, QByteArray& records, QString& error)
{
    Cursor fields(content.constData(), std::uint64_t(content.size()));
    fields.get<std::uint64_t>(); // start and end times: the messages carry their own
    fields.get<std::uint64_t>();
    const auto uncompressed_size = fields.get<std::uint64_t>();
    const auto expected_crc = fields.get<std::uint32_t>();
    const QByteArray compression = fields.string();
    const std::uint64_t stored_size = fields.get<std::uint64_t>();
    if (!fields.ok || stored_size > fields.left()) {
        error = malformedText("chunk");
        return false;
    }
    const char* stored = content.constData() + fields.position();
    if (uncompressed_size > limits::kChunkBytes) {
        error = QStringLiteral("a chunk claims %1 bytes, more than a recording holds").arg(uncompressed_size);
        return false;
    }
    if (compression.isEmpty()) {
        records = QByteArray(stored, int(stored_size));
    } else if (compression == kCompression) {
        records = QByteArray(int(uncompressed_size), Qt::Uninitialized);
        const std::size_t size =
            ZSTD_decompress(records.data(), std::size_t(records.size()), stored, std::size_t(stored_size));
        if (ZSTD_isError(size)) {
            error = QStringLiteral("a chunk does not decompress: %1").arg(QLatin1String(ZSTD_getErrorName(size)));
            return false;
        }
        records.resize(int(size));
    } else {
        error = QStringLiteral("unsupported chunk compression %1").arg(quotedValue(compression));
        return false;
    }
    if (std::uint64_t(records.size()) != uncompressed_size) {
        error = malformedText("chunk (size differs from its uncompressed size)");
        return false;
    }
    const auto actual_crc =
        std::uint32_t(::crc32(0, reinterpret_cast<const Bytef*>(records.constData()), uInt(records.size())));
    if (expected_crc != 0 && expected_crc != actual_crc) {
        error = QStringLiteral("a chunk's checksum does not match its content");
        return false;
    }
    return true;
}

} // namespace tx710::mcap
