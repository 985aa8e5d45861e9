#include "exchange/session/OutboxUpload.h"

#include "platform/core/DriveC.h"
#include "platform/core/Error.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace tevrak::exchange {

namespace {

std::uint64_t fileSize(const QString& localPath)
{
    return static_cast<std::uint64_t>(QFileInfo(localPath).size());
}

QString shown(const std::string& serverBytes)
{
    return QString::fromUtf8(FtpDisplayText(serverBytes));
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

// "20261209-140311": the moment in the names of work files and kept copies.
std::string timeStamp()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")).toStdString();
}

// Raised by the sink when the server's file passes the size worth fetching.
struct CopyTooLarge {};

// A server copy written to a local file, at most `largest` bytes of it.
class CappedFileSink : public TDataSink {
public:
    CappedFileSink(QString path, std::uint64_t largest) : m_path(std::move(path)), m_largest(largest)
    {
        m_fd = ::open(platform::nativePath(m_path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (m_fd < 0)
            throw Error(QStringLiteral("Cannot create file \"%1\". %2").arg(m_path, QString::fromLocal8Bit(std::strerror(errno))));
    }
    ~CappedFileSink() override { ::close(m_fd); }
    CappedFileSink(const CappedFileSink&) = delete;
    CappedFileSink& operator=(const CappedFileSink&) = delete;

    void Write(const char* data, size_t size) override
    {
        if (size > m_largest - m_written)
            throw CopyTooLarge{};
        m_written += size;
        while (size > 0) {
            const ssize_t n = ::write(m_fd, data, size);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                throw Error(QStringLiteral("Cannot write file \"%1\". %2")
                                .arg(m_path, QString::fromLocal8Bit(std::strerror(errno))));
            }
            data += n;
            size -= static_cast<size_t>(n);
        }
    }

private:
    QString m_path;
    std::uint64_t m_largest;
    std::uint64_t m_written = 0;
    int m_fd = -1;
};

// A hidden folder in the outbox for the server copies of one name, removed
// however the sending ends (and by the next exchange, should this one be killed).
class WorkFolder {
public:
    explicit WorkFolder(const QString& folder)
        : m_dir(QDir(folder).filePath(QStringLiteral(".tevrak-server-copies-XXXXXX")))
    {
        if (!m_dir.isValid())
            throw Error(QStringLiteral("Cannot create a work folder in \"%1\": %2").arg(folder, m_dir.errorString()));
    }
    QString filePath(int index) const { return m_dir.filePath(QStringLiteral("copy-%1").arg(index)); }

private:
    QTemporaryDir m_dir;
};

QString conflictWith(const QString& name)
{
    return QStringLiteral("บนเซิร์ฟเวอร์มีไฟล์อื่นชื่อเดียวกันอยู่แล้ว: ไม่ได้แตะต้องไฟล์บนเซิร์ฟเวอร์ "
                          "ไฟล์ของเรายังอยู่ในโฟลเดอร์ส่งข้อมูล โปรดแจ้งบริษัทประกันให้ตรวจสอบไฟล์บนเซิร์ฟเวอร์\n"
                          "The server already holds a different file named \"%1\".")
        .arg(name);
}

} // namespace

OutboxUpload::OutboxUpload(TFtpLink& link, const std::set<std::string>& namesOnServer, ServerCopyMerger* merger)
    : m_link(link), m_names(namesOnServer), m_merger(merger)
{
}

void OutboxUpload::note(const QString& event)
{
    if (m_merger)
        m_merger->note(event);
}

void OutboxUpload::recoverLeftovers(const QString& localFolder)
{
    const std::optional<std::string> earlier = m_names.find(EarlierTemporaryName);
    if (!earlier || !m_merger)
        return;
    const WorkFolder work(localFolder);
    const QString copy = work.filePath(0);
    const bool whole = fetch(*earlier, copy, m_merger->largestCopy({}));
    const std::optional<QString> owner = whole ? m_merger->ownerOf(copy) : std::nullopt;
    const std::string renamed =
        m_names.unused(owner ? owner->toStdString() + OldTag + timeStamp()
                             : std::string(EarlierTemporaryName) + (whole ? ".unreadable-" : ".too-large-") + timeStamp());
    if (!renameFrom(*earlier)) {
        note(QStringLiteral("แฟ้มงาน %1 ที่ค้างบนเซิร์ฟเวอร์ถูกทิ้งไว้ตามเดิม เพราะเซิร์ฟเวอร์เปลี่ยนชื่อแฟ้มไม่ได้ "
                            "(the server's leftover %1 was left as it is: the server has no RNFR)")
                 .arg(shown(*earlier)));
        return;
    }
    m_link.SendCommand("RNTO " + renamed, {250});
    m_names.remove(*earlier);
    m_names.add(renamed);
    note(owner ? QStringLiteral("แฟ้มงาน %1 ที่ค้างบนเซิร์ฟเวอร์เป็นของ %2 จะรวมเข้ากับ %2 เมื่อส่งครั้งต่อไป "
                                "(the server's leftover %1 belongs to %2: kept as %3, merged when %2 is sent)")
                     .arg(shown(*earlier), *owner, shown(renamed))
               : QStringLiteral("แฟ้มงาน %1 ที่ค้างบนเซิร์ฟเวอร์อ่านไม่ได้ เก็บไว้เป็น %2 "
                                "(the server's leftover %1 cannot be read: kept as %2)")
                     .arg(shown(*earlier), shown(renamed)));
}

std::uint64_t OutboxUpload::send(const QString& localPath, const QString& name, const std::string& remoteName)
{
    const bool combining = m_merger && m_merger->combines(name);
    if (!m_names.find(remoteName) && (!combining || leftoversOf(remoteName).empty())) {
        m_link.StoreFile(platform::nativePath(localPath), remoteName, true);
        m_names.add(remoteName);
        return fileSize(localPath);
    }
    return reconcile(localPath, name, remoteName);
}

std::vector<std::string> OutboxUpload::leftoversOf(const std::string& remoteName) const
{
    std::vector<std::string> names = m_names.startingWith(remoteName + PartTag);
    for (const std::string& old : m_names.startingWith(remoteName + OldTag))
        names.push_back(old);
    std::sort(names.begin(), names.end());
    return names;
}

std::uint64_t OutboxUpload::reconcile(const QString& localPath, const QString& name,
                                      const std::string& remoteName)
{
    const std::uint64_t ours = fileSize(localPath);
    const bool combining = m_merger && m_merger->combines(name);
    const std::uint64_t largest = combining ? m_merger->largestCopy(name) : ours;
    const std::optional<std::string> held = m_names.find(remoteName);
    const std::vector<std::string> leftovers = combining ? leftoversOf(remoteName) : std::vector<std::string>{};
    const WorkFolder work(QFileInfo(localPath).path());

    std::vector<ServerCopy> copies;
    if (held) {
        // Larger than ours: neither ours nor its beginning, so only combining can help.
        const std::optional<std::uint64_t> theirs = m_link.FileSize(*held);
        if (theirs && *theirs > ours && !combining)
            throw Error(conflictWith(name));
        ServerCopy copy;
        copy.remote = *held;
        copy.local = work.filePath(0);
        copy.whole = !(theirs && *theirs > largest) && fetch(*held, copy.local, largest);
        if (copy.whole && leftovers.empty()) {
            const Comparison comparison = compareFiles(copy.local, localPath);
            if (comparison.same)
                return 0;
            if (comparison.prefix) {
                m_link.StoreFile(platform::nativePath(localPath), *held, true, comparison.shared);
                return ours - comparison.shared;
            }
        }
        if (!combining)
            throw Error(conflictWith(name));
        copies.push_back(std::move(copy));
    }
    for (const std::string& leftover : leftovers) {
        ServerCopy copy;
        copy.remote = leftover;
        copy.local = work.filePath(int(copies.size()));
        copy.leftover = true;
        const std::optional<std::uint64_t> size = m_link.FileSize(leftover);
        copy.whole = !(size && *size > largest) && fetch(leftover, copy.local, largest);
        copies.push_back(std::move(copy));
    }

    for (ServerCopy& copy : copies) {
        if (!copy.whole) {
            copy.result = {MergeResult::Outcome::KeepAside, QStringLiteral("too-large"),
                           QStringLiteral("larger than the %1 bytes a server copy of it may have").arg(largest)};
            continue;
        }
        copy.result = m_merger->merge(localPath, copy.local, name);
        if (copy.result.outcome == MergeResult::Outcome::Conflict)
            throw Error(conflictWith(name));
        if (copy.result.outcome == MergeResult::Outcome::Merged && !copy.result.reason.isEmpty())
            note(QStringLiteral("%1: %2").arg(name, copy.result.reason));
    }
    // A copy that is the beginning of a copy merged whole is a replacement cut
    // off on its way up: everything it holds is in that one.
    for (ServerCopy& copy : copies) {
        if (copy.result.outcome != MergeResult::Outcome::KeepAside || !copy.whole)
            continue;
        for (const ServerCopy& merged : copies)
            if (&merged != &copy && merged.result.outcome == MergeResult::Outcome::Merged &&
                compareFiles(copy.local, merged.local).prefix) {
                copy.result = {MergeResult::Outcome::Merged, {}, {}};
                break;
            }
    }
    const std::string target = held ? *held : remoteName;
    for (const ServerCopy& copy : copies)
        if (copy.result.outcome == MergeResult::Outcome::KeepAside)
            keepAside(copy, target, name);

    const bool targetHeld = held && copies.front().result.outcome == MergeResult::Outcome::Merged;
    place(localPath, target, targetHeld);
    for (const ServerCopy& copy : copies) {
        if (!copy.leftover || copy.result.outcome != MergeResult::Outcome::Merged)
            continue;
        try {
            m_link.RemoveFile(copy.remote);
            m_names.remove(copy.remote);
        } catch (const EFtpReplyError& refused) {
            note(QStringLiteral("แฟ้มงาน %1 ยังอยู่บนเซิร์ฟเวอร์ จะรวมอีกครั้งเมื่อส่งครั้งต่อไป "
                                "(the merged work file %1 could not be deleted: %2)")
                     .arg(shown(copy.remote), QString::fromUtf8(refused.what()).trimmed()));
        }
    }
    return fileSize(localPath);
}

bool OutboxUpload::fetch(const std::string& remote, const QString& localPath, std::uint64_t largest)
{
    CappedFileSink sink(localPath, largest);
    try {
        m_link.TransferIn("RETR " + remote, sink, 0, TFtpLink::TDelivery::Whole);
    } catch (const CopyTooLarge&) {
        settleAbandonedDownload();
        return false;
    }
    return true;
}

// A download given up by closing its data connection: the server's answer to
// that (426, or 226 when it had sent everything) is read, and a NOOP makes sure
// that no second answer waits to be taken for the next command's.
void OutboxUpload::settleAbandonedDownload()
{
    auto belongsToTheTransfer = [](int code) {
        return code == 225 || code == 226 || code == 250 || code == 426 || code == 450 || code == 451;
    };
    m_link.ReadReply();
    m_link.SendCommand("NOOP");
    for (int extra = 0; extra < 3 && belongsToTheTransfer(m_link.LastReply().NumericCode); ++extra)
        m_link.ReadReply();
}

bool OutboxUpload::renameFrom(const std::string& from)
{
    if (m_rename == RenameSupport::None)
        return false;
    try {
        m_link.SendCommand("RNFR " + from, {350});
    } catch (const EFtpReplyError& refused) {
        if (!notImplemented(refused))
            throw;
        m_rename = RenameSupport::None;
        return false;
    }
    return true;
}

void OutboxUpload::keepAside(const ServerCopy& copy, const std::string& besideName, const QString& name)
{
    const std::string aside = m_names.unused(besideName + "." + copy.result.keptAs.toStdString() + "-" + timeStamp());
    if (!renameFrom(copy.remote) && copy.leftover) {
        // A work file already stands beside the name under a name of its own.
        note(QStringLiteral("แฟ้มงาน %1 บนเซิร์ฟเวอร์รวมไม่ได้ ถูกทิ้งไว้ตามเดิม เพราะเซิร์ฟเวอร์เปลี่ยนชื่อแฟ้มไม่ได้ "
                            "(the server's work file %1 cannot be combined (%2) and was left as it is: the server "
                            "has no RNFR)")
                 .arg(shown(copy.remote), copy.result.reason));
        return;
    }
    if (m_rename == RenameSupport::None)
        throw Error(QStringLiteral("สำเนา \"%1\" บนเซิร์ฟเวอร์รวมกับแฟ้มของเราไม่ได้ และเซิร์ฟเวอร์เปลี่ยนชื่อแฟ้มไม่ได้ "
                                   "จึงไม่ได้แตะต้องสำเนานั้น แฟ้มยังอยู่ในกล่องส่ง\nThe server's copy %1 cannot be "
                                   "combined with ours (%2) and cannot be kept aside: the server has no RNFR. It was "
                                   "left as it is and the file stays in the outbox.")
                        .arg(shown(copy.remote), copy.result.reason));
    m_link.SendCommand("RNTO " + aside, {250});
    m_names.remove(copy.remote);
    m_names.add(aside);
    note(QStringLiteral("สำเนา %1 บนเซิร์ฟเวอร์เก็บไว้เป็น %2 และส่ง %3 ของเราขึ้นไปแทน "
                        "(the server's copy %1 kept as %2: %4)")
             .arg(shown(copy.remote), shown(aside), name, copy.result.reason));
}

void OutboxUpload::place(const QString& localPath, const std::string& target, bool targetHeld)
{
    const std::string local = platform::nativePath(localPath);
    const std::string part = m_names.unused(target + PartTag + timeStamp());
    m_link.StoreFile(local, part, false);
    m_names.add(part);
    if (!(targetHeld && m_rename == RenameSupport::NotOverAFile) && renameFrom(part)) {
        try {
            m_link.SendCommand("RNTO " + target, {250});
            m_names.remove(part);
            m_names.add(target);
            return;
        } catch (const EFtpReplyError& refused) {
            if (!targetHeld || refused.NumericCode() < 500)
                throw;
            m_rename = RenameSupport::NotOverAFile;
        }
    }
    if (m_rename == RenameSupport::None) {
        // No rename at all: the work file is whole on the server and holds
        // everything the name held, so a STOR over the name cut short loses
        // nothing; the work file goes once the name holds ours.
        m_link.StoreFile(local, target, false);
        m_names.add(target);
        m_link.RemoveFile(part);
        m_names.remove(part);
        return;
    }
    // The server renames, but not over a file: theirs aside, ours in, and
    // theirs deleted only once ours is in place.
    const std::string old = m_names.unused(target + OldTag + timeStamp());
    m_link.Rename(target, old);
    m_names.remove(target);
    m_names.add(old);
    m_link.Rename(part, target);
    m_names.remove(part);
    m_names.add(target);
    m_link.RemoveFile(old);
    m_names.remove(old);
}

} // namespace tevrak::exchange
