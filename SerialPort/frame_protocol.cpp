#include "SerialPort/frame_protocol.h"

namespace tx710 {

namespace {

constexpr std::uint8_t kCrcPolynomial = 0x4D;

constexpr std::array<std::uint8_t, 256> makeCrc8Table()
{
    std::array<std::uint8_t, 256> table{};
    for (int index = 0; index < 256; ++index) {
        std::uint8_t crc = static_cast<std::uint8_t>(index);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint8_t>((crc & 0x80) ? (crc << 1) ^ kCrcPolynomial : crc << 1);
        table[static_cast<std::size_t>(index)] = crc;
    }
    return table;
}

constexpr std::array<std::uint8_t, 256> kCrc8Table = makeCrc8Table();
static_assert(kCrc8Table[1] == 0x4D && kCrc8Table[128] == 0x7C, "CRC-8 table of polynomial 0x4D");

void writeU16(std::uint8_t* bytes, std::uint16_t value)
{
    bytes[0] = static_cast<std::uint8_t>(value & 0xFF);
    bytes[1] = static_cast<std::uint8_t>(value >> 8);
}

} // namespace

std::uint8_t crc8(const std::uint8_t* data, std::size_t length)
{
    std::uint8_t crc = 0;
    for (std::size_t i = 0; i < length; ++i)
        crc = kCrc8Table[crc ^ data[i]];
    return crc;
}

FrameBytes encodeFrame(const ScanFrameFields& fields)
{
    FrameBytes frame{};
    frame[0] = kHeaderByte;
    frame[1] = kCountByte;
    writeU16(&frame[kSpeedOffset], fields.speed);
    writeU16(&frame[kStartAngleOffset], fields.start_angle);
    for (std::size_t i = 0; i < fields.points.size(); ++i) {
        std::uint8_t* point = &frame[kPointsOffset + kPointSize * i];
        writeU16(point, fields.points[i].distance);
        point[2] = fields.points[i].intensity;
    }
    writeU16(&frame[kEndAngleOffset], fields.end_angle);
    writeU16(&frame[kReservedOffset], fields.reserved);
    frame[kCrcOffset] = crc8(frame.data(), kCrcOffset);
    return frame;
}

ScanFrameFields decodeFrameFields(const std::uint8_t* frame)
{
    ScanFrameFields fields;
    fields.speed = readLe16(frame + kSpeedOffset);
    fields.start_angle = readLe16(frame + kStartAngleOffset);
    for (std::size_t i = 0; i < fields.points.size(); ++i) {
        const std::uint8_t* point = frame + kPointsOffset + kPointSize * i;
        fields.points[i].distance = readLe16(point);
        fields.points[i].intensity = point[2];
    }
    fields.end_angle = readLe16(frame + kEndAngleOffset);
    fields.reserved = readLe16(frame + kReservedOffset);
    return fields;
}

std::string toHex(const std::uint8_t* data, std::size_t length)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string hex(length * 2, '0');
    for (std::size_t i = 0; i < length; ++i) {
        hex[2 * i] = kDigits[data[i] >> 4];
        hex[2 * i + 1] = kDigits[data[i] & 0x0F];
    }
    return hex;
}

} // namespace tx710
