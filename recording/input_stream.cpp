#include "recording/input_stream.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tx710::inputfile {

namespace {

constexpr int kPollMs = 100;
constexpr int kReadBytes = 64 << 10;

QString reasonOf(int error_number)
{
    return QString::fromLocal8Bit(std::strerror(error_number));
}

} // namespace

InputStream::~InputStream()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool InputStream::open(const QString& path, const std::function<bool()>& cancelled)
{
    cancelled_ = cancelled;
    // Not blocking, so that opening a FIFO does not wait for its writer.
    fd_ = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        error = reasonOf(errno);
        return false;
    }
    struct stat info {
    };
    if (::fstat(fd_, &info) != 0 || S_ISDIR(info.st_mode)) {
        error = reasonOf(S_ISDIR(info.st_mode) ? EISDIR : errno);
        return false;
    }
    seekable_ = S_ISREG(info.st_mode);
    return true;
}

void InputStream::openBytes(const QByteArray& bytes)
{
    buffer_ = bytes;
    at_end_ = true;
    seekable_ = true;
}

bool InputStream::seek(std::int64_t position)
{
    if (!seekable_ || position < 0)
        return false;
    if (fd_ < 0) {
        if (position > buffer_.size())
            return false;
        taken_ = int(position);
    } else {
        if (::lseek(fd_, off_t(position), SEEK_SET) < 0) {
            error = reasonOf(errno);
            return false;
        }
        buffer_.clear();
        taken_ = 0;
        at_end_ = false;
    }
    position_ = position;
    return true;
}

bool InputStream::fill()
{
    if (at_end_ || !error.isEmpty())
        return false;
    if (taken_ > 0) {
        buffer_.remove(0, taken_);
        taken_ = 0;
    }
    for (;;) {
        if (cancelled_ && cancelled_()) {
            error = QStringLiteral("interrupted");
            return false;
        }
        pollfd wait{fd_, POLLIN, 0};
        const int ready = ::poll(&wait, 1, kPollMs);
        if (ready < 0 && errno != EINTR) {
            error = reasonOf(errno);
            return false;
        }
        if (ready <= 0)
            continue;
        char piece[kReadBytes];
        const ssize_t got = ::read(fd_, piece, sizeof piece);
        if (got > 0) {
            buffer_.append(piece, int(got));
            return true;
        }
        if (got == 0) {
            at_end_ = true;
            return false;
        }
        if (errno != EAGAIN && errno != EINTR) {
            error = reasonOf(errno);
            return false;
        }
    }
}

InputStream::Line InputStream::readLine(QByteArray& line, int max_bytes)
{
    line.clear();
    int searched = taken_;
    for (;;) {
        const int end = buffer_.indexOf('\n', searched);
        if (end >= 0 && end - taken_ <= max_bytes) {
            line = buffer_.mid(taken_, end - taken_);
            position_ += end + 1 - taken_;
            taken_ = end + 1;
            return Line::Read;
        }
        if (buffer_.size() - taken_ > max_bytes)
            return Line::TooLong;
        const int kept = buffer_.size() - taken_;
        if (!fill()) {
            if (!error.isEmpty())
                return Line::Failed;
            if (kept == 0)
                return Line::End;
            line = buffer_.mid(taken_);
            position_ += kept;
            taken_ = buffer_.size();
            return Line::Tail;
        }
        searched = taken_ + kept;
    }
}

std::int64_t InputStream::read(char* into, std::int64_t count)
{
    std::int64_t done = 0;
    while (done < count) {
        if (taken_ == buffer_.size() && !fill())
            break;
        const int piece = int(std::min<std::int64_t>(count - done, buffer_.size() - taken_));
        if (into)
            std::memcpy(into + done, buffer_.constData() + taken_, std::size_t(piece));
        taken_ += piece;
        position_ += piece;
        done += piece;
    }
    return done;
}

std::int64_t InputStream::skip(std::int64_t count)
{
    return read(nullptr, count);
}

QByteArray InputStream::peek(int count)
{
    while (buffer_.size() - taken_ < count && fill()) {}
    return buffer_.mid(taken_, count);
}

} // namespace tx710::inputfile
