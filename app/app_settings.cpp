#include "app/app_settings.h"

#include <QApplication>
#include <QIcon>
#include <QSettings>

namespace tx710 {

// Named explicitly, so that every program and test reads the same file
// whatever its own application name.
QVariant setting(const char* key, const QVariant& fallback)
{
    return QSettings(QString::fromLatin1(kOrganizationName), QString::fromLatin1(kApplicationName))
        .value(QString::fromLatin1(key), fallback);
}

void setSetting(const char* key, const QVariant& value)
{
    QSettings(QString::fromLatin1(kOrganizationName), QString::fromLatin1(kApplicationName))
        .setValue(QString::fromLatin1(key), value);
}

void setApplicationIdentity()
{
    QCoreApplication::setApplicationName(QString::fromLatin1(kApplicationName));
    QApplication::setWindowIcon(QIcon(QString::fromLatin1(kWindowIconResource)));
}

} // namespace tx710
