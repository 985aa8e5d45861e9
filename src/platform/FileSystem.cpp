#include "platform/FileSystem.h"

#include "platform/DriveC.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>

namespace tevrak::platform {

bool folderExists(const QString& windowsPath) { return QFileInfo(localPath(windowsPath)).isDir(); }

bool createFolder(const QString& windowsPath) { return QDir().mkpath(localPath(windowsPath)); }

bool fileExists(const QString& windowsPath) { return QFileInfo(localPath(windowsPath)).isFile(); }

bool copyFile(const QString& from, const QString& to)
{
    const QString source = localPath(from);
    const QString target = localPath(to);
    if (!QFileInfo(source).isFile())
        return false;
    if (QFileInfo::exists(target) && !QFile::remove(target))
        return false;
    return QFile::copy(source, target);
}

bool deleteFile(const QString& windowsPath) { return QFile::remove(localPath(windowsPath)); }

bool moveFile(const QString& from, const QString& to)
{
    const QString target = localPath(to);
    if (QFileInfo::exists(target))
        return false;  // a move never replaces
    return QFile::rename(localPath(from), target);
}

void sortNames(QStringList& names)
{
    std::stable_sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
}

QStringList listFiles(const QString& windowsMask)
{
    QStringList names;
    const QStringList patterns = windowsMask.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString& pattern : patterns) {
        const qsizetype slash = pattern.lastIndexOf(QLatin1Char('\\'));
        const QString folder = slash < 0 ? QString() : pattern.left(slash);
        const QString wildcard = pattern.mid(slash + 1);
        const QRegularExpression match(QRegularExpression::wildcardToRegularExpression(wildcard),
                                       QRegularExpression::CaseInsensitiveOption);
        const QDir dir(localPath(folder));
        const QStringList entries = dir.entryList(QDir::Files | QDir::NoDotAndDotDot);
        for (const QString& entry : entries) {
            if (entry.startsWith(QLatin1Char('.')) || names.contains(entry))
                continue;
            if (match.match(entry).hasMatch())
                names.append(entry);
        }
    }
    sortNames(names);
    return names;
}

}  // namespace tevrak::platform
