#pragma once

// Record opcodes and the magic that the MCAP writer and reader share.

#include <cstdint>

namespace tx710::mcap {

constexpr char kMagic[8] = {'\x89', 'M', 'C', 'A', 'P', '0', '\r', '\n'};

enum Opcode : std::uint8_t {
    kHeader = 0x01,
    kFooter = 0x02,
    kSchema = 0x03,
    kChannel = 0x04,
    kMessage = 0x05,
    kChunk = 0x06,
    kMessageIndex = 0x07,
    kChunkIndex = 0x08,
    kStatistics = 0x0B,
    kSummaryOffset = 0x0E,
    kDataEnd = 0x0F,
};

// Both files use one schema and one channel per topic, with these ids.
constexpr std::uint16_t kScanId = 1;
constexpr std::uint16_t kStatusId = 2;

constexpr char kLibrary[] = "tx710-record";
constexpr char kCompression[] = "zstd";

} // namespace tx710::mcap
