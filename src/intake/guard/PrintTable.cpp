#include "intake/guard/PrintTable.h"

#include "platform/core/DriveC.h"
#include "platform/core/Error.h"

#include <sqlite3.h>

namespace tevrak::intake::guard {

namespace {

const char* const schema = R"(
CREATE TABLE IF NOT EXISTS Prints(
  Id INTEGER PRIMARY KEY AUTOINCREMENT,
  FileName TEXT NOT NULL UNIQUE COLLATE NOCASE,
  Claim TEXT NOT NULL COLLATE NOCASE,
  Category INTEGER NOT NULL,
  FiledAt TEXT NOT NULL,
  Sha256 BLOB NOT NULL,
  PerceptualHash BLOB,
  CroppedHash BLOB,
  Detail INTEGER,
  CaptureTime TEXT);
CREATE INDEX IF NOT EXISTS Prints_Sha256 ON Prints(Sha256);
CREATE INDEX IF NOT EXISTS Prints_Claim ON Prints(Claim);
CREATE TABLE IF NOT EXISTS Acknowledgements(
  Id INTEGER PRIMARY KEY AUTOINCREMENT,
  At TEXT NOT NULL,
  Garage TEXT NOT NULL,
  Claim TEXT NOT NULL,
  FiledName TEXT NOT NULL,
  InboxName TEXT NOT NULL,
  Warning TEXT NOT NULL,
  OtherClaim TEXT,
  OtherFile TEXT,
  Shown TEXT NOT NULL);
)";

constexpr int busyWaitMilliseconds = 10000;

QString isoText(const QDateTime& moment)
{
    return moment.isValid() ? moment.toString(Qt::ISODateWithMs) : QString();
}

[[noreturn]] void failIn(const QString& file, const QString& what)
{
    throw Error(QStringLiteral("The filing prints %1: %2").arg(file, what));
}

// One prepared statement of the prints file `file`, finalised on every path; its errors name the file.
class Statement {
public:
    Statement(sqlite3* db, const char* sql, const QString& file) : m_db(db), m_file(file)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK)
            failIn(m_file, QString::fromUtf8(sqlite3_errmsg(db)));
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void bind(int index, const QString& text)
    {
        if (text.isNull()) {
            sqlite3_bind_null(m_stmt, index);
            return;
        }
        const QByteArray utf8 = text.toUtf8();
        sqlite3_bind_text(m_stmt, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    }
    void bind(int index, const QByteArray& blob)
    {
        if (blob.isNull())
            sqlite3_bind_null(m_stmt, index);
        else
            sqlite3_bind_blob(m_stmt, index, blob.constData(), int(blob.size()), SQLITE_TRANSIENT);
    }
    void bind(int index, qint64 value) { sqlite3_bind_int64(m_stmt, index, value); }

    // True while a row is there.
    bool step()
    {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE)
            failIn(m_file, QString::fromUtf8(sqlite3_errmsg(m_db)));
        return false;
    }
    void reset()
    {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }

    QString text(int column) const
    {
        const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
        return data ? QString::fromUtf8(data, sqlite3_column_bytes(m_stmt, column)) : QString();
    }
    QByteArray blob(int column) const
    {
        const void* data = sqlite3_column_blob(m_stmt, column);
        return data ? QByteArray(static_cast<const char*>(data), sqlite3_column_bytes(m_stmt, column)) : QByteArray();
    }
    qint64 integer(int column) const { return sqlite3_column_int64(m_stmt, column); }
    bool isNull(int column) const { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }

private:
    sqlite3* m_db = nullptr;
    const QString& m_file;
    sqlite3_stmt* m_stmt = nullptr;
};

// A stored photo's picture: the upright hash in every version (the turnings are not stored), the cut-down
// hash (the upright one when missing) and the detail; none without a hash.
std::optional<imaging::HashedPicture> storedPicture(const Statement& row, int hashColumn, int croppedColumn,
                                                    int detailColumn)
{
    const auto hash = imaging::PerceptualHash::fromBytes(row.blob(hashColumn));
    if (!hash)
        return std::nullopt;
    imaging::HashedPicture picture;
    picture.hashes.versions.fill(*hash);
    picture.cropped = imaging::PerceptualHash::fromBytes(row.blob(croppedColumn)).value_or(*hash);
    picture.detail = int(row.integer(detailColumn));
    return picture;
}

const char* const printColumns =
    "Claim, Category, FileName, FiledAt, Sha256, PerceptualHash, Detail, CaptureTime, CroppedHash";

PhotoPrint printFromRow(const Statement& row)
{
    PhotoPrint print;
    print.claim = row.text(0);
    const qint64 category = row.integer(1);
    print.category = category >= 0 && category <= 3 ? platform::FilingCategory(category)
                                                    : platform::FilingCategory::BeforeRepair;
    print.fileName = row.text(2);
    print.filedAt = QDateTime::fromString(row.text(3), Qt::ISODateWithMs);
    print.facts.sha256 = row.blob(4);
    print.facts.picture = storedPicture(row, 5, 8, 6);
    print.facts.captureTime = QDateTime::fromString(row.text(7), Qt::ISODate);
    return print;
}

} // namespace

QString PrintTable::defaultFile()
{
    return platform::localPath(platform::paths::database + QStringLiteral("\\FilingPrints.db"));
}

PrintTable::PrintTable(const QString& localFile) : m_file(localFile)
{
    const std::string path = platform::nativePath(localFile);
    if (sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        const QString reason = m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("out of memory");
        sqlite3_close(m_db);
        m_db = nullptr;
        throw Error(QStringLiteral("Cannot open the filing prints %1: %2").arg(m_file, reason));
    }
    sqlite3_busy_timeout(m_db, busyWaitMilliseconds);
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    try {
        exec("PRAGMA journal_mode=WAL");
        exec("PRAGMA synchronous=NORMAL");
        exec(schema);
    } catch (...) {
        sqlite3_close(m_db);
        m_db = nullptr;
        throw;
    }
}

PrintTable::~PrintTable()
{
    sqlite3_close(m_db);
}

void PrintTable::fail(const QString& what)
{
    failIn(m_file, what);
}

void PrintTable::exec(const char* sql)
{
    char* message = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        const QString reason = QString::fromUtf8(message ? message : sqlite3_errmsg(m_db));
        sqlite3_free(message);
        fail(reason);
    }
}

void PrintTable::add(const std::vector<PhotoPrint>& prints)
{
    if (prints.empty())
        return;
    exec("BEGIN IMMEDIATE");
    try {
        Statement insert(m_db,
                         "INSERT OR IGNORE INTO Prints(Claim, Category, FileName, FiledAt, Sha256, PerceptualHash, "
                         "Detail, CaptureTime, CroppedHash) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)",
                         m_file);
        for (const PhotoPrint& print : prints) {
            insert.bind(1, print.claim);
            insert.bind(2, qint64(print.category));
            insert.bind(3, print.fileName);
            insert.bind(4, isoText(print.filedAt));
            insert.bind(5, print.facts.sha256);
            if (print.facts.picture) {
                insert.bind(6, print.facts.picture->hashes.upright().toBytes());
                insert.bind(7, qint64(print.facts.picture->detail));
                insert.bind(9, print.facts.picture->cropped.toBytes());
            }
            insert.bind(8, print.facts.captureTime.isValid() ? print.facts.captureTime.toString(Qt::ISODate)
                                                             : QString());
            insert.step();
            insert.reset();
        }
        exec("COMMIT");
    } catch (...) {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

QStringList PrintTable::printedNamesOf(const QString& claim)
{
    Statement query(m_db, "SELECT FileName FROM Prints WHERE Claim = ?", m_file);
    query.bind(1, claim);
    QStringList names;
    while (query.step())
        names << query.text(0);
    return names;
}

std::optional<PhotoPrint> PrintTable::findBytes(const QByteArray& sha256)
{
    const QByteArray sql = QByteArray("SELECT ") + printColumns + " FROM Prints WHERE Sha256 = ? ORDER BY Id LIMIT 1";
    Statement query(m_db, sql.constData(), m_file);
    query.bind(1, sha256);
    if (!query.step())
        return std::nullopt;
    return printFromRow(query);
}

std::optional<PhotoPrint> PrintTable::byId(qint64 id)
{
    const QByteArray sql = QByteArray("SELECT ") + printColumns + " FROM Prints WHERE Id = ?";
    Statement query(m_db, sql.constData(), m_file);
    query.bind(1, id);
    if (!query.step())
        return std::nullopt;
    return printFromRow(query);
}

qint64 PrintTable::readHashesAfter(
    qint64 afterId, const std::function<void(qint64, const QString&, const imaging::HashedPicture&)>& visit)
{
    Statement query(m_db,
                    "SELECT Id, Claim, PerceptualHash, Detail, CroppedHash FROM Prints WHERE Id > ? AND "
                    "PerceptualHash IS NOT NULL ORDER BY Id",
                    m_file);
    query.bind(1, afterId);
    qint64 last = afterId;
    while (query.step()) {
        last = query.integer(0);
        if (const auto picture = storedPicture(query, 2, 4, 3))
            visit(last, query.text(1), *picture);
    }
    return last;
}

void PrintTable::record(const Acknowledgement& answer)
{
    Statement insert(m_db,
                     "INSERT INTO Acknowledgements(At, Garage, Claim, FiledName, InboxName, Warning, OtherClaim, "
                     "OtherFile, Shown) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)",
                     m_file);
    insert.bind(1, isoText(answer.at));
    insert.bind(2, answer.garage.isNull() ? QStringLiteral("") : answer.garage);
    insert.bind(3, answer.claim);
    insert.bind(4, answer.filedName);
    insert.bind(5, answer.inboxName);
    insert.bind(6, answer.warning);
    insert.bind(7, answer.otherClaim);
    insert.bind(8, answer.otherFile);
    insert.bind(9, answer.shown);
    insert.step();
}

} // namespace tevrak::intake::guard
