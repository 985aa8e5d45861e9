#include "transfer/job/ServerCopyMerge.h"

#include "platform/core/ClaimFileName.h"
#include "platform/core/DriveC.h"
#include "platform/core/Error.h"
#include "platform/core/StagedCopy.h"
#include "records/tables/TableSchema.h"
#include "transfer/job/ServerTableMerge.h"
#include "zip/ArchiveMerge.h"
#include "zip/FileIo.h"
#include "zip/ZipFormat.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <fcntl.h>
#include <sys/stat.h>

namespace tevrak::transfer {

namespace {

using exchange::MergeResult;
using Outcome = MergeResult::Outcome;
using records::TableSchema;

// A document that would put a second, different file under a name the
// archive holds takes the claim's next free document number.
std::string nextFreeDocumentName(const std::set<std::string>& takenNames, const std::string& clashingName)
{
    QStringList taken;
    for (const std::string& name : takenNames)
        taken << QString::fromLatin1(name);
    const std::optional<QString> name =
        platform::ClaimFileName::nextFreeDocumentName(taken, QString::fromLatin1(clashingName));
    return name ? name->toStdString() : std::string();
}

// The local copy of the server's file must open: when it does not, this
// machine failed, and the server's file is not to be judged by it.
void requireReadable(const QString& theirs)
{
    QFile file(theirs);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Cannot open the server's copy brought down to \"%1\". %2")
                        .arg(theirs, file.errorString()));
}

MergeResult mergeArchive(const QString& ours, const QString& theirs)
{
    requireReadable(theirs);
    const QString merged = QFileInfo(ours).dir().filePath(QStringLiteral(".tevrak-merged.zip"));
    std::vector<RenamedMember> renamed;
    std::string reason;
    switch (mergeArchives(platform::nativePath(theirs), platform::nativePath(ours), platform::nativePath(merged),
                          nextFreeDocumentName, renamed, reason)) {
    case ArchiveMerge::TheirsUnreadable:
        return {Outcome::KeepAside, QStringLiteral("unreadable"), QString::fromStdString(reason)};
    case ArchiveMerge::Failed:
        throw Error(QStringLiteral("Cannot combine the claim archive \"%1\" with the server's copy: %2")
                        .arg(QFileInfo(ours).fileName(), QString::fromStdString(reason)));
    case ArchiveMerge::Merged:
        break;
    }
    platform::renameOver(merged, ours);
    QStringList renames;
    for (const RenamedMember& member : renamed)
        renames << QStringLiteral("%1 (%2) stored as %3")
                       .arg(QString::fromLatin1(member.from),
                            member.ours ? QStringLiteral("ours") : QStringLiteral("the server's"),
                            QString::fromLatin1(member.to));
    return {Outcome::Merged, {},
            renames.isEmpty() ? QString()
                              : QStringLiteral("documents of one name with different contents kept both: ") +
                                    renames.join(QStringLiteral(", "))};
}

MergeResult mergeTable(const QString& ours, const QString& theirs, const TableSchema& table)
{
    const ServerTableMerge merged = mergeServerTable(ours, theirs, table, QFileInfo(ours).path());
    if (merged.tookEverything())
        return {Outcome::Merged, {}, merged.summary()};
    const QString keptAs = merged.unreadableParts > 0 ? QStringLiteral("unreadable")
                           : merged.otherObjects > 0  ? QStringLiteral("other-objects")
                                                      : QStringLiteral("skipped-rows");
    return {Outcome::KeepAside, keptAs, merged.summary()};
}

// Our .PX replaces theirs only when it lists every line theirs does (its table
// was combined first: the outbox is sent in name order, .DB before .PX).
MergeResult mergeIndexFile(const QString& ours, const QString& theirs)
{
    QFile our(ours);
    if (!our.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Cannot open file \"%1\". %2").arg(ours, our.errorString()));
    QSet<QByteArray> ourLines;
    while (!our.atEnd())
        ourLines.insert(our.readLine().trimmed());
    QFile their(theirs);
    if (!their.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Cannot open the server's copy brought down to \"%1\". %2")
                        .arg(theirs, their.errorString()));
    qint64 missing = 0;
    while (!their.atEnd()) {
        const QByteArray line = their.readLine(1 << 16).trimmed();
        if (!line.isEmpty() && !ourLines.contains(line))
            ++missing;
    }
    if (missing == 0)
        return {Outcome::Merged, {}, {}};
    return {Outcome::KeepAside, QStringLiteral("unmatched"),
            QStringLiteral("%1 of its lines are no key of the combined table").arg(missing)};
}

// The export table a file of the outbox belongs to ("Tevrak2.DB", "Expense2.PX"), or nullptr.
const TableSchema* exportTableOf(const QFileInfo& file)
{
    const TableSchema* table = records::tables::find(file.completeBaseName());
    return table == &records::tables::tevrak2() || table == &records::tables::expense2() ? table : nullptr;
}

// The claim whose documents a readable archive holds, when they are all of one claim.
std::optional<QString> archiveClaim(const QString& file)
{
    const zipio::Fd fd(::open(platform::nativePath(file).c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0)
        return std::nullopt;
    std::vector<zipfmt::ExistingArchive> parts;
    std::string reason;
    if (!zipfmt::readJoinedArchive(fd.get(), std::uint64_t(info.st_size),
                                   {MaxServerArchiveBytes, MaxServerMemberBytes, MaxServerArchiveParts}, parts, reason))
        return std::nullopt;
    QSet<QString> claims;
    for (const zipfmt::ExistingArchive& part : parts)
        for (const zipfmt::ExistingMember& member : part.members)
            claims.insert(platform::ClaimFileName::claimPart(QString::fromLatin1(member.name)));
    if (claims.size() != 1)
        return std::nullopt;
    const QString claim = *claims.begin();
    if (claim.size() != platform::ClaimFileName::ClaimLength || platform::ClaimFileName::forbiddenClaimCharacter(claim))
        return std::nullopt;
    return claim + QStringLiteral(".Zip");
}

} // namespace

bool ServerCopyMerge::combines(const QString& name) const
{
    const QFileInfo file(name);
    const QString suffix = file.suffix().toLower();
    return suffix == QLatin1String("zip") ||
           (exportTableOf(file) && (suffix == QLatin1String("db") || suffix == QLatin1String("px")));
}

std::uint64_t ServerCopyMerge::largestCopy(const QString& name) const
{
    if (name.isEmpty() || QFileInfo(name).suffix().compare(QLatin1String("zip"), Qt::CaseInsensitive) == 0)
        return MaxServerArchiveBytes;
    return MaxServerTableBytes;
}

exchange::MergeResult ServerCopyMerge::merge(const QString& ours, const QString& theirs, const QString& name)
{
    if (!combines(name))
        return {Outcome::Conflict, {}, {}};
    const QFileInfo file(name);
    const QString suffix = file.suffix().toLower();
    if (suffix == QLatin1String("zip"))
        return mergeArchive(ours, theirs);
    if (suffix == QLatin1String("db"))
        return mergeTable(ours, theirs, *exportTableOf(file));
    return mergeIndexFile(ours, theirs);
}

std::optional<QString> ServerCopyMerge::ownerOf(const QString& copy)
{
    for (const TableSchema* table : {&records::tables::tevrak2(), &records::tables::expense2()})
        if (holdsServerTable(copy, *table, QFileInfo(copy).path()))
            return table->fileName;
    return archiveClaim(copy);
}

void ServerCopyMerge::note(const QString& event)
{
    if (OnNote)
        OnNote(event);
}

} // namespace tevrak::transfer
