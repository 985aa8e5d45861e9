#include "platform/core/FileSystem.h"

#include "platform/core/Error.h"

#include "platform/core/DriveC.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <dirent.h>
#include <sys/stat.h>
#include <algorithm>

namespace tevrak::platform {

bool folderExists(const QString& windowsPath) { return QFileInfo(localPath(windowsPath)).isDir(); }

bool createFolder(const QString& windowsPath) { return QDir().mkpath(localPath(windowsPath)); }

void ensureFolder(const QString& windowsPath)
{
    if (!folderExists(windowsPath) && !createFolder(windowsPath))
        throw Error(QStringLiteral("ไม่สามารถสร้างโฟลเดอร์ได้\n%1").arg(localPath(windowsPath)));
}

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
    // Compared by their case-folded form, computed once per name.
    std::vector<std::pair<QString, QString>> keyed;
    keyed.reserve(static_cast<size_t>(names.size()));
    for (QString& name : names)
        keyed.emplace_back(name.toCaseFolded(), std::move(name));
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (qsizetype i = 0; i < names.size(); ++i)
        names[i] = std::move(keyed[static_cast<size_t>(i)].second);
}

namespace {

// One pattern of a mask: "*.jpg" is matched as a case-insensitive suffix, any
// other wildcard through a regular expression.
struct NamePattern {
    QString suffix;
    QRegularExpression expression;
    bool usesSuffix = false;

    explicit NamePattern(const QString& wildcard)
    {
        const QString rest = wildcard.mid(1);
        if (wildcard.startsWith(QLatin1Char('*')) && !rest.contains(QLatin1Char('*')) &&
            !rest.contains(QLatin1Char('?')) && !rest.contains(QLatin1Char('['))) {
            suffix = rest;
            usesSuffix = true;
        } else {
            expression = QRegularExpression(QRegularExpression::wildcardToRegularExpression(wildcard),
                                            QRegularExpression::CaseInsensitiveOption);
        }
    }

    bool matches(const QString& name) const
    {
        if (usesSuffix)
            return name.endsWith(suffix, Qt::CaseInsensitive);
        return expression.match(name).hasMatch();
    }
};

// The names of the regular files of a folder (hidden ones left out), read
// straight from the directory without a status call per file where the file
// system tells the type.
QStringList regularFiles(const QString& folder)
{
    QStringList names;
    const QByteArray encoded = QFile::encodeName(folder);
    DIR* dir = ::opendir(encoded.constData());
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        bool regular = entry->d_type == DT_REG;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat info {};
            regular = ::fstatat(::dirfd(dir), entry->d_name, &info, 0) == 0 && S_ISREG(info.st_mode);
        }
        if (regular)
            names.append(QFile::decodeName(entry->d_name));
    }
    ::closedir(dir);
    return names;
}

}  // namespace

QStringList listFiles(const QString& windowsMask)
{
    // Patterns grouped by folder, so each folder is read once.
    QList<QPair<QString, QList<NamePattern>>> folders;
    const QStringList patterns = windowsMask.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString& pattern : patterns) {
        const qsizetype slash = pattern.lastIndexOf(QLatin1Char('\\'));
        const QString folder = slash < 0 ? QString() : pattern.left(slash);
        NamePattern namePattern(pattern.mid(slash + 1));
        auto it = std::find_if(folders.begin(), folders.end(),
                               [&](const auto& entry) { return entry.first.compare(folder, Qt::CaseInsensitive) == 0; });
        if (it == folders.end())
            folders.append({folder, {namePattern}});
        else
            it->second.append(namePattern);
    }
    QStringList names;
    for (const auto& [folder, folderPatterns] : folders) {
        const QStringList entries = regularFiles(localPath(folder));
        for (const QString& entry : entries) {
            if (std::any_of(folderPatterns.begin(), folderPatterns.end(),
                            [&](const NamePattern& p) { return p.matches(entry); }))
                names.append(entry);
        }
    }
    if (folders.size() > 1)
        names.removeDuplicates();
    sortNames(names);
    return names;
}

QString existingEntry(const QString& localFolder, const QString& name)
{
    const QString exact = localFolder + QLatin1Char('/') + name;
    if (QFileInfo::exists(exact))
        return exact;
    const QStringList entries =
        QDir(localFolder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return localFolder + QLatin1Char('/') + entry;
    }
    return {};
}

}  // namespace tevrak::platform
