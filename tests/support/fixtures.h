#pragma once

#include <QByteArray>
#include <QStringList>

#include <sys/resource.h>

class QProcess;

namespace tx710test {

// Reads a fixture from tests/fixtures: hex text (whitespace and '#' comments
// ignored) decoded to bytes.
QByteArray hexFixture(const QString& name);
// The path of a fixture in tests/fixtures.
QString fixturePath(const QString& name);

// A file's bytes, or "cannot read <path>".
QByteArray fileBytes(const QString& path);
// A file's lines split at '\n': a file ending with one ends with an empty line.
QStringList fileLines(const QString& path);

// One scan frame from `start` to `end` (hundredths of a degree), every point alike.
QByteArray scanFrame(int start, int end, int distance = 1000, int intensity = 100, int speed = 3600);
// Frames of `revolutions` whole turns from 0 degrees, 30 frames a turn, every
// point 1 m away: a device that has come back.
QByteArray scanRevolutions(int revolutions);

// A program built beside the test.
QString programPath(const char* name);
// Starts tx710-sim; the port it prints, empty when it prints none.
QString startSimulator(QProcess& sim, const QStringList& arguments);

// A folder the code under test writes in (the Screenshots folder the tool bar
// makes beside the program): the files it adds, removed with the folder if it
// was not there before.
class FolderCleanup
{
public:
    explicit FolderCleanup(const QString& path);
    ~FolderCleanup() { clean(); }
    QStringList added() const;
    void clean() const;

private:
    QString path_;
    QStringList before_;
    bool existed_;
};

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
