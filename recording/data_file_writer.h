#pragma once

// Appends the rounds of one save to a data file, one round per call, so that
// the file only ever holds whole rounds: every write is checked where it
// reaches the file system, and a round that cannot be written whole is cut
// back out. Free of the decoder, for any program that writes data files.

#include <QByteArray>
#include <QString>

#include <vector>

#include "recording/data_file.h"

namespace tx710 {

class DataFileWriter
{
public:
    explicit DataFileWriter(const QString& path) : path_(path) {}

    const QString& path() const { return path_; }

    // Opens the file, appends round `number` (after the header line when
    // `with_header`) and closes it again. On failure the file is cut back to
    // its length before the call (a file this call created is removed), and
    // errorString() tells what failed and the system's reason.
    bool appendRound(int number, const std::vector<PointRecord>& points, bool with_header);

    QString errorString() const { return error_; }

private:
    QString path_;
    QString error_;
    QByteArray text_; // kept between rounds to keep its storage
};

} // namespace tx710
