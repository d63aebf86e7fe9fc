#pragma once

#include <QDateTime>
#include <QDebug>
#include <QMessageLogger>
#include <QString>

// The program's log line: "[" "<yyyy-MM-dd hh:mm:ss:zzz>" "]" items...
// Written through Qt's default handler, category "default", without source
// location in the message context. QDebug separates the items with blanks and
// quotes QStrings, so the stamp appears in double quotes.

namespace tx710 {

inline QString logStamp()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss:zzz"));
}

inline QDebug logLine()
{
    return QMessageLogger(nullptr, 0, nullptr, "default").debug();
}

} // namespace tx710

// Short form: [ "stamp" ] items...
#define TX_LOG tx710::logLine() << "[" << tx710::logStamp() << "]"

// Located form: [ file : line : function "stamp" ] items...
#define TX_LOG_LOCATED \
    tx710::logLine() << "[" << __FILE__ << ":" << __LINE__ << ":" << __func__ << tx710::logStamp() << "]"

// Plain diagnostic line without prefix.
#define TX_LOG_PLAIN tx710::logLine()
