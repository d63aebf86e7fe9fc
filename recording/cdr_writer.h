#pragma once

// Plain CDR (XCDR1), little-endian, as ROS 2 serializes its messages: a
// 4-byte encapsulation header (00 01 00 00), then each value aligned to its
// own size counted from the end of that header; strings as a length that
// includes their NUL, the bytes and the NUL; sequences as a count and the
// elements. Qt-free.

#include <cstdint>
#include <string>
#include <vector>

namespace tx710::cdr {

class Writer
{
public:
    Writer();

    void u8(std::uint8_t value) { bytes_.push_back(value); }
    void boolean(bool value) { u8(value ? 1 : 0); }
    void i32(std::int32_t value) { put(&value, 4); }
    void u32(std::uint32_t value) { put(&value, 4); }
    void f32(float value) { put(&value, 4); }
    void f64(double value) { put(&value, 8); }
    void string(const std::string& text);
    void f32Sequence(const std::vector<float>& values);
    void u8Sequence(const std::vector<std::uint8_t>& values);

    const std::vector<std::uint8_t>& bytes() const { return bytes_; }
    std::vector<std::uint8_t> take() { return std::move(bytes_); }

private:
    void align(std::size_t size);
    void put(const void* value, std::size_t size); // aligned, little-endian

    std::vector<std::uint8_t> bytes_;
};

} // namespace tx710::cdr
