#pragma once

// Reads what cdr::Writer writes (XCDR1, little-endian, 4-byte encapsulation
// header) from bytes that may be damaged: a read past the end or a count
// larger than the bytes left sets ok() to false and yields zeros, never a
// read outside the bytes. Qt-free.

#include <cstdint>
#include <string>
#include <vector>

namespace tx710::cdr {

class Reader
{
public:
    // False at once when the encapsulation header is not little-endian CDR.
    Reader(const std::uint8_t* data, std::size_t size);

    bool ok() const { return ok_; }
    std::size_t left() const { return size_ - at_; }

    std::uint8_t u8();
    bool boolean() { return u8() != 0; }
    std::int32_t i32();
    std::uint32_t u32();
    float f32();
    double f64();
    std::string string();
    std::vector<float> f32Sequence();
    std::vector<std::uint8_t> u8Sequence();
    // A sequence count, refused when even elements of `min_element_size`
    // bytes each could not fit in what is left.
    std::uint32_t count(std::size_t min_element_size);

private:
    bool take(const void*& at, std::size_t size, std::size_t alignment);

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 4;
    bool ok_ = true;
};

} // namespace tx710::cdr
