#include "records/tables/EmptyTables.h"

#include "platform/core/DiskSync.h"
#include "platform/core/Error.h"
#include "platform/core/FileSystem.h"
#include "records/tables/DatabaseConnection.h"
#include "records/tables/PrimaryIndexFile.h"
#include "records/tables/TableSchema.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

namespace tevrak::records {

namespace {

void execute(sqlite3* db, const QString& sql, const QString& path)
{
    char* message = nullptr;
    if (sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &message) != SQLITE_OK) {
        const QString text = QString::fromUtf8(message ? message : "unknown error");
        sqlite3_free(message);
        throw Error(QStringLiteral("สร้างตารางไม่ได้\n%1: %2").arg(path, text));
    }
}

// Builds the empty table in `scratch`, a new file beside its final place.
void buildTable(const TableSchema& table, const QString& scratch, const QString& target)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(scratch).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) !=
        SQLITE_OK) {
        const QString message = QString::fromUtf8(db ? sqlite3_errmsg(db) : "out of memory");
        sqlite3_close_v2(db);
        throw Error(QStringLiteral("สร้างตารางไม่ได้\n%1: %2").arg(target, message));
    }
    try {
        execute(db, QStringLiteral("PRAGMA journal_mode=DELETE"), target);
        execute(db, QStringLiteral("PRAGMA synchronous=FULL"), target);
        execute(db, QStringLiteral("BEGIN"), target);
        for (const QString& statement : table.createStatements())
            execute(db, statement, target);
        if (&table == &tables::status()) {
            for (const auto& [code, status] : standardStatuses()) {
                execute(db,
                        QStringLiteral("INSERT INTO \"Status\" (\"Code\",\"Status\") VALUES ('%1','%2')")
                            .arg(code, status),
                        target);
            }
        }
        if (table.hasPrimaryIndex())
            // The fingerprint of the empty .PX file written beside it.
            execute(db,
                    QStringLiteral("PRAGMA user_version=%1")
                        .arg(PrimaryIndexFile::fingerprint(PrimaryIndexFile::contents(table.primaryKey, {}))),
                    target);
        execute(db, QStringLiteral("COMMIT"), target);
    } catch (...) {
        sqlite3_close_v2(db);
        throw;
    }
    sqlite3_close_v2(db);
}

} // namespace

QList<QPair<QString, QString>> standardStatuses()
{
    return {
        {QStringLiteral("1"), QStringLiteral("รอสำรวจความเสียหาย")},
        {QStringLiteral("2"), QStringLiteral("รออนุมัติราคาซ่อม")},
        {QStringLiteral("3"), QStringLiteral("รออะไหล่")},
        {QStringLiteral("4"), QStringLiteral("กำลังซ่อม")},
        {QStringLiteral("5"), QStringLiteral("ซ่อมเสร็จ")},
        {QStringLiteral("6"), QStringLiteral("รอเอกสารจากลูกค้า")},
    };
}

TableCreation createEmptyTables(const QString& folder)
{
    if (!QDir().mkpath(folder))
        throw Error(QStringLiteral("สร้างโฟลเดอร์ฐานข้อมูลไม่ได้\n%1").arg(folder));
    const QDir dir(folder);
    TableCreation result;
    QList<const TableSchema*> indexFromRows;
    for (const TableSchema* table : tables::all()) {
        const QString existing = platform::existingEntry(dir.path(), table->fileName);
        if (!existing.isEmpty()) {
            result.kept << existing;
            if (table->hasPrimaryIndex() && platform::existingEntry(dir.path(), table->indexFileName()).isEmpty())
                indexFromRows << table;
            continue;
        }
        const QString target = dir.filePath(table->fileName);
        QTemporaryFile scratch(dir.filePath(QStringLiteral(".%1.XXXXXX").arg(table->fileName)));
        if (!scratch.open())
            throw Error(QStringLiteral("สร้างตารางไม่ได้\n%1: %2").arg(target, scratch.errorString()));
        scratch.close();
        buildTable(*table, scratch.fileName(), target);
        // link() never replaces: a table that appeared meanwhile is kept as it is.
        if (::link(QFile::encodeName(scratch.fileName()).constData(),
                   QFile::encodeName(target).constData()) != 0) {
            if (errno == EEXIST) {
                result.kept << target;
                continue;
            }
            throw Error(QStringLiteral("สร้างตารางไม่ได้\n%1: %2")
                            .arg(target, QString::fromLocal8Bit(strerror(errno))));
        }
        result.created << target;
        if (table->hasPrimaryIndex()) {
            const QString index = platform::existingEntry(dir.path(), table->indexFileName());
            PrimaryIndexFile::write(index.isEmpty() ? dir.filePath(table->indexFileName()) : index,
                                    PrimaryIndexFile::contents(table->primaryKey, {}));
        }
    }
    platform::syncFolder(folder);
    if (!indexFromRows.isEmpty()) {
        DatabaseConnection connection(folder);
        for (const TableSchema* table : indexFromRows) {
            connection.attach(*table);
            connection.rewriteIndexFile(*table);
        }
    }
    return result;
}

} // namespace tevrak::records
