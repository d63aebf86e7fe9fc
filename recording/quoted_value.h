#pragma once

// The one way a message quotes a value taken from a file or a command line:
// in double quotes, at most kQuotedChars characters (then "..."), with
// control characters and non-ASCII bytes escaped, so that no message grows
// with the input and nothing from a file reaches a terminal as a control
// sequence.

#include <QByteArray>
#include <QString>

namespace tx710 {

constexpr int kQuotedChars = 40;

// "abc", "\x1b[2J", "aaaa...": at most kQuotedChars characters of `value`.
QString quotedValue(const QByteArray& value);
QString quotedValue(const QString& value);

} // namespace tx710
