#include "transfer/job/PhotoPackaging.h"

#include "platform/core/ClaimFileName.h"
#include "platform/core/DriveC.h"
#include "platform/core/FileSystem.h"
#include "platform/core/StagedCopy.h"
#include "transfer/job/TransferLog.h"
#include "zip/ArchiveListing.h"
#include "zip/Trash.h"
#include "zip/Zip.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace tevrak::transfer {

using platform::ClaimFileName;

namespace {

// The archive's bare name, "12345678.Zip".
QString archiveName(const QString& gifName)
{
    return claimPart(gifName) + QStringLiteral(".Zip");
}

QString outboxLocal(const QString& gifName)
{
    return platform::localPath(fileSpec(gifName));
}

// What tells a file from the same name holding other bytes.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    bool operator==(const FileIdentity& other) const
    {
        return device == other.device && inode == other.inode && size == other.size &&
               modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
    }
};

FileIdentity identityOf(const struct stat& st)
{
    return {st.st_dev, st.st_ino, st.st_size, st.st_mtim};
}

std::optional<FileIdentity> currentIdentity(const std::string& path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return identityOf(st);
}

// A file's contents as an archive member records them.
struct FileContents {
    std::uint32_t crc = 0;
    std::uint64_t size = 0;
    FileIdentity identity;
};

// Reads the file once; nothing, with the reason, when it cannot be read or
// changes while it is read.
std::optional<FileContents> contentsOf(const std::string& path, QString& reason)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        reason = qt_error_string(errno);
        return std::nullopt;
    }
    const auto fail = [&](const QString& why) -> std::optional<FileContents> {
        reason = why;
        ::close(fd);
        return std::nullopt;
    };
    struct stat before, after;
    if (::fstat(fd, &before) != 0)
        return fail(qt_error_string(errno));
    if (!S_ISREG(before.st_mode))
        return fail(QStringLiteral("not a regular file"));
    FileContents contents;
    uLong crc = ::crc32(0, nullptr, 0);
    std::vector<unsigned char> buffer(256 * 1024);
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(qt_error_string(errno));
        if (n == 0)
            break;
        crc = ::crc32_z(crc, buffer.data(), std::size_t(n));
        contents.size += std::uint64_t(n);
    }
    if (::fstat(fd, &after) != 0 || !(identityOf(before) == identityOf(after)))
        return fail(QStringLiteral("the file changed while it was read"));
    ::close(fd);
    contents.crc = std::uint32_t(crc);
    contents.identity = identityOf(after);
    return contents;
}

const ListedMember* memberNamed(const std::vector<ListedMember>& members, const QString& name)
{
    for (const ListedMember& member : members)
        if (QString::fromStdString(member.name).compare(name, Qt::CaseInsensitive) == 0)
            return &member;
    return nullptr;
}

// The claim's next free document number for a document of this name, with
// its extension: free in the claim folder, in the outbox and among the
// archive's members. Nothing when the name carries no claim number and
// sequence, or when every document number of the claim is taken.
std::optional<QString> nextFreeDocumentName(const QString& gifName, const std::vector<ListedMember>& members)
{
    if (gifName.size() <= ClaimFileName::ClaimLength + ClaimFileName::SequenceLength ||
        !ClaimFileName::sequenceOf(gifName))
        return std::nullopt;
    const QString claim = ClaimFileName::claimPart(gifName);
    QStringList taken = platform::listFiles(platform::paths::claimFolder(claim) + QStringLiteral("\\*.*")) +
                        platform::listFiles(platform::paths::outbox + QStringLiteral("\\*.*"));
    for (const ListedMember& member : members)
        taken << QString::fromStdString(member.name);
    return ClaimFileName::nextFreeDocumentName(taken, gifName);
}

// One document through the packing.
class DocumentPacking {
public:
    DocumentPacking(TZip& zip, TransferLog& log, PackingResult& result, QString name)
        : m_zip(zip), m_log(log), m_result(result), m_name(std::move(name)), m_archive(archiveName(m_name))
    {
    }

    // Settles what an archive member of the document's name means for it;
    // false when nothing is left to store (already packed, or left unpacked).
    bool prepare();
    void store(const std::function<void(const QString&)>& beforeRun, const std::function<void()>& afterRun);

private:
    bool moveHeldCopyToTrash(const FileContents& contents);
    bool renameToNextFreeNumber(const std::vector<ListedMember>& members);
    void leaveUnpacked(const QString& cause);

    TZip& m_zip;
    TransferLog& m_log;
    PackingResult& m_result;
    QString m_name;
    const QString m_archive;
};

bool DocumentPacking::prepare()
{
    std::vector<ListedMember> members;
    std::string unreadable;
    const std::string archive = platform::nativePath(platform::localPath(archivePath(m_name)));
    if (listArchive(archive, m_zip.OemCodePage, members, unreadable) != ArchiveListing::Listed)
        return true; // a new archive; or one the writer refuses too, and says why
    const ListedMember* member = memberNamed(members, m_name);
    if (!member)
        return true;
    QString reason;
    const std::optional<FileContents> contents =
        contentsOf(platform::nativePath(outboxLocal(m_name)), reason);
    if (!contents) {
        leaveUnpacked(QStringLiteral("cannot read it: ") + reason);
        return false;
    }
    if (contents->crc == member->crc && contents->size == member->size)
        return moveHeldCopyToTrash(*contents);
    return renameToNextFreeNumber(members);
}

// The archive holds these very contents: the outbox copy goes as the writer's
// move would take it, and only while it is still the file that was read.
bool DocumentPacking::moveHeldCopyToTrash(const FileContents& contents)
{
    const std::string path = platform::nativePath(outboxLocal(m_name));
    std::string reason;
    if (currentIdentity(path) != contents.identity)
        reason = "the file changed after it was compared";
    else if (m_zip.RemoveToTrash ? m_zip.RemoveToTrash(path, reason) : moveToTrash(path, reason))
        reason.clear();
    else if (reason.empty())
        reason = "it could not be moved to the trash";
    m_log.documentAlreadyPacked(m_name, m_archive, QString::fromStdString(reason));
    return false;
}

// A different document under a name the archive holds is stored under the
// claim's next free number. The outbox file takes that name before the run,
// so a program killed in between leaves a document of an unused number.
bool DocumentPacking::renameToNextFreeNumber(const std::vector<ListedMember>& members)
{
    const std::optional<QString> newName = nextFreeDocumentName(m_name, members);
    if (!newName) {
        leaveUnpacked(
            QStringLiteral("%1 holds a different document of that name, and no free document number "
                           "of the claim is left to store it under")
                .arg(m_archive));
        return false;
    }
    QFile file(outboxLocal(m_name));
    if (!file.rename(outboxLocal(*newName))) {
        leaveUnpacked(
            QStringLiteral("%1 holds a different document of that name, and it cannot be renamed to %2: %3")
                .arg(m_archive, *newName, file.errorString()));
        return false;
    }
    platform::syncFolder(platform::localPath(platform::paths::outbox));
    m_log.documentRenamed(m_name, *newName);
    m_name = *newName;
    return true;
}

void DocumentPacking::store(const std::function<void(const QString&)>& beforeRun,
                            const std::function<void()>& afterRun)
{
    // The writer's errors of this run are the cause, should the document stay.
    QStringList errors;
    using ErrorHandler = decltype(TZip::OnError);
    struct Restore {
        TZip& zip;
        ErrorHandler handler;
        ~Restore() { zip.OnError = handler; }
    } restore{m_zip, m_zip.OnError};
    m_zip.OnError = [&errors, &restore](TZip& sender, const std::string& file, const std::string& extended,
                                        const std::string& volume, int code) {
        QString error = QString::fromStdString(TZip::ErrorMessage(code));
        if (!extended.empty())
            error += QStringLiteral(" (%1)").arg(QString::fromStdString(extended));
        errors << error;
        if (restore.handler)
            restore.handler(sender, file, extended, volume, code);
    };

    m_zip.SetArchiveFile(platform::nativePath(platform::localPath(archivePath(m_name))));
    m_zip.FileSpec.clear();
    m_zip.FileSpec.push_back(platform::nativePath(outboxLocal(m_name)));
    if (beforeRun)
        beforeRun(m_name);
    const int stored = m_zip.Compress();
    if (afterRun)
        afterRun();
    m_result.stored += stored;
    if (stored == 0 && QFile::exists(outboxLocal(m_name)))
        leaveUnpacked(errors.isEmpty() ? QStringLiteral("the writer stored nothing")
                                       : errors.join(QStringLiteral("; ")));
}

void DocumentPacking::leaveUnpacked(const QString& cause)
{
    m_log.documentNotPacked(m_name, m_archive, cause);
    m_result.unpacked.append({m_name, m_archive, cause});
}

} // namespace

QStringList outboxGifs()
{
    return platform::listFiles(platform::paths::outboxDocumentMask);
}

QString claimPart(const QString& gifName)
{
    return ClaimFileName::claimPart(gifName);
}

QString archivePath(const QString& gifName)
{
    return platform::paths::outbox + QLatin1Char('\\') + archiveName(gifName);
}

QString fileSpec(const QString& gifName)
{
    return platform::paths::outbox + QLatin1Char('\\') + gifName;
}

void applyPackagingSettings(TZip& zip)
{
    zip.ArcType = TArcType::atZip;
    zip.CompressMethod = TCompressMethod::cmDeflate;
    zip.DeflateType = TDeflateType::dtDeflateN;
    zip.StoreFilesOfType = TZip::DefaultStoreFilesOfType();
    zip.Switch = TSwitch::swMove;
    zip.Attributes = fsZeroAttr | fsReadOnly | fsArchive | fsCompressed | fsEncrypted;
    zip.AttributesEx = 0;
    zip.RecurseDirs = false;
    zip.TranslateOemChar = true;
    zip.DefaultExt = ".zip";
}

PackingResult packOutboxGifs(TZip& zip, TransferLog& log, const std::function<void(const QString& name)>& beforeRun,
                             const std::function<void()>& afterRun)
{
    return packOutboxGifs(zip, log, outboxGifs(), beforeRun, afterRun);
}

PackingResult packOutboxGifs(TZip& zip, TransferLog& log, const QStringList& documents,
                             const std::function<void(const QString& name)>& beforeRun,
                             const std::function<void()>& afterRun)
{
    PackingResult result;
    for (const QString& name : documents) {
        DocumentPacking document(zip, log, result, name);
        if (document.prepare())
            document.store(beforeRun, afterRun);
    }
    return result;
}

} // namespace tevrak::transfer
