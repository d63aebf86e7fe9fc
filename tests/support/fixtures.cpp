#include "support/fixtures.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <csignal>

#include "SerialPort/frame_protocol.h"

namespace tx710test {

QString fixturePath(const QString& name)
{
    return QStringLiteral(TX710_FIXTURES_DIR "/") + name;
}

QByteArray hexFixture(const QString& name)
{
    QFile file(fixturePath(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", qPrintable(name));
    QByteArray hex;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const int comment = line.indexOf('#');
        hex += (comment >= 0 ? line.left(comment) : line).simplified().replace(" ", "");
    }
    return QByteArray::fromHex(hex);
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : "cannot read " + path.toLocal8Bit();
}

QStringList fileLines(const QString& path)
{
    return QString::fromLatin1(fileBytes(path)).split(QLatin1Char('\n'));
}

QByteArray scanFrame(int start, int end, int distance, int intensity, int speed)
{
    tx710::ScanFrameFields fields{std::uint16_t(speed), std::uint16_t(start), std::uint16_t(end), 0, {}};
    fields.points.fill(tx710::ScanPoint{std::uint16_t(distance), std::uint8_t(intensity)});
    return QByteArray(reinterpret_cast<const char*>(tx710::encodeFrame(fields).data()), int(tx710::kFrameLength));
}

QByteArray scanRevolutions(int revolutions)
{
    QByteArray frames;
    for (int n = 0; n < revolutions * 30; ++n)
        frames += scanFrame(n % 30 * 1200, n % 30 * 1200 + 1100);
    return frames;
}

QString programPath(const char* name)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(name);
}

QString startSimulator(QProcess& sim, const QStringList& arguments)
{
    sim.start(programPath("tx710-sim"), arguments);
    while (!sim.canReadLine())
        if (!sim.waitForReadyRead(5000))
            return QString();
    return QString::fromLocal8Bit(sim.readLine()).trimmed();
}

FolderCleanup::FolderCleanup(const QString& path)
    : path_(path), before_(QDir(path).entryList(QDir::Files)), existed_(QDir(path).exists())
{}

QStringList FolderCleanup::added() const
{
    QStringList added = QDir(path_).entryList(QDir::Files);
    for (const QString& name : before_)
        added.removeOne(name);
    return added;
}

void FolderCleanup::clean() const
{
    for (const QString& name : added())
        QFile::remove(path_ + QLatin1Char('/') + name);
    if (!existed_)
        QDir().rmdir(path_);
}

FileSizeLimit::FileSizeLimit(rlim_t bytes)
{
    getrlimit(RLIMIT_FSIZE, &before_);
    signal_before_ = signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{bytes, before_.rlim_max};
    setrlimit(RLIMIT_FSIZE, &limit);
}

FileSizeLimit::~FileSizeLimit()
{
    setrlimit(RLIMIT_FSIZE, &before_);
    signal(SIGXFSZ, signal_before_);
}

} // namespace tx710test
