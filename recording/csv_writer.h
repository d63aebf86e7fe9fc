#pragma once

// The recordings' CSV file, for pandas and spreadsheets: the header
// "round,time,angle_deg,distance_mm,intensity,x_m,y_m", then one row per
// point. time is the round's receive time in seconds since the Unix epoch
// (6 decimals); angle, distance and intensity are written as in the data
// file; x and y are recording/point_coordinates.h's, to the micrometre.
// Rounds are written whole: a failed write is cut back to where its round
// began, so the file never holds part of a round.

#include <QByteArray>
#include <QString>

#include "recording/output_file.h"
#include "recording/scan_options.h"
#include "recording/scan_round.h"

namespace tx710::csv {

QByteArray headerLine();
// x and y for a LiDAR mounted as `mounting` says.
void appendRound(QByteArray& text, const ScanRound& round, const ScanOptions& mounting = ScanOptions());

class Writer
{
public:
    // Creates the file and writes the header line; x and y for a LiDAR
    // mounted as `mounting` says.
    bool open(const QString& path, OutputFile::Mode mode = OutputFile::Mode::Truncate,
              const ScanOptions& mounting = ScanOptions());
    // On failure the file ends after the previous round; later rounds may
    // still be written (when space has come back).
    bool writeRound(const ScanRound& round);
    bool close();
    // Closes and removes the file open() created (see OutputFile::discard()).
    void discard() { file_.discard(); }
    // The last failure: "cannot write /path/a.csv: No space left on device".
    const QString& errorString() const { return error_; }

private:
    OutputFile file_;
    QString error_;
    ScanOptions mounting_;
};

} // namespace tx710::csv
