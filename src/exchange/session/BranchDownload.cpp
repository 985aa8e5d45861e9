#include "exchange/session/BranchDownload.h"

#include "exchange/session/DownloadNames.h"
#include "platform/core/DriveC.h"
#include "platform/core/Error.h"
#include "platform/core/StagedCopy.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace tevrak::exchange {

namespace {

// Forces a file's bytes to disk.
void syncFile(const QString& path)
{
    const int fd = ::open(platform::nativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        throw Error(QStringLiteral("Cannot write file \"%1\" to disk. %2")
                        .arg(path, QString::fromLocal8Bit(std::strerror(error))));
    }
    ::close(fd);
}

} // namespace

BranchDownload::BranchDownload(TFtpLink& link, QString dayFolder)
    : m_link(link), m_dayFolder(std::move(dayFolder))
{
}

std::optional<QString> BranchDownload::claimLocalName(const std::string& listedName)
{
    const std::optional<QString> local = localDownloadName(listedName);
    if (!local)
        return std::nullopt;
    const QString key = local->toCaseFolded();
    if (m_taken.contains(key))
        return std::nullopt;
    m_taken.insert(key);
    return local;
}

bool BranchDownload::fetch(const std::string& listedName, const QString& localName)
{
    const QString target = m_dayFolder + QLatin1Char('/') + localName;
    const QString partial = m_dayFolder + QLatin1Char('/') + QLatin1String(PartialName);
    try {
        m_link.RetrieveFile(listedName, platform::nativePath(partial), true, false);
    } catch (const EFtpReplyError&) {
        QFile::remove(partial);
        if (isFolder(listedName))
            return false;
        throw;
    } catch (...) {
        QFile::remove(partial);
        throw;
    }
    syncFile(partial);
    try {
        platform::renameOver(partial, target);
    } catch (...) {
        QFile::remove(partial);
        throw;
    }
    m_link.RemoveFile(listedName);
    return true;
}

bool BranchDownload::isFolder(const std::string& listedName)
{
    try {
        m_link.ChangeDirectory(listedName);
    } catch (const EFtpReplyError&) {
        return false;
    }
    // Back to the branch folder: one level up for every component of the name.
    size_t depth = 1;
    for (const char c : listedName)
        depth += c == '/' ? 1 : 0;
    for (size_t i = 0; i < depth; ++i)
        m_link.ChangeDirectory("..");
    return true;
}

} // namespace tevrak::exchange
