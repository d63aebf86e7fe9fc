#pragma once

#include <QByteArray>
#include <QString>

#include <sys/resource.h>

namespace tx710test {

// Reads a fixture from tests/fixtures: hex text (whitespace and '#' comments
// ignored) decoded to bytes.
QByteArray hexFixture(const QString& name);
// The path of a fixture in tests/fixtures.
QString fixturePath(const QString& name);

// Frames of `revolutions` whole turns from 0 degrees, 30 frames a turn, every
// point 1 m away: a device that has come back.
QByteArray scanRevolutions(int revolutions);

// While alive, no file of this process grows past `bytes`, and a write that
// would is refused (SIGXFSZ ignored): a full disk that stops root too.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();

private:
    rlimit before_{};
    void (*signal_before_)(int) = nullptr;
};

} // namespace tx710test
