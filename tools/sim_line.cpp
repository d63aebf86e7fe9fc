#include "tools/sim_line.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace tx710 {

namespace {

void makeRaw(int fd, bool set_speed)
{
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return;
    cfmakeraw(&tio);
    if (set_speed)
        cfsetspeed(&tio, B230400);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS);
    tcsetattr(fd, TCSANOW, &tio);
}

// Points `link` at `target`, replacing an earlier link but never a file.
bool makeLink(const std::string& link, const std::string& target)
{
    struct stat info {
    };
    if (::lstat(link.c_str(), &info) == 0) {
        if (!S_ISLNK(info.st_mode)) {
            std::fprintf(stderr, "tx710-sim: --link %s exists and is no symbolic link\n", link.c_str());
            return false;
        }
        ::unlink(link.c_str());
    }
    if (::symlink(target.c_str(), link.c_str()) != 0) {
        std::fprintf(stderr, "tx710-sim: cannot make the link %s: %s\n", link.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

} // namespace

bool SimLine::openPseudoTerminal(std::string& path, const std::string& link)
{
    int slave = -1;
    char name[128] = {};
    if (openpty(&fd_, &slave, name, nullptr, nullptr) != 0) {
        std::perror("tx710-sim: openpty");
        return false;
    }
    makeRaw(slave, false);
    // Only the reader holds the slave open, so a hang-up on the master side
    // tells whether anybody listens.
    ::close(slave);
    fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
    is_pty_ = true;
    path = name;
    if (!link.empty()) {
        if (!makeLink(link, path)) {
            close();
            return false;
        }
        link_ = link;
        link_target_ = path;
    }
    return true;
}

bool SimLine::openDevice(const std::string& path)
{
    fd_ = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) {
        std::fprintf(stderr, "tx710-sim: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    if (isatty(fd_))
        makeRaw(fd_, true);
    return true;
}

bool SimLine::hasReader() const
{
    if (!is_pty_)
        return fd_ >= 0;
    pollfd p{fd_, POLLOUT, 0};
    if (poll(&p, 1, 0) < 0)
        return false;
    return !(p.revents & POLLHUP);
}

bool SimLine::writeAll(const std::uint8_t* data, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        if (stop_)
            return false;
        const ssize_t n = ::write(fd_, data + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO) {
            std::fprintf(stderr, "tx710-sim: write failed: %s\n", std::strerror(errno));
            return false;
        }
        pollfd p{fd_, POLLOUT, 0};
        poll(&p, 1, 50);
    }
    return true;
}

void SimLine::close()
{
    if (!link_.empty()) {
        // Only our own link: somebody may have pointed it elsewhere meanwhile.
        char target[256] = {};
        const ssize_t n = ::readlink(link_.c_str(), target, sizeof target - 1);
        if (n > 0 && link_target_ == std::string(target, std::size_t(n)))
            ::unlink(link_.c_str());
        link_.clear();
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

} // namespace tx710
