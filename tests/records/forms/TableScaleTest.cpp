// Large tables: the export in one transaction, the .PX file kept in step
// through crashes, and the grid over a result of 100,000 rows.

#include "platform/core/Cp874.h"
#include "platform/core/Error.h"
#include "records/tables/ClaimDatabase.h"
#include "records/tables/DatabaseConnection.h"
#include "records/forms/DatasetModel.h"
#include "records/tables/PrimaryIndexFile.h"
#include "records/tables/Query.h"
#include "records/tables/SearchTexts.h"
#include "support/TestDatabase.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTableView>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <random>

using tevrak::Error;
using tevrak::records::ClaimDatabase;
using tevrak::records::DatabaseConnection;
using tevrak::records::Dataset;
using tevrak::records::DatasetModel;
using tevrak::records::Query;
using tevrak::records::Table;

namespace {

QString claimNumber(int i)
{
    return QStringLiteral("%1").arg(i, 8, 10, QLatin1Char('0'));
}

// Runs the sqlite3 program on a table file; its output lines.
QStringList sqliteLines(const QString& file, const QString& sql)
{
    QProcess sqlite;
    sqlite.start(QStringLiteral("sqlite3"), {QStringLiteral("-readonly"), file, sql});
    EXPECT_TRUE(sqlite.waitForFinished(60000));
    EXPECT_EQ(sqlite.exitCode(), 0) << sqlite.readAllStandardError().toStdString();
    return QString::fromUtf8(sqlite.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The keys of the table file in key order as sqlite3 reads them, "Claimno<TAB>Seq".
QStringList keysBySqlite(const QString& file, const QString& table)
{
    return sqliteLines(
        file,
        QStringLiteral("SELECT Claimno || char(9) || Seq FROM \"%1\" ORDER BY Claimno, Seq").arg(table));
}

// The key lines of a .PX file, after its line of field names.
QStringList keysInIndexFile(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    const QByteArray bytes = file.readAll();
    EXPECT_TRUE(bytes.startsWith("Claimno\tSeq\r\n")) << path.toStdString();
    QStringList lines = tevrak::platform::cp874::decode(bytes).split(QStringLiteral("\r\n"));
    EXPECT_EQ(lines.takeLast(), QString()) << "the last line ends with CR LF";
    lines.removeFirst();
    return lines;
}

// Writes rows straight into Tevrak.DB in one transaction, in the order given.
void insertTevrakRows(const QString& folder, const QList<int>& claims, const char* send = "0")
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(QFile::encodeName(folder + QStringLiteral("/Tevrak.DB")).constData(), &db,
                              SQLITE_OPEN_READWRITE, nullptr),
              SQLITE_OK);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    ASSERT_EQ(
        sqlite3_prepare_v2(db,
                           "INSERT INTO Tevrak (Claimno, Seq, Garage, Brand, Regno, Status, GarageDate, "
                           "ReportDate, Send) VALUES (?1, 1, 'Garage', 'Toyota', 'AB 1234', 'Waiting', "
                           "'2024-03-01', '2024-03-05', ?2)",
                           -1, &insert, nullptr),
        SQLITE_OK);
    for (const int claim : claims) {
        const QByteArray number = claimNumber(claim).toLatin1();
        sqlite3_bind_text(insert, 1, number.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 2, send, -1, SQLITE_STATIC);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    ASSERT_EQ(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

QList<int> shuffled(int count, unsigned seed)
{
    QList<int> claims;
    for (int i = 0; i < count; ++i)
        claims << i;
    std::shuffle(claims.begin(), claims.end(), std::mt19937(seed));
    return claims;
}

// The export of the unsent register rows, as the transfer job makes it.
void exportUnsentClaims(ClaimDatabase& db)
{
    Query& rows = db.TevrakQ2;
    rows.close();
    rows.setSql({QStringLiteral("select * from tevrak"), QStringLiteral("where send='0'")});
    rows.open();
    db.Tevrak2T.close();
    db.Tevrak2T.replaceRows([&] {
        for (rows.first(); !rows.eof(); rows.next()) {
            db.Tevrak2T.append();
            db.Tevrak2T.setText("Claimno", rows.asText("Claimno"));
            db.Tevrak2T.setInteger("Seq", rows.asInteger("Seq"));
            db.Tevrak2T.setText("Garage", rows.asText("Garage"));
            db.Tevrak2T.post();
        }
    });
}

void addExpense(Table& table, const QString& claimno, int seq)
{
    table.append();
    table.setText("Claimno", claimno);
    table.setInteger("Seq", seq);
    table.setText("Typ", "1");
    table.setFloat("Total", 46.5);
    table.setBoolean("Send", false);
    table.post();
}

// True when the table file's committed fingerprint of its .PX contents differs
// from the .PX file: a writer stopped between a commit and the .PX file.
bool indexFileBehind(const QString& table, const QString& index)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(table).constData(), &db, SQLITE_OPEN_READONLY, nullptr) !=
        SQLITE_OK) {
        sqlite3_close(db);
        return false;
    }
    sqlite3_stmt* read = nullptr;
    bool behind = false;
    if (sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &read, nullptr) == SQLITE_OK &&
        sqlite3_step(read) == SQLITE_ROW) {
        const auto contents = tevrak::records::PrimaryIndexFile::read(index);
        behind = contents &&
                 tevrak::records::PrimaryIndexFile::fingerprint(*contents) != sqlite3_column_int(read, 0);
    }
    sqlite3_finalize(read);
    sqlite3_close(db);
    return behind;
}

class TableScaleTest : public ::testing::Test {
protected:
    void SetUp() override { folder = tevrak::test::freshTestDatabase(); }
    QString file(const QString& name) const { return folder + QLatin1Char('/') + name; }

    void expectIndexInStep(const QString& table)
    {
        EXPECT_EQ(keysInIndexFile(file(table + QStringLiteral(".PX"))),
                  keysBySqlite(file(table + QStringLiteral(".DB")), table))
            << table.toStdString();
    }

    QString folder;
};

TEST_F(TableScaleTest, ExportOfThousandsOfRowsIsCompleteAndInKeyOrderInBothFiles)
{
    insertTevrakRows(folder, shuffled(3000, 7));
    insertTevrakRows(folder, {5000, 5001}, "1"); // sent before: not exported
    ClaimDatabase db;
    db.openForStartUp();
    exportUnsentClaims(db);

    QStringList expected;
    for (int i = 0; i < 3000; ++i)
        expected << claimNumber(i) + QStringLiteral("\t1");
    // The rows stand in the table file in key order, and the .PX lists exactly them.
    EXPECT_EQ(sqliteLines(file("Tevrak2.DB"), "SELECT Claimno || char(9) || Seq FROM Tevrak2 ORDER BY rowid"),
              expected);
    EXPECT_EQ(keysInIndexFile(file("Tevrak2.PX")), expected);
    EXPECT_FALSE(db.Tevrak2T.isOpen()) << "the export table is left closed as it was";

    // An export that fails on the way leaves the previous one whole.
    Query& rows = db.TevrakQ2;
    rows.close();
    rows.setSql({QStringLiteral("select * from tevrak")});
    rows.open();
    int copied = 0;
    EXPECT_THROW(db.Tevrak2T.replaceRows([&] {
        for (rows.first(); !rows.eof(); rows.next()) {
            db.Tevrak2T.append();
            db.Tevrak2T.setText("Claimno", rows.asText("Claimno"));
            db.Tevrak2T.setInteger("Seq", ++copied < 1000 ? 1 : 70000); // out of range: refused
            db.Tevrak2T.post();
        }
    }),
                 Error);
    EXPECT_EQ(keysBySqlite(file("Tevrak2.DB"), "Tevrak2"), expected);
    EXPECT_EQ(keysInIndexFile(file("Tevrak2.PX")), expected);
    EXPECT_EQ(db.Tevrak2T.state(), Dataset::State::Inactive);
}

TEST_F(TableScaleTest, SaveIntoALargeKeyedTableKeepsTheIndexFileAndTheCurrentRow)
{
    {
        ClaimDatabase db;
        db.openForStartUp();
        Table& expense = db.ExpenseT;
        expense.replaceRows([&] {
            for (const int claim : shuffled(2000, 3))
                addExpense(expense, claimNumber(claim * 2), 1);
        });
        expectIndexInStep("Expense");
        // A save in the middle of the order, at the start and at the end.
        for (const int claim : {1001, 0, 1999, 1001}) {
            db.ExpenseQ.close();
            db.ExpenseQ.setParam(claimNumber(claim * 2));
            db.ExpenseQ.open();
            addExpense(expense, claimNumber(claim * 2), db.ExpenseQ.asInteger("MAX OF Seq") + 1);
            EXPECT_EQ(expense.asText("Claimno"), claimNumber(claim * 2))
                << "the stored row is the current row";
            const int row = expense.currentRow();
            EXPECT_EQ(expense.displayText(row, "Claimno"), claimNumber(claim * 2));
            EXPECT_EQ(expense.displayText(row, "Seq"), expense.asText("Seq"));
            if (row > 0) {
                EXPECT_LE(expense.displayText(row - 1, "Claimno"), claimNumber(claim * 2));
            }
        }
        EXPECT_EQ(expense.recordCount(), 2004);
        expectIndexInStep("Expense");
        EXPECT_TRUE(expense.locate(claimNumber(2002), 2));
        EXPECT_EQ(expense.currentRow(), 1001 + 2);

        // Claim numbers beyond digits: the .PX keeps SQLite's order of their
        // UTF-8 bytes (capitals, small letters, then Thai).
        for (const QString& claim : {QStringLiteral("ก0000001"), QStringLiteral("a0000001"),
                                     QStringLiteral("A0000001"), QStringLiteral("00000001")})
            addExpense(expense, claim, 1);
        expectIndexInStep("Expense");
    }
    // Each Save put its line into the .PX in place and its fingerprint into
    // the table file: the next start finds the file in step, as it is.
    EXPECT_FALSE(indexFileBehind(file("Expense.DB"), file("Expense.PX")));
}

TEST_F(TableScaleTest, AnIndexFileChangedByAnotherProgramBetweenSavesIsWrittenAnewAtTheNextSave)
{
    ClaimDatabase db;
    db.openForStartUp();
    Table& expense = db.ExpenseT;
    for (const int claim : {5, 1, 9})
        addExpense(expense, claimNumber(claim), 1);
    const QByteArray inStep = *tevrak::records::PrimaryIndexFile::read(file("Expense.PX"));
    // The same size, other keys: only its contents tell it apart.
    QByteArray other = inStep;
    other.replace(claimNumber(9).toLatin1(), claimNumber(7).toLatin1());
    tevrak::records::PrimaryIndexFile::write(file("Expense.PX"), other);

    addExpense(expense, claimNumber(3), 1);
    expectIndexInStep("Expense");
    EXPECT_FALSE(indexFileBehind(file("Expense.DB"), file("Expense.PX")));
}

TEST_F(TableScaleTest, ARegisterFileWithoutTheStatusIndexGetsItWhenOpened)
{
    // A file of an earlier version: the finished claims are found by reading
    // every row in claim order.
    const QString tevrak = file("Tevrak.DB");
    sqliteLines(tevrak, "SELECT 1"); // the file is there
    QProcess drop;
    drop.start("sqlite3", {tevrak, "DROP INDEX \"Tevrak_Status\""});
    ASSERT_TRUE(drop.waitForFinished(60000));
    ASSERT_EQ(drop.exitCode(), 0) << drop.readAllStandardError().toStdString();
    {
        ClaimDatabase db;
        db.openForStartUp();
        db.TevrakQ4.open();
    }
    EXPECT_EQ(sqliteLines(tevrak, "EXPLAIN QUERY PLAN select distinct claimno from tevrak "
                                  "where status='ซ่อมเสร็จ'")
                  .join('\n'),
              "QUERY PLAN\n`--SEARCH tevrak USING COVERING INDEX Tevrak_Status (Status=?)");
}

TEST_F(TableScaleTest, ASavedRowIsCurrentAtOnceAndItsPlaceIsFoundWhenAskedFor)
{
    // The register has no .PX: the place of a saved row is not known from it.
    insertTevrakRows(folder, shuffled(3000, 21));
    ClaimDatabase db;
    db.openForStartUp();
    Table& tevrak = db.TevrakT;
    tevrak.open();
    tevrak.append();
    tevrak.setText("Claimno", claimNumber(1500));
    tevrak.setInteger("Seq", 2);
    tevrak.setText("Garage", "Second visit");
    tevrak.setBoolean("Send", false);
    tevrak.post();
    EXPECT_EQ(tevrak.asText("Garage"), "Second visit");
    EXPECT_EQ(tevrak.asInteger("Seq"), 2);
    EXPECT_EQ(tevrak.currentRow(), 1501) << "claims 0 to 1500 (its first visit) come before it";
    EXPECT_EQ(tevrak.displayText(1501, "Garage"), "Second visit");
    tevrak.next();
    EXPECT_EQ(tevrak.asText("Claimno"), claimNumber(1501));
    EXPECT_EQ(tevrak.recordCount(), 3001);
}

TEST_F(TableScaleTest, AnIndexFileOutOfStepWithItsTableIsWrittenAnewWhenOpened)
{
    QByteArray stale;
    {
        ClaimDatabase db;
        db.openForStartUp();
        addExpense(db.ExpenseT, claimNumber(1), 1);
        stale = *tevrak::records::PrimaryIndexFile::read(file("Expense.PX"));
        addExpense(db.ExpenseT, claimNumber(2), 1);
    }
    // As after a crash between the row's commit and the .PX file's writing.
    tevrak::records::PrimaryIndexFile::write(file("Expense.PX"), stale);
    // And a .PX lost altogether.
    ASSERT_TRUE(QFile::remove(file("Expense2.PX")));
    {
        ClaimDatabase db;
        db.openForStartUp();
    }
    expectIndexInStep("Expense");
    EXPECT_EQ(keysInIndexFile(file("Expense.PX")).size(), 2);
    expectIndexInStep("Expense2");

    // A .PX in step is trusted: opening does not write it again.
    const QByteArray before = *tevrak::records::PrimaryIndexFile::read(file("Expense.PX"));
    ASSERT_TRUE(QFile::remove(file("Expense.PX")));
    tevrak::records::PrimaryIndexFile::write(file("Expense.PX"), before);
    const auto inode = QFileInfo(file("Expense.PX")).fileTime(QFile::FileModificationTime);
    {
        ClaimDatabase db;
        db.openForStartUp();
    }
    EXPECT_EQ(QFileInfo(file("Expense.PX")).fileTime(QFile::FileModificationTime), inode);
}

// A child that exports and saves without end, until it is killed.
[[noreturn]] void exportAndSaveForever()
{
    try {
        ClaimDatabase db;
        db.openForStartUp();
        const int saved = db.ExpenseT.recordCount(); // the saves of the children before
        for (int round = 1;; ++round) {
            // Alternate exports of 1500 and 2500 rows (all or none of them may stand).
            db.Tevrak2T.close();
            db.TevrakQ2.close();
            db.TevrakQ2.setSql({QStringLiteral("select * from tevrak"),
                                round % 2 ? QStringLiteral("where claimno < '00001500'") : QString()});
            db.TevrakQ2.open();
            db.Tevrak2T.replaceRows([&] {
                for (db.TevrakQ2.first(); !db.TevrakQ2.eof(); db.TevrakQ2.next()) {
                    db.Tevrak2T.append();
                    db.Tevrak2T.setText("Claimno", db.TevrakQ2.asText("Claimno"));
                    db.Tevrak2T.setInteger("Seq", db.TevrakQ2.asInteger("Seq"));
                    db.Tevrak2T.post();
                }
            });
            for (int save = 0; save < 5; ++save)
                addExpense(db.ExpenseT, claimNumber((round * 7919 + save * 104729) % 100000),
                           saved + round * 5 + save);
        }
    } catch (const Error& error) {
        std::fprintf(stderr, "child: %s\n", error.what());
    }
    ::_exit(3);
}

TEST_F(TableScaleTest, KilledInTheMiddleOfAnExportOrASaveLeavesTablesAndIndexFilesInStep)
{
    insertTevrakRows(folder, shuffled(2500, 11));
    for (const int delayMs : {15, 40, 70, 110, 160, 230, 330, 450}) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0)
            exportAndSaveForever();
        ::usleep(useconds_t(delayMs) * 1000);
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended by itself after " << delayMs << " ms";

        {
            ClaimDatabase db; // opening the tables again puts their .PX files in step
            db.openForStartUp();
            db.Tevrak2T.open();
        }
        expectIndexInStep("Expense");
        expectIndexInStep("Tevrak2");
        const int exported = keysBySqlite(file("Tevrak2.DB"), "Tevrak2").size();
        EXPECT_TRUE(exported == 0 || exported == 1500 || exported == 2500)
            << exported << " rows after a kill at " << delayMs << " ms";
        EXPECT_EQ(sqliteLines(file("Expense.DB"), "PRAGMA integrity_check"), QStringList{"ok"});
    }
}

TEST_F(TableScaleTest, KilledBetweenACommitAndItsIndexFileTheIndexFileIsWrittenAnewWhenOpened)
{
    insertTevrakRows(folder, shuffled(2500, 13));
    std::mt19937 random(17);
    // The export's .PX and a Save's .PX, each caught behind its table by
    // stopping the child at random moments and looking at the disk.
    for (const char* table : {"Tevrak2", "Expense"}) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0)
            exportAndSaveForever();
        bool caught = false;
        for (int attempt = 0; attempt < 20000 && !caught; ++attempt) {
            ::usleep(useconds_t(random() % 1500));
            ::kill(child, SIGSTOP);
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, WUNTRACED), child);
            ASSERT_TRUE(WIFSTOPPED(status)) << "the child ended by itself";
            caught = indexFileBehind(file(QString::fromLatin1(table) + ".DB"),
                                     file(QString::fromLatin1(table) + ".PX"));
            ::kill(child, caught ? SIGKILL : SIGCONT);
        }
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        ASSERT_TRUE(caught) << table << ": the child was never stopped between a commit and its .PX file";
        {
            ClaimDatabase db;
            db.openForStartUp();
            db.Tevrak2T.open();
        }
        expectIndexInStep("Expense");
        expectIndexInStep("Tevrak2");
    }
}

TEST_F(TableScaleTest, GridShowsTheRightRowsAtTheTopMiddleAndEndOfAHundredThousandRows)
{
    insertTevrakRows(folder, shuffled(100000, 5));
    DatabaseConnection connection(folder);
    int rowsRead = 0;
    sqlite3_trace_v2(
        connection.handle(), SQLITE_TRACE_ROW,
        [](unsigned, void* counter, void*, void*) {
            ++*static_cast<int*>(counter);
            return 0;
        },
        &rowsRead);
    Query result(connection, "TevrakQ2", tevrak::records::search::pendingCars({claimNumber(3)}));
    result.open();
    DatasetModel model(result, {{"Claimno", "Claim"}, {"Seq", "Seq"}});
    QTableView grid;
    grid.resize(400, 300);
    grid.setModel(&model);
    grid.show();

    ASSERT_EQ(model.rowCount(), 99999);
    EXPECT_EQ(model.index(0, 0).data().toString(), claimNumber(0));
    EXPECT_EQ(model.index(3, 0).data().toString(), claimNumber(4)) << "the finished claim is left out";
    EXPECT_EQ(model.index(50000, 0).data().toString(), claimNumber(50001));
    EXPECT_EQ(model.index(99998, 0).data().toString(), claimNumber(99999));
    EXPECT_EQ(model.index(99998, 1).data().toString(), QStringLiteral("1"));

    grid.scrollToBottom();
    QCoreApplication::processEvents();
    const int lastShown = grid.rowAt(grid.viewport()->height() - 2);
    EXPECT_EQ(lastShown, 99998);
    EXPECT_EQ(model.index(lastShown, 0).data().toString(), claimNumber(99999));
    EXPECT_LT(rowsRead, 10000) << "the grid reads the rows it shows, not the whole result";

    // Stepping through the whole result still meets every row once, in order.
    int seen = 0;
    QString previous;
    for (result.first(); !result.eof(); result.next()) {
        const QString claim = result.asText("Claimno");
        ASSERT_LT(previous, claim);
        previous = claim;
        ++seen;
    }
    EXPECT_EQ(seen, 99999);
}

} // namespace
