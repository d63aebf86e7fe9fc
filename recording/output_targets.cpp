#include "recording/output_targets.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace tx710 {

namespace {

// One name per file: device and inode for a file that exists, else the
// canonical folder and the name (two spellings of a file yet to come).
QString identity(const QString& path)
{
    struct stat info {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) == 0)
        return QStringLiteral("inode %1:%2").arg(quint64(info.st_dev)).arg(quint64(info.st_ino));
    const QFileInfo file(path);
    const QString folder = QFileInfo(file.absolutePath()).canonicalFilePath();
    return QStringLiteral("path %1/%2").arg(folder.isEmpty() ? file.absolutePath() : folder, file.fileName());
}

} // namespace

QString OutputTargets::check(const QStringList& outputs, const QStringList& inputs, bool overwrite)
{
    QStringList input_identities;
    for (const QString& input : inputs)
        input_identities << identity(input);
    QStringList seen;
    for (const QString& output : outputs) {
        const QString& name = output;
        const QString output_identity = identity(output);
        if (input_identities.contains(output_identity))
            return QStringLiteral("%1 is the input file; give another output").arg(name);
        if (seen.contains(output_identity))
            return QStringLiteral("%1 is given twice as an output").arg(name);
        seen.append(output_identity);
        const QFileInfo info(output);
        if (info.exists() && info.isDir())
            return QStringLiteral("%1 is a folder").arg(name);
        if ((info.exists() || info.isSymLink()) && !overwrite)
            return QStringLiteral("%1 exists; give --overwrite to replace it").arg(name);
    }
    return QString();
}

} // namespace tx710
