#pragma once

// Reads a whole input file (a regular file, a FIFO, a character device) for
// replay: more than `max_bytes` is refused before it is held, and a wait for
// data (a FIFO with no writer yet) asks `cancelled` at least every 100 ms, so
// that a signal ends it.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>

namespace tx710::inputfile {

// False with the reason in `error` ("No such file or directory", "interrupted").
bool read(const QString& path, std::int64_t max_bytes, QByteArray& bytes, QString& error,
          const std::function<bool()>& cancelled = {});

} // namespace tx710::inputfile
