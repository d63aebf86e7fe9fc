#include "recording/output_file.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
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
    temporary_path_.clear();
    error_.clear();
    reason_.clear();
    size_ = 0;
    reserved_end_ = 0;
    const QByteArray name = QFile::encodeName(path);
    if (mode == Mode::Truncate || mode == Mode::CreateNew) {
        created_ = true;
        fd_ = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC | (mode == Mode::Truncate ? O_TRUNC : O_EXCL),
                     0644);
        return fd_ >= 0 || fail("create", errno);
    }
    if (mode == Mode::Replace) {
        // Beside the file, so that the rename stays on its file system.
        const QFileInfo info(path);
        for (int attempt = 0; fd_ < 0 && attempt < 100; ++attempt) {
            temporary_path_ =
                QStringLiteral("%1/.%2.%3-%4.part").arg(info.path(), info.fileName()).arg(::getpid()).arg(attempt);
            fd_ = ::open(QFile::encodeName(temporary_path_).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd_ < 0 && errno != EEXIST)
                break;
        }
        created_ = fd_ >= 0;
        if (fd_ < 0)
            temporary_path_.clear();
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
    reserved_end_ = 0;
    return true;
}

bool OutputFile::sync()
{
    if (fd_ < 0)
        return fail("sync", EBADF);
    // Pipes and character devices cannot be synced and need not be.
    return ::fdatasync(fd_) == 0 || errno == EINVAL || fail("sync", errno);
}

bool OutputFile::reserve(std::int64_t bytes)
{
    if (fd_ < 0)
        return fail("write", EBADF);
    if (reserved_end_ >= size_ + bytes)
        return true;
    const std::int64_t from = std::max(reserved_end_, size_);
    const QByteArray zeros(int(size_ + bytes - from), '\0');
    std::int64_t at = 0;
    while (at < zeros.size()) {
        const ssize_t written = ::pwrite(fd_, zeros.constData() + at, std::size_t(zeros.size() - at), off_t(from + at));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0) {
            const int error_number = errno;
            [[maybe_unused]] const int ignored = ::ftruncate(fd_, off_t(from));
            return fail("write", error_number);
        }
        at += written;
    }
    reserved_end_ = size_ + bytes;
    return true;
}

bool OutputFile::rewind(std::int64_t size)
{
    if (fd_ < 0)
        return fail("truncate", EBADF);
    reserved_end_ = std::max(reserved_end_, size_);
    if (::lseek(fd_, off_t(size), SEEK_SET) < 0)
        return fail("truncate", errno);
    size_ = size;
    return true;
}

bool OutputFile::close()
{
    if (fd_ < 0)
        return true;
    const int fd = fd_;
    fd_ = -1;
    bool ok = true;
    if (reserved_end_ > size_ && ::ftruncate(fd, off_t(size_)) != 0)
        ok = fail("truncate", errno);
    reserved_end_ = 0;
    if (::close(fd) != 0 && ok)
        ok = fail("close", errno);
    if (!temporary_path_.isEmpty()) {
        const QString temporary = temporary_path_;
        temporary_path_.clear();
        if (!ok || ::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path_).constData()) != 0) {
            if (ok)
                ok = fail("replace", errno);
            QFile::remove(temporary);
        }
    }
    return ok;
}

void OutputFile::discard()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temporary_path_.isEmpty())
        QFile::remove(temporary_path_);
    else if (created_)
        QFile::remove(path_);
    temporary_path_.clear();
    created_ = false;
}

} // namespace tx710
