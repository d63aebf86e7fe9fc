#include "recording/output_file.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace tx710 {

OutputFile::~OutputFile()
{
    close();
}

bool OutputFile::fail(const char* action, int error_number)
{
    reason_ = QString::fromLocal8Bit(std::strerror(error_number));
    error_ = QStringLiteral("cannot %1 %2: %3").arg(QLatin1String(action), path_, reason_);
    return false;
}

bool OutputFile::open(const QString& path, Mode mode)
{
    close();
    path_ = path;
    error_.clear();
    reason_.clear();
    size_ = 0;
    const QByteArray name = QFile::encodeName(path);
    if (mode == Mode::Truncate) {
        created_ = true;
        fd_ = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        return fd_ >= 0 || fail("create", errno);
    }
    // O_EXCL first, so that the writer knows whether the file is its own.
    fd_ = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    created_ = fd_ >= 0;
    if (fd_ < 0 && errno == EEXIST)
        fd_ = ::open(name.constData(), O_WRONLY | O_CLOEXEC);
    if (fd_ < 0)
        return fail("open", errno);
    const off_t end = ::lseek(fd_, 0, SEEK_END);
    if (end < 0)
        return fail("open", errno);
    size_ = std::int64_t(end);
    return true;
}

bool OutputFile::write(const QByteArray& bytes)
{
    if (fd_ < 0)
        return fail("write", EBADF);
    const char* data = bytes.constData();
    std::size_t left = std::size_t(bytes.size());
    while (left > 0) {
        const ssize_t written = ::write(fd_, data, left);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return fail("write", errno);
        }
        data += written;
        left -= std::size_t(written);
        size_ += written;
    }
    return true;
}

bool OutputFile::truncate(std::int64_t size)
{
    if (fd_ < 0)
        return fail("truncate", EBADF);
    if (::ftruncate(fd_, off_t(size)) != 0 || ::lseek(fd_, off_t(size), SEEK_SET) < 0)
        return fail("truncate", errno);
    size_ = size;
    return true;
}

bool OutputFile::sync()
{
    if (fd_ < 0)
        return fail("sync", EBADF);
    // Pipes and character devices cannot be synced and need not be.
    return ::fdatasync(fd_) == 0 || errno == EINVAL || fail("sync", errno);
}

bool OutputFile::close()
{
    if (fd_ < 0)
        return true;
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0 || fail("close", errno);
}

} // namespace tx710
