#include "recording/quoted_value.h"

namespace tx710 {

QString quotedValue(const QByteArray& value)
{
    QString text = QStringLiteral("\"");
    int shown = 0;
    for (const char c : value) {
        if (shown == kQuotedChars)
            return text + QStringLiteral("...\"");
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '"' || byte == '\\')
            text += QStringLiteral("\\%1").arg(QLatin1Char(c));
        else if (byte >= 0x20 && byte < 0x7f)
            text += QLatin1Char(c);
        else
            text += QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
        ++shown;
    }
    return text + QLatin1Char('"');
}

QString quotedValue(const QString& value)
{
    // Only the part that can be shown is converted.
    return quotedValue(value.left(kQuotedChars + 1).toUtf8());
}

} // namespace tx710
