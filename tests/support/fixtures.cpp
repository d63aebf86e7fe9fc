#include "support/fixtures.h"

#include <QFile>

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

QByteArray scanRevolutions(int revolutions)
{
    QByteArray frames;
    for (int n = 0; n < revolutions * 30; ++n) {
        tx710::ScanFrameFields fields{3600, std::uint16_t(n % 30 * 1200), std::uint16_t(n % 30 * 1200 + 1100), 0, {}};
        fields.points.fill(tx710::ScanPoint{1000, 100});
        frames.append(reinterpret_cast<const char*>(tx710::encodeFrame(fields).data()), tx710::kFrameLength);
    }
    return frames;
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
