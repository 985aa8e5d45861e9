#pragma once

#include "records/tables/PrimaryIndexFile.h"
#include "records/tables/TableSchema.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <functional>
#include <optional>

struct sqlite3;
struct sqlite3_stmt;

namespace tevrak::records {

// The rows of one result, read whole, and the types of its columns.
struct ResultSet {
    QList<FieldDef> columns;
    QList<QVector<QVariant>> rows; // NULL is an invalid QVariant
};

// The one SQLite connection of the claim database. Each table file of the
// database folder is attached to it under its own schema name, so that the
// query texts name the tables without a prefix. Used by the datasets; forms
// never see it.
class DatabaseConnection {
public:
    // `folder` empty: the database folder C:\claim\db of drive C:.
    explicit DatabaseConnection(const QString& folder = {});
    ~DatabaseConnection();
    DatabaseConnection(const DatabaseConnection&) = delete;
    DatabaseConnection& operator=(const DatabaseConnection&) = delete;

    sqlite3* handle() const { return m_db; }
    QString folder() const;
    // The table's file in the folder, found without regard to case.
    QString filePath(const TableSchema& table) const;
    // The keyed table's .PX file beside its .DB file, found without regard to case.
    QString indexFilePath(const TableSchema& table) const;
    static QString schemaName(const TableSchema& table);
    // Counts the attachments made so far: a table file attached again (a
    // replaced file) is told by a new number.
    quint64 attachments() const { return m_attachments; }
    // "db_tevrak"."Tevrak"
    static QString qualifiedName(const TableSchema& table);

    // Makes sure the table's file is attached; raises the engine's error
    // naming the file when it is missing, locked or holds no such table.
    // Never creates a file.
    void attach(const TableSchema& table);
    // Attaches those of `tables` whose files can be attached; failures are
    // left for the statement that needs the table to report.
    void attachIfPossible(const QList<const TableSchema*>& tables);

    // A prepared statement, finalized when it goes out of scope.
    class Statement {
    public:
        Statement(DatabaseConnection& connection, const QString& sql, const QStringList& files);
        ~Statement();
        Statement(const Statement&) = delete;
        Statement& operator=(const Statement&) = delete;
        sqlite3_stmt* handle() const { return m_stmt; }
        void bind(int index, const QVariant& value);
        // Binds `:name` when the statement has that parameter.
        void bindNamed(const char* name, const QVariant& value);
        bool hasParameter(const char* name) const;
        // Runs a statement that returns no rows; the number of rows changed.
        int run();
        ResultSet fetchAll();

    private:
        QList<int> parameterIndexes(const char* name) const;

        DatabaseConnection& m_connection;
        sqlite3_stmt* m_stmt = nullptr;
        QStringList m_files;
    };

    // One transaction, rolled back unless commit() is
    // called. Its errors name `files`.
    class Transaction {
    public:
        Transaction(DatabaseConnection& connection, const QStringList& files);
        ~Transaction();
        Transaction(const Transaction&) = delete;
        Transaction& operator=(const Transaction&) = delete;
        void commit(); // on the disk when it returns (synchronous=FULL)

    private:
        DatabaseConnection& m_connection;
        QStringList m_files;
        bool m_open = true;
    };

    // --- keeping a keyed table's .PX file in step with its rows ---------------
    // The table file keeps, in its header's user version, the fingerprint of
    // the .PX contents that belong to its rows; it changes in the transaction
    // that changes the rows. The .PX file is written after that commits, so a
    // crash between the two leaves a .PX whose fingerprint differs: when the
    // table is attached such a file (or a missing one) is written anew from
    // the table's rows, never trusted.
    struct IndexFileUpdate {
        const TableSchema* table = nullptr;
        QByteArray contents; // the whole file, unless:
        std::optional<PrimaryIndexFile::Insertion> insertion; // one key's line put in
        qint32 fingerprint() const;
    };
    // Runs `change` in one transaction; the .PX contents it returns are
    // fingerprinted in the same transaction. Returns them, once committed,
    // for writeIndexFiles().
    QList<IndexFileUpdate> commitInStep(const QStringList& files,
                                        const std::function<QList<IndexFileUpdate>()>& change);
    void writeIndexFiles(const QList<IndexFileUpdate>& updates);
    // The keyed table's .PX contents as its rows give them.
    QByteArray indexFileContents(const TableSchema& table);
    // The fingerprint of the .PX contents that the table file keeps.
    qint32 storedIndexFingerprint(const TableSchema& table);
    // The fingerprint the keyed table keeps, when its .PX file holds the
    // contents it stands for; nullopt when the file is missing or out of step.
    // A file unchanged since this connection last read or wrote it is not
    // read again.
    std::optional<qint32> inStepIndexFingerprint(const TableSchema& table);
    // Writes the keyed table's .PX file from the keys of its rows, in step.
    void rewriteIndexFile(const TableSchema& table);

    // Runs one statement without parameters.
    void exec(const QString& sql, const QStringList& files);

    // Raises the engine's error for `rc` with a message naming `files`.
    [[noreturn]] void raise(int rc, const QStringList& files, const QString& detail = {});

private:
    void attachFile(const TableSchema& table, const QString& path);
    // Rewrites the .PX file of a keyed table when it is missing or out of step.
    void keepIndexFileInStep(const TableSchema& table);
    // Creates the table's search index when its file lacks it.
    void addSearchIndex(const TableSchema& table);
    void detach(const TableSchema& table);

    sqlite3* m_db = nullptr;
    QString m_folder;
    struct AttachedFile {
        QString path;
        quint64 device = 0;
        quint64 inode = 0;
    };
    QHash<QString, AttachedFile> m_attached; // schema name -> attached file
    // The .PX files as this connection last read or wrote them in step.
    struct KnownIndexFile {
        PrimaryIndexFile::Stamp stamp;
        qint32 fingerprint = 0;
    };
    QHash<QString, KnownIndexFile> m_knownIndexFiles; // .PX path -> what it held
    void rememberIndexFile(const QString& path, qint32 fingerprint);
    quint64 m_attachments = 0;
};

// The busy wait before a locked table file is reported, in milliseconds.
inline constexpr int lockWaitMs = 2000;

} // namespace tevrak::records
