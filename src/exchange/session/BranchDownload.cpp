#include "exchange/session/BranchDownload.h"

#include "exchange/session/DownloadNames.h"
#include "platform/core/DriveC.h"
#include "platform/core/Error.h"
#include "platform/core/FileSystem.h"
#include "platform/core/StagedCopy.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace tevrak::exchange {

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

std::optional<QString> BranchDownload::fetch(const std::string& listedName, const QString& localName)
{
    const QString partial = m_dayFolder + QLatin1Char('/') + QLatin1String(PartialName);
    try {
        m_link.RetrieveFile(listedName, platform::nativePath(partial), true, false);
    } catch (const EFtpReplyError&) {
        QFile::remove(partial);
        if (isFolder(listedName))
            return std::nullopt;
        throw;
    } catch (...) {
        QFile::remove(partial);
        throw;
    }
    QString placed;
    try {
        platform::syncFile(partial);
        placed = platform::placeUnderFreeName(partial, m_dayFolder, localName, [&](const QString& target) {
            return platform::renameWithoutReplacing(partial, target);
        });
    } catch (...) {
        QFile::remove(partial);
        throw;
    }
    if (placed.isEmpty()) {
        // The day folder holds these very bytes already (a run killed before the server's copy went).
        QFile::remove(partial);
        placed = QFileInfo(platform::existingEntry(m_dayFolder, localName)).fileName();
    }
    m_link.RemoveFile(listedName);
    return placed;
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
