#include "recording/data_file_writer.h"

#include <QFile>

namespace tx710 {

bool DataFileWriter::appendRound(int number, const std::vector<PointRecord>& points, bool with_header)
{
    text_.clear();
    if (with_header)
        text_ += datafile::headerLine();
    datafile::appendRound(text_, number, points);

    const bool existed = QFile::exists(path_);
    // Unbuffered: each write goes straight to the system, so a full disk is
    // seen here and not lost in a flush at close.
    QFile file(path_);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        error_ = QStringLiteral("cannot open: %1").arg(file.errorString());
        return false;
    }
    const qint64 start = file.size();
    // A short write is retried: the next attempt reports the system's reason.
    qint64 done = 0;
    while (done < text_.size()) {
        const qint64 count = file.write(text_.constData() + done, text_.size() - done);
        if (count <= 0)
            break;
        done += count;
    }
    const bool written = done == text_.size();
    if (!written)
        error_ = QStringLiteral("cannot write: %1").arg(file.errorString());
    file.close();
    if (written && file.error() == QFileDevice::NoError)
        return true;
    if (written)
        error_ = QStringLiteral("cannot close: %1").arg(file.errorString());

    // Leave only whole rounds behind.
    if (!existed) {
        if (!QFile::remove(path_))
            error_ += QStringLiteral("; the partial file could not be removed");
    } else if (!QFile::resize(path_, start)) {
        error_ += QStringLiteral("; the partial round could not be cut off");
    }
    return false;
}

} // namespace tx710
