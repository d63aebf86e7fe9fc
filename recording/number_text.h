#pragma once

// Numbers as the recording files write them, byte for byte what
// QByteArray::number gives, without its general conversion for the values
// the files hold (whole numbers, values rounded to their last decimal); any
// other value goes through QByteArray::number itself.

#include <QByteArray>

namespace tx710::numbertext {

// QByteArray::number(value, 'f', decimals), decimals 0..9.
void appendFixed(QByteArray& out, double value, int decimals);
// QByteArray::number(value, 'g', 6).
void appendGeneral6(QByteArray& out, double value);

} // namespace tx710::numbertext
