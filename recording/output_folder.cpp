#include "recording/output_folder.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <QTemporaryFile>

#include "app/log.h"

namespace tx710 {

namespace {

// Creates the folder and a file in it (permission bits alone say nothing for
// root); returns the system's reason on failure.
QString makeWritable(const QString& path)
{
    if (path.isEmpty())
        return QStringLiteral("no such location");
    QDir().mkpath(path);
    QTemporaryFile probe(path + QStringLiteral("/.write-test-XXXXXX"));
    if (!probe.open())
        return probe.errorString();
    return QString();
}

} // namespace

QString besideExecutable(const QString& name)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
}

QString userDataFolder(const QString& name)
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    return base.isEmpty() ? QString() : base + QLatin1Char('/') + name;
}

OutputFolder prepareOutputFolder(const QString& preferred, const QString& name)
{
    const QString reason = makeWritable(preferred);
    if (reason.isEmpty())
        return OutputFolder{preferred, false, QString()};
    const QString fallback = userDataFolder(name);
    const QString fallback_reason = makeWritable(fallback);
    if (!fallback_reason.isEmpty())
        return OutputFolder{QString(), false,
                            QStringLiteral("%1: %2; %3: %4").arg(preferred, reason, fallback, fallback_reason)};
    TX_LOG << "folder" << preferred << "cannot be written:" << reason << "- using" << fallback;
    return OutputFolder{fallback, true, QStringLiteral("%1: %2").arg(preferred, reason)};
}

} // namespace tx710
