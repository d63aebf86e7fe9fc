#include "recording/input_file.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tx710::inputfile {

namespace {

constexpr int kPollMs = 100;
constexpr int kReadBytes = 1 << 20;

QString tooLarge(std::int64_t max_bytes)
{
    return QStringLiteral("larger than %1 MiB, more than a recording holds").arg(max_bytes >> 20);
}

} // namespace

bool read(const QString& path, std::int64_t max_bytes, QByteArray& bytes, QString& error,
          const std::function<bool()>& cancelled)
{
    bytes.clear();
    // Not blocking, so that opening a FIFO does not wait for its writer.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const auto fail = [&](int error_number) {
        error = QString::fromLocal8Bit(std::strerror(error_number));
        bytes.clear();
        if (fd >= 0)
            ::close(fd);
        return false;
    };
    if (fd < 0)
        return fail(errno);
    struct stat info {
    };
    if (::fstat(fd, &info) != 0)
        return fail(errno);
    if (S_ISDIR(info.st_mode))
        return fail(EISDIR);
    if (S_ISREG(info.st_mode) && info.st_size > max_bytes) {
        ::close(fd);
        error = tooLarge(max_bytes);
        return false;
    }
    for (;;) {
        if (cancelled && cancelled()) {
            ::close(fd);
            bytes.clear();
            error = QStringLiteral("interrupted");
            return false;
        }
        pollfd wait{fd, POLLIN, 0};
        const int ready = ::poll(&wait, 1, kPollMs);
        if (ready < 0 && errno != EINTR)
            return fail(errno);
        if (ready <= 0)
            continue;
        // One byte past the limit tells a file that is too large.
        const int at = bytes.size();
        const int want = int(std::min<std::int64_t>(kReadBytes, max_bytes + 1 - at));
        bytes.resize(at + want);
        const ssize_t got = ::read(fd, bytes.data() + at, std::size_t(want));
        bytes.resize(at + int(got > 0 ? got : 0));
        if (got == 0)
            break;
        if (got < 0 && errno != EAGAIN && errno != EINTR)
            return fail(errno);
        if (std::int64_t(bytes.size()) > max_bytes) {
            ::close(fd);
            bytes.clear();
            error = tooLarge(max_bytes);
            return false;
        }
    }
    ::close(fd);
    return true;
}

} // namespace tx710::inputfile
