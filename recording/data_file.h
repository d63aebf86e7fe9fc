#pragma once

// The viewer's data file, the one place that knows its layout: a header line,
// then one line per point "round angle distance intensity", each ending with a
// single line feed. Every save opens its lines with the header, so a file that
// two saves appended to holds two headers. Used by the data writer, the
// simulator's replay, the recorder and the tests.

#include <QByteArray>
#include <QString>

#include <vector>

// One raw point as recorded for the data files.
struct PointRecord {
    float intensity = 0;
    float distance = 0; // mm
    float angle = 0;    // degrees, 0..360
};

namespace tx710::datafile {

// "Round angle distance intensity" and its line feed.
QByteArray headerLine();

// Appends one line per point of round `round_number`: the round in decimal,
// the angle with 3 decimals, distance and intensity with at most 6
// significant digits, separated by single blanks.
void appendRound(QByteArray& text, int round_number, const std::vector<PointRecord>& points);
// A point's angle, distance and intensity as the data file writes them,
// between `separator`s (for the other formats that repeat them).
void appendPointFields(QByteArray& text, const PointRecord& point, char separator);

// The point as a reader of the file gets it back: each value rounded as its
// line gives it. The recorder hands these to every output, so that the text
// file, the CSV and the MCAP file hold the same numbers.
PointRecord asWritten(const PointRecord& point);

// The consecutive lines of one round of one save.
struct RecordedRound {
    int save = 1;   // 1 for the lines after the first header, 2 after a second one, ...
    int number = 0; // the round number the file gives
    std::vector<PointRecord> points;
};

struct Contents {
    std::vector<RecordedRound> rounds;
    // A last line without its line feed (a write cut short) is left out.
    bool unterminated_tail = false;
};

struct ReadError {
    int line = 0;   // 1-based; 0 when the file itself cannot be read
    QString reason; // "expected four fields: round angle distance intensity", ...
    QString text() const;
};

// What one line of a data file (without its line feed) is.
enum class LineKind { Blank, Header, Point };
// Fills `kind`, and for a point line `round_number` and `point`; on a
// malformed line returns the reason.
QString parseLine(const QByteArray& line, LineKind& kind, int& round_number, PointRecord& point);

// Reads what the data writer has written, including files of several saves.
// On a malformed line returns false with the line and the reason in `error`.
bool parse(const QByteArray& bytes, Contents& contents, ReadError& error);
bool readFile(const QString& path, Contents& contents, ReadError& error);

} // namespace tx710::datafile
