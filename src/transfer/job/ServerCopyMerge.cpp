#include "transfer/job/ServerCopyMerge.h"

#include "platform/core/ClaimFileName.h"
#include "platform/core/DriveC.h"
#include "platform/core/Error.h"
#include "platform/core/StagedCopy.h"
#include "records/tables/DatabaseConnection.h"
#include "records/tables/TableSchema.h"
#include "zip/ArchiveMerge.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>
#include <sqlite3.h>
#include <utility>

namespace tevrak::transfer {

namespace {

using Outcome = exchange::ServerCopyMerger::Outcome;
using records::DatabaseConnection;
using records::TableSchema;

// A document that would put a second, different file under a name the
// archive holds takes the claim's next free document number.
std::string nextFreeDocumentName(const std::set<std::string>& takenNames, const std::string& clashingName)
{
    QStringList taken;
    for (const std::string& name : takenNames)
        taken << QString::fromLatin1(name);
    const QString clashing = QString::fromLatin1(clashingName);
    const QString claim = platform::ClaimFileName::claimPart(clashing);
    const std::optional<int> sequence =
        platform::ClaimFileName::nextFree(taken, claim, platform::FilingCategory::Documents);
    if (!sequence)
        return {};
    const QString extension = clashing.mid(platform::ClaimFileName::ClaimLength + platform::ClaimFileName::SequenceLength);
    return platform::ClaimFileName::format(claim, *sequence, extension).toStdString();
}

} // namespace

std::vector<RenamedMember> ServerCopyMerge::takeRenamedMembers()
{
    return std::exchange(m_renamed, {});
}

namespace {

Outcome mergeArchive(const QString& ours, const QString& theirs, std::vector<RenamedMember>& renamed)
{
    const QString merged = QFileInfo(ours).dir().filePath(QStringLiteral(".tevrak-merged.zip"));
    std::string reason;
    switch (mergeArchives(platform::nativePath(theirs), platform::nativePath(ours),
                          platform::nativePath(merged), nextFreeDocumentName, renamed, reason)) {
    case ArchiveMerge::TheirsUnreadable:
        return Outcome::Replace;
    case ArchiveMerge::Failed:
        throw Error(QStringLiteral("Cannot combine the claim archive \"%1\" with the server's copy: %2")
                        .arg(QFileInfo(ours).fileName(), QString::fromStdString(reason)));
    case ArchiveMerge::Merged:
        break;
    }
    platform::renameOver(merged, ours);
    return Outcome::Merged;
}

// Every field of the table, quoted, in its order.
QString columnList(const TableSchema& table)
{
    QStringList columns;
    for (const auto& field : table.fields)
        columns << records::quotedName(field.name);
    return columns.join(QLatin1Char(','));
}

// What the server's copy of an export table is to us.
enum class TableCopy { Readable, Unreadable, OtherShape };

TableCopy inspectTable(const QString& path, const TableSchema& table)
{
    sqlite3* db = nullptr;
    const QByteArray uri = "file:" + QUrl::toPercentEncoding(path, "/") + "?mode=ro";
    if (sqlite3_open_v2(uri.constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) != SQLITE_OK) {
        sqlite3_close_v2(db);
        return TableCopy::Unreadable;
    }
    auto scalar = [db](const QByteArray& sql, QByteArray& value) {
        sqlite3_stmt* statement = nullptr;
        bool ok = sqlite3_prepare_v2(db, sql.constData(), -1, &statement, nullptr) == SQLITE_OK;
        const int rc = ok ? sqlite3_step(statement) : SQLITE_ERROR;
        ok = rc == SQLITE_ROW || rc == SQLITE_DONE;
        if (rc == SQLITE_ROW)
            value = QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
        sqlite3_finalize(statement);
        return ok;
    };
    QByteArray check;
    TableCopy result = TableCopy::Readable;
    if (!scalar("PRAGMA quick_check", check) || check != "ok") {
        result = TableCopy::Unreadable;
    } else {
        QByteArray ignored;
        const QString probe = QStringLiteral("SELECT %1 FROM %2 LIMIT 1")
                                  .arg(columnList(table), records::quotedName(table.name));
        if (!scalar(probe.toUtf8(), ignored))
            result = TableCopy::OtherShape;
    }
    sqlite3_close_v2(db);
    return result;
}

// Adds to `into` (attached in `connection`) the rows of the file `from` whose
// key `into` does not hold yet.
void addMissingRows(DatabaseConnection& connection, const TableSchema& table, const QString& from)
{
    connection.attach(table);
    {
        DatabaseConnection::Statement attach(connection, QStringLiteral("ATTACH DATABASE ?1 AS theirs"),
                                             {from});
        attach.bind(1, QString::fromUtf8("file:" + QUrl::toPercentEncoding(from, "/") + "?mode=ro"));
        attach.run();
    }
    QStringList sameKey;
    for (const QString& key : table.primaryKey)
        sameKey << QStringLiteral("m.\"%1\" = t.\"%1\"").arg(key);
    const QString into = DatabaseConnection::qualifiedName(table);
    const QString list = columnList(table);
    {
        DatabaseConnection::Statement insert(
            connection,
            QStringLiteral("INSERT INTO %1 (%2) SELECT %2 FROM theirs.\"%3\" AS t WHERE NOT EXISTS "
                           "(SELECT 1 FROM %1 AS m WHERE %4)")
                .arg(into, list, table.name, sameKey.join(QStringLiteral(" AND "))),
            {from});
        insert.run();
    }
    DatabaseConnection::Statement detach(connection, QStringLiteral("DETACH DATABASE theirs"), {from});
    detach.run();
}

Outcome mergeExportTable(const QString& ours, const QString& theirs, const TableSchema& table)
{
    switch (inspectTable(theirs, table)) {
    case TableCopy::Unreadable:
        return Outcome::Replace;
    case TableCopy::OtherShape:
        return Outcome::Conflict;
    case TableCopy::Readable:
        break;
    }
    const QDir outbox = QFileInfo(ours).dir();
    QTemporaryDir work(outbox.filePath(QStringLiteral(".tevrak-merge-XXXXXX")));
    if (!work.isValid())
        throw Error(QStringLiteral("Cannot create a work folder in \"%1\": %2")
                        .arg(outbox.path(), work.errorString()));
    const QString combined = work.filePath(table.fileName);
    if (!QFile::copy(ours, combined))
        throw Error(QStringLiteral("Cannot copy file \"%1\" to \"%2\"").arg(ours, combined));
    {
        DatabaseConnection connection(work.path());
        addMissingRows(connection, table, theirs);
        connection.rewriteIndexFile(table);
    }
    platform::renameOver(combined, ours);
    platform::renameOver(work.filePath(table.indexFileName()), outbox.filePath(table.indexFileName()));
    return Outcome::Merged;
}

// The export table a file of the outbox belongs to ("Tevrak2.DB", "Expense2.PX"), or nullptr.
const TableSchema* exportTableOf(const QFileInfo& file)
{
    const TableSchema* table = records::tables::find(file.completeBaseName());
    return table == &records::tables::tevrak2() || table == &records::tables::expense2() ? table : nullptr;
}

} // namespace

bool ServerCopyMerge::combines(const QString& name) const
{
    const QFileInfo file(name);
    const QString suffix = file.suffix().toLower();
    return suffix == QLatin1String("zip") ||
           (exportTableOf(file) && (suffix == QLatin1String("db") || suffix == QLatin1String("px")));
}

exchange::ServerCopyMerger::Outcome ServerCopyMerge::merge(const QString& ours, const QString& theirs,
                                                           const QString& name)
{
    if (!combines(name))
        return Outcome::Conflict;
    const QFileInfo file(name);
    const QString suffix = file.suffix().toLower();
    if (suffix == QLatin1String("zip"))
        return mergeArchive(ours, theirs, m_renamed);
    if (suffix == QLatin1String("db"))
        return mergeExportTable(ours, theirs, *exportTableOf(file));
    return Outcome::Replace; // an export table's .PX follows its table
}

} // namespace tevrak::transfer
