#include "recording/number_text.h"

#include <cmath>
#include <cstdint>

namespace tx710::numbertext {

namespace {

constexpr double kPowers[] = {1, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};

// Appends `digits` (non-negative) with a decimal point before the last `decimals` digits.
void appendScaled(QByteArray& out, bool negative, std::uint64_t digits, int decimals)
{
    char text[32];
    int at = int(sizeof text);
    for (int i = 0; i < decimals; ++i) {
        text[--at] = char('0' + digits % 10);
        digits /= 10;
    }
    if (decimals > 0)
        text[--at] = '.';
    do {
        text[--at] = char('0' + digits % 10);
        digits /= 10;
    } while (digits > 0);
    if (negative)
        text[--at] = '-';
    out.append(text + at, int(sizeof text) - at);
}

} // namespace

void appendFixed(QByteArray& out, double value, int decimals)
{
    const double scaled = value * kPowers[decimals];
    // Away from a half, the product's rounding error cannot change the digit
    // the exact value rounds to. Halves, huge values and negative values
    // that round to zero (whose sign the text keeps) take the long way.
    const bool ordinary = std::fabs(scaled) < 1e15 && std::fabs(scaled - std::floor(scaled) - 0.5) >= 1e-6;
    const long long rounded = ordinary ? std::llround(scaled) : 0;
    if (!ordinary || (rounded == 0 && std::signbit(value))) {
        out += QByteArray::number(value, 'f', decimals);
        return;
    }
    appendScaled(out, rounded < 0, std::uint64_t(rounded < 0 ? -rounded : rounded), decimals);
}

void appendGeneral6(QByteArray& out, double value)
{
    // Whole numbers below a million print as they are in six significant digits.
    if (std::fabs(value) < 1e6 && value == std::trunc(value) && !(value == 0 && std::signbit(value))) {
        const long long whole = (long long)value;
        appendScaled(out, whole < 0, std::uint64_t(whole < 0 ? -whole : whole), 0);
        return;
    }
    out += QByteArray::number(value, 'g', 6);
}

} // namespace tx710::numbertext
