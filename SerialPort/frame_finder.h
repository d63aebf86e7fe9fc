#pragma once

// Cuts CRC-checked scan frames out of the byte stream read from the port.
// Plain bytes only (no Qt), so the fuzz target can build it on its own.

#include <array>
#include <cstddef>
#include <cstdint>

#include "SerialPort/frame_protocol.h"

namespace tx710 {

// Receives the finder's verdicts. Pointers are valid only during the call.
class FrameConsumer
{
public:
    virtual ~FrameConsumer() = default;
    // A 47-byte frame whose CRC matched.
    virtual void frameAccepted(const std::uint8_t* frame) = 0;
    // A 47-byte frame whose CRC did not match. `kept` points at the bytes
    // from the first header found inside it (after its own header) onwards,
    // from which collection goes on; nullptr with kept_length 0 when none.
    virtual void frameRejected(const std::uint8_t* frame, const std::uint8_t* kept, std::size_t kept_length) = 0;
};

class FrameFinder
{
public:
    explicit FrameFinder(FrameConsumer* consumer) : consumer_(consumer) {}

    // Handles one read from the port; frames may be split over any number of reads.
    void feed(const std::uint8_t* data, std::size_t length);

    // Forgets a frame begun (the line was lost); the counts stay.
    void reset()
    {
        in_frame_ = header_pending_ = false;
        frame_length_ = 0;
    }

    bool inFrame() const { return in_frame_; }
    std::size_t bufferedLength() const { return frame_length_; }

    std::uint64_t acceptedCount() const { return accepted_count_; }
    std::uint64_t rejectedCount() const { return rejected_count_; }

private:
    void completeFrame();

    FrameConsumer* consumer_;
    std::array<std::uint8_t, kFrameLength> frame_buffer_{};
    std::size_t frame_length_ = 0;
    bool in_frame_ = false;
    bool header_pending_ = false;
    std::uint64_t accepted_count_ = 0;
    std::uint64_t rejected_count_ = 0;
};

} // namespace tx710
