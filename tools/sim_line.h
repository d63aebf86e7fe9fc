#pragma once

// The simulator's end of the serial line: a pseudo-terminal it creates (with
// an optional symbolic link to it, as udev gives an adapter a stable name) or
// a serial device it is given.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tx710 {

class SimLine
{
public:
    explicit SimLine(const std::atomic<bool>& stop) : stop_(stop) {}
    ~SimLine() { close(); }
    SimLine(const SimLine&) = delete;
    SimLine& operator=(const SimLine&) = delete;

    // Creates a pseudo-terminal; `path` gets its slave's path. With a
    // non-empty `link`, makes that symbolic link to it (an existing link is
    // replaced, any other file is refused).
    bool openPseudoTerminal(std::string& path, const std::string& link);
    bool openDevice(const std::string& path);

    // True while a reader has the pseudo-terminal open (always for devices).
    bool hasReader() const;

    // Writes all bytes, waiting for the reader to drain the line. False when
    // the line failed or the program is stopping.
    bool writeAll(const std::uint8_t* data, std::size_t size);

    // Removes the link (first, so nobody finds a dead terminal behind it),
    // then hangs up.
    void close();

private:
    const std::atomic<bool>& stop_;
    int fd_ = -1;
    bool is_pty_ = false;
    std::string link_;
    std::string link_target_;
};

} // namespace tx710
