#include "support/fixtures.h"

#include <QFile>

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

} // namespace tx710test
