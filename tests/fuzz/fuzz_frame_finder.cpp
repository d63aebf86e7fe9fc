// Feeds arbitrary bytes, cut into arbitrary reads, to the frame finder.
// Only 47-byte frames with header 54 2C and a correct CRC may be accepted,
// and how the stream is cut must not change any verdict.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "SerialPort/frame_finder.h"
#include "SerialPort/frame_protocol.h"

namespace {

using tx710::kFrameLength;

#define FUZZ_CHECK(condition) \
    ((condition) ? void() : (std::fprintf(stderr, "check failed: %s (line %d)\n", #condition, __LINE__), std::abort()))

struct CheckingConsumer : tx710::FrameConsumer {
    std::vector<std::string> accepted;
    std::vector<std::string> rejected;

    void frameAccepted(const std::uint8_t* frame) override
    {
        FUZZ_CHECK(frame[0] == tx710::kHeaderByte && frame[1] == tx710::kCountByte);
        FUZZ_CHECK(tx710::frameCrcMatches(frame));
        accepted.emplace_back(reinterpret_cast<const char*>(frame), kFrameLength);
    }
    void frameRejected(const std::uint8_t* frame, const std::uint8_t* kept, std::size_t kept_length) override
    {
        FUZZ_CHECK(frame[0] == tx710::kHeaderByte && frame[1] == tx710::kCountByte);
        FUZZ_CHECK(!tx710::frameCrcMatches(frame));
        FUZZ_CHECK(kept != nullptr || kept_length == 0);
        FUZZ_CHECK(!kept || (kept_length >= 2 && kept_length <= kFrameLength - 2));
        FUZZ_CHECK(!kept || kept == frame + (kFrameLength - kept_length));
        FUZZ_CHECK(!kept || (kept[0] == tx710::kHeaderByte && kept[1] == tx710::kCountByte));
        rejected.emplace_back(reinterpret_cast<const char*>(frame), kFrameLength);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    // The first two bytes choose how the rest is cut into reads.
    std::uint32_t state = data[0] | (std::uint32_t(data[1]) << 8);
    const std::size_t longest_read = 1 + (data[1] % 128);
    const std::uint8_t* stream = data + 2;
    const std::size_t length = size - 2;

    CheckingConsumer whole;
    tx710::FrameFinder whole_finder(&whole);
    whole_finder.feed(stream, length);

    CheckingConsumer chunked;
    tx710::FrameFinder chunked_finder(&chunked);
    for (std::size_t at = 0; at < length;) {
        state = state * 1103515245u + 12345u;
        const std::size_t read = std::min<std::size_t>((state >> 16) % (longest_read + 1), length - at);
        chunked_finder.feed(stream + at, read); // reads of zero bytes included
        at += read;
        FUZZ_CHECK(chunked_finder.bufferedLength() < kFrameLength);
    }

    FUZZ_CHECK(chunked.accepted == whole.accepted);
    FUZZ_CHECK(chunked.rejected == whole.rejected);
    FUZZ_CHECK(chunked_finder.inFrame() == whole_finder.inFrame());
    FUZZ_CHECK(chunked_finder.acceptedCount() == whole.accepted.size());
    FUZZ_CHECK(chunked_finder.rejectedCount() == whole.rejected.size());
    // Every accepted frame is a piece of the input.
    const std::string input(reinterpret_cast<const char*>(stream), length);
    for (const std::string& frame : whole.accepted)
        FUZZ_CHECK(input.find(frame) != std::string::npos);
    return 0;
}
