#include "records/tables/DatabaseConnection.h"

#include "platform/core/DriveC.h"
#include "platform/core/Error.h"
#include "platform/core/FileSystem.h"
#include "records/tables/PrimaryIndexFile.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>
#include <optional>
#include <sqlite3.h>
#include <sys/stat.h>

namespace tevrak::records {

namespace {

// "max(Seq)" is read as "MAX OF Seq", the name the callers know it by.
QString columnName(const char* raw)
{
    const QString name = QString::fromUtf8(raw ? raw : "");
    static const QRegularExpression aggregate(
        QStringLiteral("^\\s*(max|min|sum|avg|count)\\s*\\(\\s*(\\w+)\\s*\\)\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    const auto match = aggregate.match(name);
    if (match.hasMatch())
        return match.captured(1).toUpper() + QStringLiteral(" OF ") + match.captured(2);
    return name;
}

// The file's identity: a table file replaced by another (a restored copy) must
// be attached again, or posts would go to the replaced file.
bool fileIdentity(const QString& path, quint64& device, quint64& inode)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    device = quint64(info.st_dev);
    inode = quint64(info.st_ino);
    return true;
}

bool onlyBlanks(const char* text)
{
    for (; text && *text; ++text) {
        if (*text != ' ' && *text != '\t' && *text != '\r' && *text != '\n' && *text != ';')
            return false;
    }
    return true;
}

} // namespace

DatabaseConnection::DatabaseConnection(const QString& folder) : m_folder(folder)
{
    const int rc = sqlite3_open_v2(":memory:", &m_db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI, nullptr);
    if (rc != SQLITE_OK) {
        const QString message = QString::fromUtf8(m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc));
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        throw Error(QStringLiteral("เริ่มระบบฐานข้อมูลไม่ได้\n%1").arg(message));
    }
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, lockWaitMs);
}

DatabaseConnection::~DatabaseConnection()
{
    sqlite3_close_v2(m_db);
}

QString DatabaseConnection::folder() const
{
    return m_folder.isEmpty() ? platform::localPath(platform::paths::database) : m_folder;
}

QString DatabaseConnection::filePath(const TableSchema& table) const
{
    const QString dir = folder();
    const QString found = platform::existingEntry(dir, table.fileName);
    return found.isEmpty() ? dir + QLatin1Char('/') + table.fileName : found;
}

QString DatabaseConnection::indexFilePath(const TableSchema& table) const
{
    if (!table.hasPrimaryIndex())
        return {};
    const QString dir = QFileInfo(filePath(table)).path();
    const QString found = platform::existingEntry(dir, table.indexFileName());
    return found.isEmpty() ? dir + QLatin1Char('/') + table.indexFileName() : found;
}

QByteArray DatabaseConnection::indexFileContents(const TableSchema& table)
{
    QStringList key;
    for (const QString& field : table.primaryKey)
        key << quotedName(field);
    Statement select(
        *this,
        QStringLiteral("SELECT %1 FROM %2 ORDER BY %1").arg(key.join(QLatin1Char(',')), qualifiedName(table)),
        {filePath(table)});
    return PrimaryIndexFile::contents(table.primaryKey, select.fetchAll().rows);
}

qint32 DatabaseConnection::storedIndexFingerprint(const TableSchema& table)
{
    Statement read(*this, QStringLiteral("PRAGMA %1.user_version").arg(schemaName(table)), {filePath(table)});
    const ResultSet result = read.fetchAll();
    return result.rows.isEmpty() ? 0 : qint32(result.rows.first().value(0).toLongLong());
}

qint32 DatabaseConnection::IndexFileUpdate::fingerprint() const
{
    return insertion ? insertion->fingerprint : PrimaryIndexFile::fingerprint(contents);
}

QList<DatabaseConnection::IndexFileUpdate>
DatabaseConnection::commitInStep(const QStringList& files,
                                 const std::function<QList<IndexFileUpdate>()>& change)
{
    Transaction transaction(*this, files);
    const QList<IndexFileUpdate> updates = change();
    for (const IndexFileUpdate& update : updates)
        exec(QStringLiteral("PRAGMA %1.user_version=%2")
                 .arg(schemaName(*update.table))
                 .arg(update.fingerprint()),
             {filePath(*update.table)});
    transaction.commit();
    return updates;
}

void DatabaseConnection::writeIndexFiles(const QList<IndexFileUpdate>& updates)
{
    for (const IndexFileUpdate& update : updates) {
        const QString path = indexFilePath(*update.table);
        m_knownIndexFiles.remove(path);
        if (update.insertion)
            PrimaryIndexFile::insert(path, *update.insertion);
        else
            PrimaryIndexFile::write(path, update.contents);
        rememberIndexFile(path, update.fingerprint());
    }
}

void DatabaseConnection::rememberIndexFile(const QString& path, qint32 fingerprint)
{
    if (const auto stamp = PrimaryIndexFile::stamp(path))
        m_knownIndexFiles.insert(path, {*stamp, fingerprint});
}

std::optional<qint32> DatabaseConnection::inStepIndexFingerprint(const TableSchema& table)
{
    const QString path = indexFilePath(table);
    const qint32 stored = storedIndexFingerprint(table);
    const std::optional<PrimaryIndexFile::Stamp> before = PrimaryIndexFile::stamp(path);
    const auto known = m_knownIndexFiles.constFind(path);
    if (before && known != m_knownIndexFiles.constEnd() && known->stamp == *before)
        return known->fingerprint == stored ? std::optional(stored) : std::nullopt;
    const std::optional<QByteArray> current = PrimaryIndexFile::read(path);
    if (!current || PrimaryIndexFile::fingerprint(*current) != stored)
        return std::nullopt;
    // Changed while it was read: not known, read again next time.
    if (before && PrimaryIndexFile::stamp(path) == before)
        m_knownIndexFiles.insert(path, {*before, stored});
    return stored;
}

void DatabaseConnection::rewriteIndexFile(const TableSchema& table)
{
    if (!table.hasPrimaryIndex())
        return;
    writeIndexFiles(commitInStep({filePath(table)}, [&] {
        return QList<IndexFileUpdate>{{&table, indexFileContents(table), std::nullopt}};
    }));
}

void DatabaseConnection::keepIndexFileInStep(const TableSchema& table)
{
    if (table.hasPrimaryIndex() && !inStepIndexFingerprint(table))
        rewriteIndexFile(table);
}

DatabaseConnection::Transaction::Transaction(DatabaseConnection& connection, const QStringList& files)
    : m_connection(connection), m_files(files)
{
    m_connection.exec(QStringLiteral("BEGIN"), m_files);
}

DatabaseConnection::Transaction::~Transaction()
{
    if (m_open)
        sqlite3_exec(m_connection.m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}

void DatabaseConnection::Transaction::commit()
{
    m_connection.exec(QStringLiteral("COMMIT"), m_files);
    m_open = false;
}

QString DatabaseConnection::schemaName(const TableSchema& table)
{
    return QStringLiteral("db_") + table.name.toLower();
}

QString DatabaseConnection::qualifiedName(const TableSchema& table)
{
    return schemaName(table) + QStringLiteral(".\"") + table.name + QLatin1Char('"');
}

void DatabaseConnection::attach(const TableSchema& table)
{
    const QString path = filePath(table);
    const QString schema = schemaName(table);
    if (!QFileInfo(path).isFile()) {
        if (m_attached.contains(schema))
            detach(table);
        throw Error(QStringLiteral("ไม่พบตาราง\n%1").arg(path));
    }
    quint64 device = 0;
    quint64 inode = 0;
    fileIdentity(path, device, inode);
    const auto it = m_attached.constFind(schema);
    if (it != m_attached.constEnd() && it->path == path && it->device == device && it->inode == inode)
        return;
    if (it != m_attached.constEnd())
        detach(table);
    attachFile(table, path);

    Statement check(
        *this,
        QStringLiteral("SELECT count(*) FROM %1.sqlite_master WHERE type='table' AND name=?1 COLLATE NOCASE")
            .arg(schema),
        {path});
    check.bind(1, table.name);
    const ResultSet found = check.fetchAll();
    if (found.rows.isEmpty() || found.rows.first().value(0).toInt() == 0) {
        detach(table);
        throw Error(
            QStringLiteral("ไม่พบตาราง\n%1\nแฟ้มนี้ไม่มีตาราง %2").arg(path, table.name));
    }
    try {
        keepIndexFileInStep(table);
    } catch (...) {
        detach(table); // looked at again by the next use
        throw;
    }
    addSearchIndex(table);
}

void DatabaseConnection::addSearchIndex(const TableSchema& table)
{
    if (table.searchFields.isEmpty())
        return;
    const QString schema = schemaName(table);
    const QString path = filePath(table);
    Statement look(*this,
                   QStringLiteral("SELECT count(*) FROM %1.sqlite_master WHERE type='index' AND name=?1").arg(schema),
                   {path});
    look.bind(1, table.searchIndexName());
    const ResultSet found = look.fetchAll();
    if (!found.rows.isEmpty() && found.rows.first().value(0).toInt() > 0)
        return;
    // A file made by an earlier version gets it once; one that cannot be
    // written is searched without it, only more slowly.
    try {
        exec(table.searchIndexStatement(schema), {path});
    } catch (const Error&) {
    }
}

void DatabaseConnection::attachIfPossible(const QList<const TableSchema*>& tables)
{
    for (const TableSchema* table : tables) {
        if (!QFileInfo(filePath(*table)).isFile())
            continue;
        try {
            attach(*table);
        } catch (const Error&) {
            // reported by the statement that needs this table
        }
    }
}

void DatabaseConnection::attachFile(const TableSchema& table, const QString& path)
{
    const QString schema = schemaName(table);
    const QByteArray uri = "file:" + QUrl::toPercentEncoding(path, "/") + "?mode=rw";
    {
        Statement attach(*this, QStringLiteral("ATTACH DATABASE ?1 AS %1").arg(schema), {path});
        attach.bind(1, QString::fromUtf8(uri));
        attach.run();
    }
    AttachedFile attached{path, 0, 0};
    fileIdentity(path, attached.device, attached.inode);
    m_attached.insert(schema, attached);
    ++m_attachments;
    try {
        // Every committed row is in the table file itself, on the disk.
        exec(QStringLiteral("PRAGMA %1.journal_mode=DELETE").arg(schema), {path});
        exec(QStringLiteral("PRAGMA %1.synchronous=FULL").arg(schema), {path});
        // Room for a table of 100,000 rows and its index (16 MB at most).
        exec(QStringLiteral("PRAGMA %1.cache_size=-16384").arg(schema), {path});
    } catch (...) {
        detach(table);
        throw;
    }
}

void DatabaseConnection::detach(const TableSchema& table)
{
    const QString schema = schemaName(table);
    sqlite3_exec(m_db, QStringLiteral("DETACH DATABASE %1").arg(schema).toUtf8().constData(), nullptr,
                 nullptr, nullptr);
    m_attached.remove(schema);
}

void DatabaseConnection::exec(const QString& sql, const QStringList& files)
{
    Statement statement(*this, sql, files);
    statement.fetchAll();
}

void DatabaseConnection::raise(int rc, const QStringList& files, const QString& detail)
{
    const QString engine = detail.isEmpty() ? QString::fromUtf8(sqlite3_errmsg(m_db)) : detail;
    const QString where = files.join(QStringLiteral(", "));
    // The Thai line, then the files and the engine's own words under it.
    const auto worded = [&](const QString& thai) {
        return where.isEmpty() ? thai + QLatin1Char('\n') + engine
                               : thai + QLatin1Char('\n') + where + QLatin1Char('\n') + engine;
    };
    QString message;
    switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        message = worded(QStringLiteral("ตารางถูกโปรแกรมอื่นใช้อยู่"));
        break;
    case SQLITE_CONSTRAINT:
        if (rc == SQLITE_CONSTRAINT_PRIMARYKEY || rc == SQLITE_CONSTRAINT_UNIQUE)
            message = worded(QStringLiteral("มีระเบียนที่ใช้คีย์นี้อยู่แล้ว"));
        else if (rc == SQLITE_CONSTRAINT_NOTNULL)
            message = QStringLiteral("ช่อง %1 ต้องมีค่า\n%2")
                          .arg(QString(engine).remove(QRegularExpression(QStringLiteral("^.*: (\\w+\\.)?"))),
                               where);
        else
            message = worded(QStringLiteral("บันทึกระเบียนไม่ได้"));
        break;
    case SQLITE_CANTOPEN:
        message = worded(QStringLiteral("เปิดตารางไม่ได้"));
        break;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
        message = worded(QStringLiteral("แฟ้มตารางเสียหาย"));
        break;
    case SQLITE_READONLY:
    case SQLITE_PERM:
        message = worded(QStringLiteral("ตารางเขียนไม่ได้ (อ่านได้อย่างเดียว)"));
        break;
    case SQLITE_FULL:
    case SQLITE_IOERR:
        message = worded(QStringLiteral("เขียนตารางไม่ได้"));
        break;
    default:
        message = worded(QStringLiteral("ฐานข้อมูลทำงานไม่สำเร็จ"));
        break;
    }
    throw Error(message);
}

DatabaseConnection::Statement::Statement(DatabaseConnection& connection, const QString& sql,
                                         const QStringList& files)
    : m_connection(connection), m_files(files)
{
    const QByteArray text = sql.toUtf8();
    for (int attempt = 0;; ++attempt) {
        const char* tail = nullptr;
        const int rc =
            sqlite3_prepare_v2(connection.m_db, text.constData(), int(text.size()), &m_stmt, &tail);
        if (rc == SQLITE_OK) {
            if (!onlyBlanks(tail)) {
                sqlite3_stmt* next = nullptr;
                sqlite3_prepare_v2(connection.m_db, tail, -1, &next, nullptr);
                const bool more = next != nullptr;
                sqlite3_finalize(next);
                if (more) {
                    sqlite3_finalize(m_stmt);
                    m_stmt = nullptr;
                    throw Error(QStringLiteral("ข้อความ SQL ต้องมีคำสั่งเดียว\n%1").arg(sql));
                }
            }
            if (!m_stmt)
                throw Error(QStringLiteral("ข้อความ SQL ไม่มีคำสั่ง\n%1").arg(sql));
            return;
        }
        const QString message = QString::fromUtf8(sqlite3_errmsg(connection.m_db));
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
        // A table of the database that is not attached: report why (missing
        // or locked file), or attach it now and try once more.
        static const QRegularExpression noTable(QStringLiteral("^no such table: (?:\\w+\\.)?(\\w+)$"));
        const auto match = noTable.match(message);
        if (match.hasMatch() && attempt == 0) {
            if (const TableSchema* table = tables::find(match.captured(1))) {
                connection.attach(*table);
                continue;
            }
        }
        connection.raise(rc, m_files, message);
    }
}

DatabaseConnection::Statement::~Statement()
{
    sqlite3_finalize(m_stmt);
}

void DatabaseConnection::Statement::bind(int index, const QVariant& value)
{
    int rc = SQLITE_OK;
    if (!value.isValid() || value.isNull()) {
        rc = sqlite3_bind_null(m_stmt, index);
    } else {
        switch (value.typeId()) {
        case QMetaType::Bool:
            rc = sqlite3_bind_int(m_stmt, index, value.toBool() ? 1 : 0);
            break;
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::UInt:
        case QMetaType::Short:
            rc = sqlite3_bind_int64(m_stmt, index, value.toLongLong());
            break;
        case QMetaType::Double:
        case QMetaType::Float:
            rc = sqlite3_bind_double(m_stmt, index, value.toDouble());
            break;
        case QMetaType::QDate: {
            const QByteArray iso = value.toDate().toString(Qt::ISODate).toUtf8();
            rc = sqlite3_bind_text(m_stmt, index, iso.constData(), int(iso.size()), SQLITE_TRANSIENT);
            break;
        }
        default: {
            const QByteArray utf8 = value.toString().toUtf8();
            rc = sqlite3_bind_text(m_stmt, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
            break;
        }
        }
    }
    if (rc != SQLITE_OK)
        m_connection.raise(rc, m_files);
}

QList<int> DatabaseConnection::Statement::parameterIndexes(const char* name) const
{
    // Parameter names are matched without regard to case, as field names are.
    QList<int> indexes;
    const int count = sqlite3_bind_parameter_count(m_stmt);
    for (int i = 1; i <= count; ++i) {
        const char* parameter = sqlite3_bind_parameter_name(m_stmt, i);
        if (parameter && qstricmp(parameter, name) == 0)
            indexes << i;
    }
    return indexes;
}

bool DatabaseConnection::Statement::hasParameter(const char* name) const
{
    return !parameterIndexes(name).isEmpty();
}

void DatabaseConnection::Statement::bindNamed(const char* name, const QVariant& value)
{
    for (const int index : parameterIndexes(name))
        bind(index, value);
}

int DatabaseConnection::Statement::run()
{
    for (;;) {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_DONE)
            break;
        if (rc != SQLITE_ROW) {
            sqlite3_reset(m_stmt);
            m_connection.raise(rc, m_files);
        }
    }
    sqlite3_reset(m_stmt);
    return sqlite3_changes(m_connection.m_db);
}

ResultSet DatabaseConnection::Statement::fetchAll()
{
    ResultSet result;
    const int count = sqlite3_column_count(m_stmt);
    for (int i = 0; i < count; ++i)
        result.columns << fieldFromDeclaredType(columnName(sqlite3_column_name(m_stmt, i)),
                                                sqlite3_column_decltype(m_stmt, i));
    for (;;) {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_DONE)
            break;
        if (rc != SQLITE_ROW) {
            sqlite3_reset(m_stmt);
            m_connection.raise(rc, m_files);
        }
        QVector<QVariant> row(count);
        for (int i = 0; i < count; ++i) {
            switch (sqlite3_column_type(m_stmt, i)) {
            case SQLITE_INTEGER:
                row[i] = qint64(sqlite3_column_int64(m_stmt, i));
                break;
            case SQLITE_FLOAT:
                row[i] = sqlite3_column_double(m_stmt, i);
                break;
            case SQLITE_TEXT:
                row[i] = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, i)),
                                           sqlite3_column_bytes(m_stmt, i));
                break;
            case SQLITE_BLOB:
                row[i] = QByteArray(static_cast<const char*>(sqlite3_column_blob(m_stmt, i)),
                                    sqlite3_column_bytes(m_stmt, i));
                break;
            default:
                break; // NULL: blank
            }
        }
        result.rows << row;
    }
    sqlite3_reset(m_stmt);
    return result;
}

} // namespace tevrak::records
