#include "recording/cdr_writer.h"

#include <cstring>

namespace tx710::cdr {

namespace {

constexpr std::size_t kHeaderSize = 4;

// The machine's bytes in little-endian order.
void littleEndian(std::uint8_t* bytes, std::size_t size)
{
    const std::uint16_t probe = 1;
    std::uint8_t first = 0;
    std::memcpy(&first, &probe, 1);
    if (first == 1)
        return;
    for (std::size_t i = 0; i < size / 2; ++i)
        std::swap(bytes[i], bytes[size - 1 - i]);
}

} // namespace

Writer::Writer() : bytes_{0x00, 0x01, 0x00, 0x00} {}

void Writer::align(std::size_t size)
{
    while ((bytes_.size() - kHeaderSize) % size != 0)
        bytes_.push_back(0);
}

void Writer::put(const void* value, std::size_t size)
{
    align(size);
    std::uint8_t raw[8];
    std::memcpy(raw, value, size);
    littleEndian(raw, size);
    bytes_.insert(bytes_.end(), raw, raw + size);
}

void Writer::string(const std::string& text)
{
    u32(std::uint32_t(text.size() + 1));
    bytes_.insert(bytes_.end(), text.begin(), text.end());
    bytes_.push_back(0);
}

void Writer::f32Sequence(const std::vector<float>& values)
{
    u32(std::uint32_t(values.size()));
    for (float value : values)
        f32(value);
}

void Writer::u8Sequence(const std::vector<std::uint8_t>& values)
{
    u32(std::uint32_t(values.size()));
    bytes_.insert(bytes_.end(), values.begin(), values.end());
}

} // namespace tx710::cdr
