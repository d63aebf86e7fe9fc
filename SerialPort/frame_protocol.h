#pragma once

// The TX710 scan frame: layout, CRC-8 and the frame finder. Plain bytes only;
// shared by the viewer, the simulator, the tests and the fuzz target.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tx710 {

constexpr std::size_t kFrameLength = 47;
constexpr std::uint8_t kHeaderByte = 0x54; // 'T'
constexpr std::uint8_t kCountByte = 0x2C;  // ','; low five bits = 12 points
constexpr int kPointsPerFrame = kCountByte & 0x1F;
constexpr std::size_t kSpeedOffset = 2;
constexpr std::size_t kStartAngleOffset = 4;
constexpr std::size_t kPointsOffset = 6;
constexpr std::size_t kPointSize = 3;
constexpr std::size_t kEndAngleOffset = kPointsOffset + kPointSize * kPointsPerFrame; // 42
constexpr std::size_t kReservedOffset = kEndAngleOffset + 2;                          // 44
constexpr std::size_t kCrcOffset = kFrameLength - 1;                                  // 46

// CRC-8, polynomial 0x4D, init 0, MSB first, no reflection, no final XOR.
std::uint8_t crc8(const std::uint8_t* data, std::size_t length);
// True when byte 46 of a 47-byte frame equals the CRC of bytes 0 to 45.
inline bool frameCrcMatches(const std::uint8_t* frame)
{
    return crc8(frame, kCrcOffset) == frame[kCrcOffset];
}

// Multi-byte fields are unsigned little-endian.
inline std::uint16_t readLe16(const std::uint8_t* bytes)
{
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

struct ScanPoint {
    std::uint16_t distance = 0; // mm, 0 = no return
    std::uint8_t intensity = 0;
};

// Field values of one frame, as carried on the wire (angles in 0.01 degree).
struct ScanFrameFields {
    std::uint16_t speed = 0;       // degrees per second
    std::uint16_t start_angle = 0; // 0.01 degree
    std::uint16_t end_angle = 0;   // 0.01 degree
    std::uint16_t reserved = 0;    // bytes 44-45, covered by the CRC, not interpreted
    std::array<ScanPoint, kPointsPerFrame> points{};
};

using FrameBytes = std::array<std::uint8_t, kFrameLength>;

// Builds a complete frame with header, count byte and a correct CRC.
FrameBytes encodeFrame(const ScanFrameFields& fields);
// Reads the fields of a 47-byte frame; nothing is validated.
ScanFrameFields decodeFrameFields(const std::uint8_t* frame);

std::string toHex(const std::uint8_t* data, std::size_t length); // upper case, no separators

} // namespace tx710
