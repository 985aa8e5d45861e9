#include "platform/core/DriveC.h"
#include "platform/core/FileSystem.h"

#include <QFile>

#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace tevrak::platform {

QString driveCRoot()
{
    const QString root = qEnvironmentVariable("TEVRAK_ROOT");
    if (!root.isEmpty())
        return QDir::cleanPath(root);
    return QDir::homePath() + QStringLiteral("/Tevrak");
}

namespace {

// The existing entry of `folder` whose name equals `component` without regard
// to case; the exact spelling wins when several differ only in case.
QString matchComponent(const QString& folder, const QString& component)
{
    const QString found = existingEntry(folder, component);
    return found.isEmpty() ? component : QFileInfo(found).fileName();
}

}  // namespace

QString localPath(const QString& windowsPath)
{
    QString rest = windowsPath;
    rest.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const bool onDriveC = rest.size() >= 2 && rest[1] == QLatin1Char(':') &&
                          rest[0].toLower() == QLatin1Char('c');
    if (!onDriveC)
        return rest;
    rest = rest.mid(2);

    QString result = driveCRoot();
    bool existing = QFileInfo(result).isDir();
    const QStringList components = rest.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& component : components) {
        if (component == QLatin1String("."))
            continue;
        const QString name = existing ? matchComponent(result, component) : component;
        result += QLatin1Char('/') + name;
        existing = existing && QFileInfo(result).isDir();
    }
    return result;
}

std::string nativePath(const QString& localPath)
{
    return QFile::encodeName(localPath).toStdString();
}

}  // namespace tevrak::platform
