#include "recording/data_file_writer.h"

#include <QFile>

#include "recording/output_file.h"

namespace tx710 {

bool DataFileWriter::appendRound(int number, const std::vector<PointRecord>& points, bool with_header)
{
    text_.clear();
    if (with_header)
        text_ += datafile::headerLine();
    datafile::appendRound(text_, number, points);

    // Opened for each round and written without a buffer, so a full disk is
    // seen here and not lost in a flush at close.
    OutputFile file;
    if (!file.open(path_, OutputFile::Mode::Append)) {
        error_ = QStringLiteral("cannot open: %1").arg(file.reason());
        return false;
    }
    const std::int64_t start = file.size();
    if (file.write(text_)) {
        if (file.close())
            return true;
        error_ = QStringLiteral("cannot close: %1").arg(file.reason());
    } else {
        error_ = QStringLiteral("cannot write: %1").arg(file.reason());
    }

    // Leave only whole rounds behind.
    if (file.created()) {
        file.close();
        if (!QFile::remove(path_))
            error_ += QStringLiteral("; the partial file could not be removed");
    } else if (file.isOpen() ? !file.truncate(start) : !QFile::resize(path_, start)) {
        error_ += QStringLiteral("; the partial round could not be cut off");
    }
    return false;
}

} // namespace tx710
