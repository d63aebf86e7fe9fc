#include "support/pty.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace tx710test {

PseudoTerminal::PseudoTerminal()
{
    char name[128] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        master_ = slave_ = -1;
        return;
    }
    termios raw{};
    if (tcgetattr(slave_, &raw) == 0) {
        cfmakeraw(&raw);
        tcsetattr(slave_, TCSANOW, &raw);
    }
    slave_path_ = QString::fromLocal8Bit(name);
}

PseudoTerminal::~PseudoTerminal()
{
    hangUp();
    if (slave_ >= 0)
        ::close(slave_);
}

bool PseudoTerminal::write(const QByteArray& bytes)
{
    if (master_ < 0)
        return false;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN) {
                pollfd p{master_, POLLOUT, 0};
                poll(&p, 1, 100);
                continue;
            }
            return false;
        }
        done += n;
    }
    return true;
}

bool PseudoTerminal::masterHasInput(int wait_ms)
{
    if (master_ < 0)
        return false;
    pollfd p{master_, POLLIN, 0};
    return poll(&p, 1, wait_ms) > 0 && (p.revents & POLLIN);
}

QByteArray readUntilHangUp(const QString& path, int timeout_ms, bool& hung_up)
{
    hung_up = false;
    QByteArray bytes;
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return bytes;
    termios raw{};
    if (tcgetattr(fd, &raw) == 0) {
        cfmakeraw(&raw);
        tcsetattr(fd, TCSANOW, &raw);
    }
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const long elapsed_ms = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
        if (elapsed_ms >= timeout_ms)
            break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, int(timeout_ms - elapsed_ms)) <= 0)
            continue;
        char chunk[4096];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n > 0) {
            bytes.append(chunk, int(n));
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            hung_up = true; // EOF or EIO: the master side is gone
            break;
        }
    }
    ::close(fd);
    return bytes;
}

void PseudoTerminal::hangUp()
{
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

} // namespace tx710test
