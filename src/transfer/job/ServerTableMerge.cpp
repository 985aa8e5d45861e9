#include "transfer/job/ServerTableMerge.h"

#include "platform/core/Cp874.h"
#include "platform/core/Error.h"
#include "platform/core/StagedCopy.h"
#include "records/tables/DatabaseConnection.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <QUrl>
#include <chrono>
#include <functional>
#include <sqlite3.h>
#include <vector>

namespace tevrak::transfer {

namespace {

using Clock = std::chrono::steady_clock;
using records::TableSchema;

// --- the table files a server copy is made of ------------------------------------

struct FilePart {
    qint64 offset = 0;
    qint64 length = 0;
    QString notATableFile; // why the bytes from `offset` on are no table file, when they are not
};

quint32 bigEndian(const QByteArray& bytes, int at, int width)
{
    quint32 value = 0;
    for (int i = 0; i < width; ++i)
        value = (value << 8) | static_cast<uchar>(bytes[at + i]);
    return value;
}

// Whole table files joined end to end, each as long as its header says.
std::vector<FilePart> tableFilesIn(QFile& file)
{
    static const QByteArray magic("SQLite format 3\0", 16);
    const qint64 size = file.size();
    std::vector<FilePart> parts;
    qint64 offset = 0;
    while (offset < size || parts.empty()) {
        const qint64 rest = size - offset;
        if (parts.size() == static_cast<size_t>(MaxServerTableParts)) {
            parts.push_back({offset, rest, QStringLiteral("more than %1 table files joined").arg(MaxServerTableParts)});
            break;
        }
        if (!file.seek(offset))
            throw Error(QStringLiteral("Cannot read file \"%1\". %2").arg(file.fileName(), file.errorString()));
        const QByteArray header = file.read(100);
        if (header.size() < 100 || !header.startsWith(magic)) {
            parts.push_back({offset, rest, QStringLiteral("no table file header at byte %1").arg(offset)});
            break;
        }
        quint32 pageSize = bigEndian(header, 16, 2);
        if (pageSize == 1)
            pageSize = 65536;
        if (pageSize < 512 || pageSize > 65536 || (pageSize & (pageSize - 1)) != 0) {
            parts.push_back({offset, rest, QStringLiteral("a page size of %1 at byte %2").arg(pageSize).arg(offset)});
            break;
        }
        const quint32 pageCount = bigEndian(header, 28, 4);
        // The page count holds only when the header's "valid for" field
        // matches its change counter (older writers left it stale).
        const bool countHolds = pageCount > 0 && bigEndian(header, 92, 4) == bigEndian(header, 24, 4);
        const qint64 length = countHolds ? std::min<qint64>(qint64(pageSize) * pageCount, rest) : rest;
        parts.push_back({offset, length, {}});
        offset += length;
    }
    return parts;
}

// One part on its own, for SQLite to open: the file itself when it is the
// whole file, otherwise a copy of its bytes in `folder`.
QString partFile(QFile& file, const FilePart& part, const QString& folder, int index)
{
    if (part.offset == 0 && part.length == file.size())
        return file.fileName();
    const QString path = QDir(folder).filePath(QStringLiteral("part-%1.db").arg(index));
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw Error(QStringLiteral("Cannot create file \"%1\". %2").arg(path, out.errorString()));
    if (!file.seek(part.offset))
        throw Error(QStringLiteral("Cannot read file \"%1\". %2").arg(file.fileName(), file.errorString()));
    for (qint64 left = part.length; left > 0;) {
        const QByteArray block = file.read(std::min<qint64>(left, 1 << 20));
        if (block.isEmpty())
            throw Error(QStringLiteral("Cannot read file \"%1\". %2").arg(file.fileName(), file.errorString()));
        if (out.write(block) != block.size())
            throw Error(QStringLiteral("Cannot write file \"%1\". %2").arg(path, out.errorString()));
        left -= block.size();
    }
    return path;
}

// --- reading one table file of the server -----------------------------------------

// Failures of this machine, not of the server's file.
bool isLocalFailure(int rc)
{
    switch (rc & 0xff) {
    case SQLITE_CANTOPEN:
    case SQLITE_NOMEM:
    case SQLITE_FULL:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return true;
    case SQLITE_IOERR:
        return rc != SQLITE_IOERR_SHORT_READ;
    default:
        return false;
    }
}

class Statement {
public:
    Statement(sqlite3* db, const char* sql) { m_rc = sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr); }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    sqlite3_stmt* handle() const { return m_stmt; }
    int prepared() const { return m_rc; }

private:
    sqlite3_stmt* m_stmt = nullptr;
    int m_rc;
};

QString text(sqlite3_stmt* statement, int column)
{
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return bytes ? QString::fromUtf8(bytes, sqlite3_column_bytes(statement, column)) : QString();
}

// A table file from the server, opened so that nothing in it runs: read-only
// and immutable, defensive, its schema untrusted, views and triggers off, each
// value at most MaxServerValueBytes, and every statement stopped at the deadline.
class ServerTableFile {
public:
    ServerTableFile(const QString& path, Clock::time_point deadline) : m_path(path), m_deadline(deadline)
    {
        const QByteArray uri = "file:" + QUrl::toPercentEncoding(path, "/") + "?mode=ro&immutable=1";
        const int rc = sqlite3_open_v2(uri.constData(), &m_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
        if (rc != SQLITE_OK)
            throw Error(QStringLiteral("Cannot open the server's copy brought down to \"%1\": %2")
                            .arg(path, QString::fromUtf8(sqlite3_errstr(rc))));
        const std::pair<int, int> settings[] = {{SQLITE_DBCONFIG_DEFENSIVE, 1},
                                                {SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0},
                                                {SQLITE_DBCONFIG_ENABLE_TRIGGER, 0},
                                                {SQLITE_DBCONFIG_ENABLE_VIEW, 0}};
        for (const auto& [option, value] : settings) {
            int now = -1;
            if (sqlite3_db_config(m_db, option, value, &now) != SQLITE_OK || now != value)
                throw Error(QStringLiteral("SQLite cannot open a server copy defensively (option %1).").arg(option));
        }
        sqlite3_limit(m_db, SQLITE_LIMIT_LENGTH, MaxServerValueBytes);
        sqlite3_progress_handler(m_db, 1000, &ServerTableFile::pastDeadline, &m_deadline);
    }
    ~ServerTableFile() { sqlite3_close_v2(m_db); }
    ServerTableFile(const ServerTableFile&) = delete;
    ServerTableFile& operator=(const ServerTableFile&) = delete;

    // Reads the rows of the table, giving each to `onRow` (the columns in the
    // schema's order); "" when the file is a good table file holding a real
    // table of the schema, otherwise why not.
    QString readRows(const TableSchema& table, const std::function<void(sqlite3_stmt*)>& onRow,
                     int& otherObjects)
    {
        {
            Statement check(m_db, "PRAGMA quick_check");
            int rc = check.prepared();
            if (rc != SQLITE_OK)
                return failure(rc, "checking the file");
            QStringList problems;
            while ((rc = sqlite3_step(check.handle())) == SQLITE_ROW)
                problems << text(check.handle(), 0);
            if (rc != SQLITE_DONE)
                return failure(rc, "checking the file");
            if (problems != QStringList{QStringLiteral("ok")})
                return QStringLiteral("damaged: %1").arg(problems.mid(0, 3).join(QStringLiteral("; ")));
        }
        if (const QString wrong = wrongShape(table); !wrong.isEmpty())
            return wrong;
        if (const QString unread = countOtherObjects(table, otherObjects); !unread.isEmpty())
            return unread;
        QStringList columns;
        for (const auto& field : table.fields)
            columns << records::quotedName(field.name);
        const QByteArray select =
            QStringLiteral("SELECT %1 FROM main.%2").arg(columns.join(QLatin1Char(',')), records::quotedName(table.name)).toUtf8();
        Statement rows(m_db, select.constData());
        if (rows.prepared() != SQLITE_OK)
            return failure(rows.prepared(), "reading its rows");
        int rc;
        while ((rc = sqlite3_step(rows.handle())) == SQLITE_ROW) {
            onRow(rows.handle());
            if (Clock::now() > m_deadline)
                return failure(SQLITE_INTERRUPT, "reading its rows");
        }
        return rc == SQLITE_DONE ? QString() : failure(rc, "reading its rows");
    }

private:
    static int pastDeadline(void* deadline)
    {
        return Clock::now() > *static_cast<Clock::time_point*>(deadline) ? 1 : 0;
    }

    QString failure(int rc, const char* step) const
    {
        if (isLocalFailure(rc))
            throw Error(QStringLiteral("Cannot read the server's copy brought down to \"%1\" (%2): %3")
                            .arg(m_path, QLatin1String(step), QString::fromUtf8(sqlite3_errmsg(m_db))));
        if ((rc & 0xff) == SQLITE_INTERRUPT)
            return QStringLiteral("%1 took longer than %2 seconds").arg(QLatin1String(step)).arg(ServerTableSeconds);
        return QStringLiteral("%1: %2").arg(QLatin1String(step), QString::fromUtf8(sqlite3_errmsg(m_db)));
    }

    // Tables, views and triggers besides the export table (indexes are derived
    // from the rows, and SQLite's own tables hold nothing of the garage's).
    QString countOtherObjects(const TableSchema& table, int& count)
    {
        Statement others(m_db, "SELECT count(*) FROM sqlite_master WHERE type IN ('table', 'view', 'trigger') "
                               "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' AND NOT (type = 'table' AND name = ?1 COLLATE NOCASE)");
        if (others.prepared() != SQLITE_OK)
            return failure(others.prepared(), "reading its schema");
        const QByteArray name = table.name.toUtf8();
        sqlite3_bind_text(others.handle(), 1, name.constData(), int(name.size()), SQLITE_TRANSIENT);
        const int rc = sqlite3_step(others.handle());
        if (rc != SQLITE_ROW)
            return failure(rc, "reading its schema");
        count += sqlite3_column_int(others.handle(), 0);
        return {};
    }

    // "" when the file holds a real table of the schema's name with exactly its columns.
    QString wrongShape(const TableSchema& table)
    {
        const QByteArray name = table.name.toUtf8();
        Statement entry(m_db, "SELECT rootpage, sql FROM sqlite_master WHERE type = 'table' AND name = ?1 COLLATE NOCASE");
        if (entry.prepared() != SQLITE_OK)
            return failure(entry.prepared(), "reading its schema");
        sqlite3_bind_text(entry.handle(), 1, name.constData(), int(name.size()), SQLITE_TRANSIENT);
        int rc = sqlite3_step(entry.handle());
        if (rc == SQLITE_DONE)
            return QStringLiteral("no table %1").arg(table.name);
        if (rc != SQLITE_ROW)
            return failure(rc, "reading its schema");
        const bool stored = sqlite3_column_int64(entry.handle(), 0) > 0 &&
                            text(entry.handle(), 1).simplified().startsWith(QLatin1String("CREATE TABLE"), Qt::CaseInsensitive);
        if (!stored)
            return QStringLiteral("%1 is not a table of rows (a virtual table)").arg(table.name);

        Statement info(m_db, "SELECT name, hidden FROM pragma_table_xinfo(?1)");
        if (info.prepared() != SQLITE_OK)
            return failure(info.prepared(), "reading its columns");
        sqlite3_bind_text(info.handle(), 1, name.constData(), int(name.size()), SQLITE_TRANSIENT);
        QSet<QString> theirs;
        while ((rc = sqlite3_step(info.handle())) == SQLITE_ROW) {
            if (sqlite3_column_int(info.handle(), 1) != 0)
                return QStringLiteral("%1 has a generated column").arg(table.name);
            theirs.insert(text(info.handle(), 0).toLower());
        }
        if (rc != SQLITE_DONE)
            return failure(rc, "reading its columns");
        QSet<QString> expected;
        for (const auto& field : table.fields)
            expected.insert(field.name.toLower());
        if (theirs != expected)
            return QStringLiteral("%1 does not have the columns of the export table").arg(table.name);
        return {};
    }

    QString m_path;
    Clock::time_point m_deadline;
    sqlite3* m_db = nullptr;
};

// --- the keys of server rows -------------------------------------------------------

struct KeyColumn {
    int column = 0;
    bool text = false;
};

std::vector<KeyColumn> keyColumns(const TableSchema& table)
{
    std::vector<KeyColumn> keys;
    for (const QString& key : table.primaryKey)
        for (int i = 0; i < table.fields.size(); ++i)
            if (table.fields[i].name.compare(key, Qt::CaseInsensitive) == 0)
                keys.push_back({i, table.fields[i].type == records::FieldType::String});
    return keys;
}

// The row's key as the .PX would show it, or nothing when a key field is
// NULL, empty, of the wrong type, not UTF-8 in the Thai code page, or holds a
// control character (a TAB, CR or LF would write false lines into the .PX).
std::optional<QByteArray> validKey(sqlite3_stmt* row, const std::vector<KeyColumn>& keys)
{
    QByteArray key;
    for (const KeyColumn& k : keys) {
        if (!key.isEmpty())
            key += '\t';
        const int type = sqlite3_column_type(row, k.column);
        if (!k.text) {
            if (type != SQLITE_INTEGER)
                return std::nullopt;
            key += QByteArray::number(sqlite3_column_int64(row, k.column));
            continue;
        }
        if (type != SQLITE_TEXT)
            return std::nullopt;
        const QByteArray bytes(reinterpret_cast<const char*>(sqlite3_column_text(row, k.column)),
                               sqlite3_column_bytes(row, k.column));
        if (bytes.isEmpty())
            return std::nullopt;
        for (const char c : bytes)
            if (static_cast<uchar>(c) < 0x20 || c == 0x7f)
                return std::nullopt;
        const QString value = QString::fromUtf8(bytes);
        if (value.toUtf8() != bytes || !platform::cp874::encode(value))
            return std::nullopt;
        key += bytes;
    }
    return key;
}

// --- our side ----------------------------------------------------------------------

// Our export table's copy, open for the server's rows to be added in one transaction.
class CombinedTable {
public:
    CombinedTable(const QString& path, const TableSchema& table) : m_path(path)
    {
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
            fail("opening it");
        exec("BEGIN IMMEDIATE");
        QStringList columns, parameters, sameKey;
        for (int i = 0; i < table.fields.size(); ++i) {
            columns << records::quotedName(table.fields[i].name);
            parameters << QStringLiteral("?%1").arg(i + 1);
        }
        for (const KeyColumn& key : keyColumns(table))
            sameKey << QStringLiteral("%1 = ?%2").arg(columns[key.column]).arg(key.column + 1);
        const QByteArray sql = QStringLiteral("INSERT INTO main.%1 (%2) SELECT %3 WHERE NOT EXISTS "
                                              "(SELECT 1 FROM main.%1 WHERE %4)")
                                   .arg(records::quotedName(table.name), columns.join(QLatin1Char(',')),
                                        parameters.join(QLatin1Char(',')), sameKey.join(QStringLiteral(" AND ")))
                                   .toUtf8();
        if (sqlite3_prepare_v2(m_db, sql.constData(), -1, &m_insert, nullptr) != SQLITE_OK)
            fail("preparing the insert");
    }
    ~CombinedTable()
    {
        sqlite3_finalize(m_insert);
        sqlite3_close_v2(m_db);
    }
    CombinedTable(const CombinedTable&) = delete;
    CombinedTable& operator=(const CombinedTable&) = delete;

    // Adds the server's row unless ours hold its key; whether it was added.
    bool add(sqlite3_stmt* row)
    {
        const int columns = sqlite3_column_count(row);
        for (int i = 0; i < columns; ++i)
            sqlite3_bind_value(m_insert, i + 1, sqlite3_column_value(row, i));
        if (sqlite3_step(m_insert) != SQLITE_DONE)
            fail("adding a row");
        sqlite3_reset(m_insert);
        return sqlite3_changes(m_db) > 0;
    }
    void commit() { exec("COMMIT"); }

private:
    void exec(const char* sql)
    {
        if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            fail(sql);
    }
    [[noreturn]] void fail(const char* step)
    {
        throw Error(QStringLiteral("Cannot combine the export table \"%1\" (%2): %3")
                        .arg(m_path, QLatin1String(step), QString::fromUtf8(m_db ? sqlite3_errmsg(m_db) : "out of memory")));
    }

    QString m_path;
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_insert = nullptr;
};

// A hidden folder beside the outbox file for the work files of one combining.
class WorkFolder {
public:
    explicit WorkFolder(const QString& folder) : m_dir(QDir(folder).filePath(QStringLiteral(".tevrak-merge-XXXXXX")))
    {
        if (!m_dir.isValid())
            throw Error(QStringLiteral("Cannot create a work folder in \"%1\": %2").arg(folder, m_dir.errorString()));
    }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
};

void openServerCopy(QFile& file)
{
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Cannot open the server's copy brought down to \"%1\". %2")
                        .arg(file.fileName(), file.errorString()));
}

} // namespace

QString ServerTableMerge::summary() const
{
    QStringList said{QStringLiteral("%1 server rows added").arg(rowsAdded)};
    if (rowsWithBadKey > 0)
        said << QStringLiteral("%1 skipped for an empty or invalid key").arg(rowsWithBadKey);
    if (rowsWithKeyMet > 0)
        said << QStringLiteral("%1 skipped for a key an earlier server row had").arg(rowsWithKeyMet);
    if (parts > 1)
        said << QStringLiteral("%1 table files joined end to end").arg(parts);
    if (unreadableParts > 0)
        said << QStringLiteral("%1 unreadable (%2)")
                    .arg(parts > 1 ? QStringLiteral("%1 of them").arg(unreadableParts) : QStringLiteral("the file"),
                         unreadable);
    if (otherObjects > 0)
        said << QStringLiteral("%1 other tables, views or triggers not taken").arg(otherObjects);
    return said.join(QStringLiteral("; "));
}

ServerTableMerge mergeServerTable(const QString& ours, const QString& theirs, const TableSchema& table,
                                  const QString& workFolder)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(ServerTableSeconds);
    QFile server(theirs);
    openServerCopy(server);
    const WorkFolder work(workFolder);
    const QString combinedPath = work.filePath(table.fileName);
    if (!QFile::copy(ours, combinedPath))
        throw Error(QStringLiteral("Cannot copy file \"%1\" to \"%2\"").arg(ours, combinedPath));

    ServerTableMerge result;
    const std::vector<KeyColumn> keys = keyColumns(table);
    QSet<QByteArray> keysMet;
    {
        CombinedTable combined(combinedPath, table);
        const std::vector<FilePart> parts = tableFilesIn(server);
        result.parts = int(parts.size());
        QStringList unreadable;
        for (size_t i = 0; i < parts.size(); ++i) {
            QString why = parts[i].notATableFile;
            if (why.isEmpty()) {
                ServerTableFile file(partFile(server, parts[i], work.path(), int(i)), deadline);
                why = file.readRows(table, [&](sqlite3_stmt* row) {
                    const std::optional<QByteArray> key = validKey(row, keys);
                    if (!key) {
                        ++result.rowsWithBadKey;
                    } else if (keysMet.contains(*key)) {
                        ++result.rowsWithKeyMet;
                    } else {
                        keysMet.insert(*key);
                        if (combined.add(row))
                            ++result.rowsAdded;
                    }
                }, result.otherObjects);
            }
            if (!why.isEmpty()) {
                ++result.unreadableParts;
                unreadable << (parts.size() > 1 ? QStringLiteral("bytes %1-%2: %3")
                                                      .arg(parts[i].offset)
                                                      .arg(parts[i].offset + parts[i].length)
                                                      .arg(why)
                                                : why);
            }
        }
        result.unreadable = unreadable.join(QStringLiteral("; "));
        if (result.rowsAdded == 0)
            return result; // ours as it was
        combined.commit();
    }
    {
        records::DatabaseConnection connection(work.path());
        connection.attach(table);
        connection.rewriteIndexFile(table);
    }
    const QDir outbox = QFileInfo(ours).dir();
    platform::renameOver(combinedPath, ours);
    platform::renameOver(work.filePath(table.indexFileName()), outbox.filePath(table.indexFileName()));
    return result;
}

bool holdsServerTable(const QString& file, const TableSchema& table, const QString& workFolder)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(ServerTableSeconds);
    QFile server(file);
    openServerCopy(server);
    const std::vector<FilePart> parts = tableFilesIn(server);
    if (!parts.front().notATableFile.isEmpty())
        return false;
    const WorkFolder work(workFolder);
    ServerTableFile first(partFile(server, parts.front(), work.path(), 0), deadline);
    int otherObjects = 0;
    return first.readRows(table, [](sqlite3_stmt*) {}, otherObjects).isEmpty();
}

} // namespace tevrak::transfer
