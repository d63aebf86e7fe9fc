#pragma once

#include <QByteArray>
#include <QString>

namespace tx710test {

// Reads a fixture from tests/fixtures: hex text (whitespace and '#' comments
// ignored) decoded to bytes.
QByteArray hexFixture(const QString& name);
// The path of a fixture in tests/fixtures.
QString fixturePath(const QString& name);

} // namespace tx710test
