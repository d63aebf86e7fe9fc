#include "recording/cdr_reader.h"

#include <algorithm>
#include <cstring>

namespace tx710::cdr {

namespace {

constexpr std::size_t kHeaderSize = 4;

template <typename T> T littleEndianValue(const void* at)
{
    std::uint8_t raw[sizeof(T)];
    std::memcpy(raw, at, sizeof(T));
    const std::uint16_t probe = 1;
    std::uint8_t first = 0;
    std::memcpy(&first, &probe, 1);
    if (first != 1)
        std::reverse(raw, raw + sizeof(T));
    T value;
    std::memcpy(&value, raw, sizeof(T));
    return value;
}

} // namespace

Reader::Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size)
{
    // 00 01: plain CDR, little-endian; the options bytes are not used.
    ok_ = size >= kHeaderSize && data[0] == 0x00 && data[1] == 0x01;
    if (!ok_)
        at_ = size_;
}

bool Reader::take(const void*& at, std::size_t size, std::size_t alignment)
{
    if (!ok_)
        return false;
    const std::size_t padding = (alignment - (at_ - kHeaderSize) % alignment) % alignment;
    if (padding > left() || size > left() - padding) {
        ok_ = false;
        at_ = size_;
        return false;
    }
    at_ += padding;
    at = data_ + at_;
    at_ += size;
    return true;
}

std::uint8_t Reader::u8()
{
    const void* at = nullptr;
    return take(at, 1, 1) ? *static_cast<const std::uint8_t*>(at) : 0;
}

std::int32_t Reader::i32()
{
    const void* at = nullptr;
    return take(at, 4, 4) ? littleEndianValue<std::int32_t>(at) : 0;
}

std::uint32_t Reader::u32()
{
    const void* at = nullptr;
    return take(at, 4, 4) ? littleEndianValue<std::uint32_t>(at) : 0;
}

float Reader::f32()
{
    const void* at = nullptr;
    return take(at, 4, 4) ? littleEndianValue<float>(at) : 0.0f;
}

double Reader::f64()
{
    const void* at = nullptr;
    return take(at, 8, 8) ? littleEndianValue<double>(at) : 0.0;
}

std::uint32_t Reader::count(std::size_t min_element_size)
{
    const std::uint32_t n = u32();
    if (ok_ && min_element_size > 0 && n > left() / min_element_size) {
        ok_ = false;
        at_ = size_;
        return 0;
    }
    return n;
}

std::string Reader::string()
{
    const std::uint32_t length = count(1);
    const void* at = nullptr;
    // A CDR string holds at least its NUL.
    if (!ok_ || length == 0 || !take(at, length, 1)) {
        ok_ = false;
        at_ = size_;
        return std::string();
    }
    const char* text = static_cast<const char*>(at);
    if (text[length - 1] != '\0') {
        ok_ = false;
        return std::string();
    }
    return std::string(text, length - 1);
}

std::vector<float> Reader::f32Sequence()
{
    std::vector<float> values(count(4));
    for (float& value : values)
        value = f32();
    return ok_ ? values : std::vector<float>();
}

std::vector<std::uint8_t> Reader::u8Sequence()
{
    const std::uint32_t n = count(1);
    const void* at = nullptr;
    if (!take(at, n, 1))
        return std::vector<std::uint8_t>();
    const auto* bytes = static_cast<const std::uint8_t*>(at);
    return std::vector<std::uint8_t>(bytes, bytes + n);
}

} // namespace tx710::cdr
