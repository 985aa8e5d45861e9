#include "exchange/session/OutboxUpload.h"

#include "platform/core/DriveC.h"
#include "platform/core/Error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace tevrak::exchange {

namespace {

std::uint64_t fileSize(const QString& localPath)
{
    return static_cast<std::uint64_t>(QFileInfo(localPath).size());
}

// How the server's copy relates to ours: the number of leading bytes they
// share, and whether the server's copy is exactly ours.
struct Comparison {
    std::uint64_t shared = 0;
    bool same = false;
    bool prefix = false; // the server's copy is the beginning of ours (or empty)
};

Comparison compareFiles(const QString& theirs, const QString& ours)
{
    QFile a(theirs);
    QFile b(ours);
    if (!a.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Cannot open file \"%1\". %2").arg(theirs, a.errorString()));
    if (!b.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Cannot open file \"%1\". %2").arg(ours, b.errorString()));
    Comparison result;
    constexpr qint64 block = 1 << 16;
    for (;;) {
        const QByteArray x = a.read(block);
        const QByteArray y = b.read(block);
        const qsizetype common = std::min(x.size(), y.size());
        qsizetype i = 0;
        while (i < common && x[i] == y[i])
            ++i;
        result.shared += static_cast<std::uint64_t>(i);
        if (i < common)
            return result; // the bytes differ
        if (x.size() < block || y.size() < block) {
            result.prefix = x.size() <= y.size() && a.atEnd();
            result.same = result.prefix && x.size() == y.size() && b.atEnd();
            return result;
        }
    }
}

bool notImplemented(const EFtpReplyError& refused)
{
    return refused.NumericCode() == 500 || refused.NumericCode() == 502 || refused.NumericCode() == 504;
}

// Removes the local copy of the server's file however the comparison ends.
class LocalCopy {
public:
    explicit LocalCopy(QString path) : m_path(std::move(path)) { QFile::remove(m_path); }
    ~LocalCopy() { QFile::remove(m_path); }
    LocalCopy(const LocalCopy&) = delete;
    LocalCopy& operator=(const LocalCopy&) = delete;
    const QString& path() const { return m_path; }

private:
    QString m_path;
};

} // namespace

OutboxUpload::OutboxUpload(TFtpLink& link, std::set<std::string> namesOnServer, ServerCopyMerger* merger)
    : m_link(link), m_namesOnServer(std::move(namesOnServer)), m_merger(merger)
{
}

void OutboxUpload::removeLeftoverTemporary()
{
    if (m_namesOnServer.erase(RemoteTemporaryName) == 0)
        return;
    try {
        m_link.RemoveFile(RemoteTemporaryName);
    } catch (const EFtpReplyError&) {
        // the next replacement stores over it
    }
}

std::uint64_t OutboxUpload::send(const QString& localPath, const QString& name, const std::string& remoteName)
{
    if (m_namesOnServer.count(remoteName) == 0) {
        m_link.StoreFile(platform::nativePath(localPath), remoteName, true);
        return fileSize(localPath);
    }
    return reconcile(localPath, name, remoteName);
}

std::uint64_t OutboxUpload::reconcile(const QString& localPath, const QString& name,
                                      const std::string& remoteName)
{
    const std::uint64_t ours = fileSize(localPath);
    const std::optional<std::uint64_t> theirs = m_link.FileSize(remoteName);
    const QString conflict =
        QStringLiteral("The server already holds a different file named \"%1\"; it was left as it is and "
                       "the file stays in the outbox. Ask the insurer to check the server's copy.")
            .arg(name);
    // Larger than ours: neither ours nor its beginning, so only combining can help.
    if (theirs && *theirs > ours && !(m_merger && m_merger->combines(name)))
        throw Error(conflict);

    // Brought down to compare, and to combine with ours where the kind of file allows.
    const LocalCopy copy(QFileInfo(localPath).dir().filePath(QLatin1String(LocalServerCopyName)));
    m_link.RetrieveFile(remoteName, platform::nativePath(copy.path()), true, false);
    const Comparison comparison = compareFiles(copy.path(), localPath);
    if (comparison.same)
        return 0;
    if (comparison.prefix) {
        m_link.StoreFile(platform::nativePath(localPath), remoteName, true, comparison.shared);
        return ours - comparison.shared;
    }
    const auto outcome =
        m_merger ? m_merger->merge(localPath, copy.path(), name) : ServerCopyMerger::Outcome::Conflict;
    if (outcome == ServerCopyMerger::Outcome::Conflict)
        throw Error(conflict);
    return replace(localPath, remoteName);
}

std::uint64_t OutboxUpload::replace(const QString& localPath, const std::string& remoteName)
{
    const std::string local = platform::nativePath(localPath);
    const std::string temporary = RemoteTemporaryName;
    if (!m_renameRefused) {
        m_link.StoreFile(local, temporary, false);
        try {
            m_link.SendCommand("RNFR " + temporary, {350});
        } catch (const EFtpReplyError& refused) {
            if (!notImplemented(refused))
                throw;
            m_renameRefused = true;
        }
        if (!m_renameRefused) {
            try {
                m_link.SendCommand("RNTO " + remoteName, {250});
            } catch (const EFtpReplyError&) {
                // Servers that will not rename over an existing file: the name
                // is briefly absent, never half-written.
                m_link.RemoveFile(remoteName);
                m_link.Rename(temporary, remoteName);
            }
            return fileSize(localPath);
        }
        try {
            m_link.RemoveFile(temporary);
        } catch (const EFtpError&) {
            // a hidden leftover that the next replacement overwrites
        }
    }
    m_link.StoreFile(local, remoteName, false);
    return fileSize(localPath);
}

} // namespace tevrak::exchange
