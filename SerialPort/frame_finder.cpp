#include "SerialPort/frame_finder.h"

#include <algorithm>
#include <cstring>

namespace tx710 {

void FrameFinder::feed(const std::uint8_t* data, std::size_t length)
{
    std::size_t i = 0;
    while (i < length) {
        if (!in_frame_) {
            if (header_pending_) {
                // The 0x54 that ended the previous read (or a rejected frame)
                // starts a frame when its 0x2C follows.
                header_pending_ = false;
                if (data[i] == kCountByte) {
                    frame_buffer_[0] = kHeaderByte;
                    frame_length_ = 1;
                    in_frame_ = true;
                    continue;
                }
            }
            const void* found = std::memchr(data + i, kHeaderByte, length - i);
            if (found == nullptr)
                return; // bytes outside a frame are dropped
            const std::size_t header = static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - data);
            if (header + 1 >= length) {
                header_pending_ = true;
                return;
            }
            if (data[header + 1] != kCountByte) {
                i = header + 1;
                continue;
            }
            in_frame_ = true;
            frame_length_ = 0;
            i = header;
        }
        // Inside a frame every byte is payload, header-like pairs included.
        const std::size_t take = std::min(kFrameLength - frame_length_, length - i);
        std::memcpy(frame_buffer_.data() + frame_length_, data + i, take);
        frame_length_ += take;
        i += take;
        if (frame_length_ == kFrameLength)
            completeFrame();
    }
}

void FrameFinder::completeFrame()
{
    in_frame_ = false;
    frame_length_ = 0;
    if (frameCrcMatches(frame_buffer_.data())) {
        ++accepted_count_;
        consumer_->frameAccepted(frame_buffer_.data());
        return;
    }
    ++rejected_count_;
    // Resynchronise inside the rejected bytes: the next frame may begin there.
    std::size_t header = 2;
    while (header + 1 < kFrameLength
           && !(frame_buffer_[header] == kHeaderByte && frame_buffer_[header + 1] == kCountByte))
        ++header;
    if (header + 1 < kFrameLength) {
        const std::size_t kept = kFrameLength - header;
        consumer_->frameRejected(frame_buffer_.data(), frame_buffer_.data() + header, kept);
        std::memmove(frame_buffer_.data(), frame_buffer_.data() + header, kept);
        frame_length_ = kept;
        in_frame_ = true;
    } else {
        consumer_->frameRejected(frame_buffer_.data(), nullptr, 0);
        // A last byte 0x54 may be the header of a frame that follows a
        // frame which lost one byte.
        header_pending_ = frame_buffer_[kCrcOffset] == kHeaderByte;
    }
}

} // namespace tx710
