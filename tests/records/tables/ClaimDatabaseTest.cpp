#include "records/tables/ClaimDatabase.h"
#include "platform/core/Cp874.h"
#include "platform/core/Error.h"
#include "records/tables/DatabaseConnection.h"
#include "records/tables/Query.h"
#include "support/TestDatabase.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstring>

using tevrak::Error;
using tevrak::records::ClaimDatabase;
using tevrak::records::DatabaseConnection;
using tevrak::records::Dataset;
using tevrak::records::Query;
using tevrak::records::RowKey;
using tevrak::records::Table;

namespace {

const QString thaiGarage30 = QStringLiteral("อู่ช่างเอกการช่างสงขลาหาดใหญ่ก"); // 30 characters in CP874

class ClaimDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override { folder = tevrak::test::freshTestDatabase(); }

    QString file(const QString& name) const { return folder + QLatin1Char('/') + name; }

    static void addTevrak(Table& table, const QString& claimno, int seq, const QVariant& send = false,
                          const QString& status = QStringLiteral("รออะไหล่"))
    {
        table.append();
        table.setText("Claimno", claimno);
        table.setInteger("Seq", seq);
        table.setText("Brand", "Toyota");
        table.setText("Status", status);
        table.setDate("ReportDate", QDate(2024, 3, 5));
        if (send.isValid())
            table.setBoolean("Send", send.toBool());
        table.post();
    }

    static void addExpense(Table& table, const QString& claimno, int seq, bool send = false)
    {
        table.append();
        table.setText("Claimno", claimno);
        table.setInteger("Seq", seq);
        table.setText("Typ", "1");
        table.setFloat("Rate", 3);
        table.setFloat("Total", 46.5);
        table.setBoolean("Send", send);
        table.post();
    }

    // The rows of `table` in the file at `path`, read with the plain SQLite API.
    static QStringList rowsInFile(const QString& path, const QString& table, const QString& columns)
    {
        sqlite3* db = nullptr;
        EXPECT_EQ(sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr),
                  SQLITE_OK);
        QStringList rows;
        sqlite3_stmt* stmt = nullptr;
        const QByteArray sql =
            QStringLiteral("SELECT %1 FROM \"%2\" ORDER BY rowid").arg(columns, table).toUtf8();
        EXPECT_EQ(sqlite3_prepare_v2(db, sql.constData(), -1, &stmt, nullptr), SQLITE_OK)
            << sqlite3_errmsg(db);
        while (stmt && sqlite3_step(stmt) == SQLITE_ROW) {
            QStringList values;
            for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
                const auto* text = sqlite3_column_text(stmt, i);
                values << (text ? QString::fromUtf8(reinterpret_cast<const char*>(text))
                                : QStringLiteral("NULL"));
            }
            rows << values.join(QLatin1Char('|'));
        }
        sqlite3_finalize(stmt);
        sqlite3_close_v2(db);
        return rows;
    }

    static QByteArray readFile(const QString& path)
    {
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
        return f.readAll();
    }

    static int nextSeq(tevrak::records::Query& maxQuery, const QString& claimno)
    {
        maxQuery.close();
        maxQuery.setParam(claimno);
        maxQuery.open();
        return maxQuery.asInteger("MAX OF Seq") + 1;
    }

    QString folder;
};

TEST_F(ClaimDatabaseTest, NextSeqStartsAtOneAndFollowsTheHighestEvenWithAGap)
{
    ClaimDatabase db;
    db.openForStartUp();
    EXPECT_EQ(nextSeq(db.TevrakQ, "12345678"), 1);
    EXPECT_TRUE(db.TevrakQ.isBlank("MAX OF Seq"));
    EXPECT_EQ(db.TevrakQ.recordCount(), 1);

    for (int seq : {1, 2, 3})
        addTevrak(db.TevrakT, "12345678", seq);
    EXPECT_EQ(nextSeq(db.TevrakQ, "12345678"), 4);
    addTevrak(db.TevrakT, "87654321", 1);
    addTevrak(db.TevrakT, "87654321", 3); // 2 is missing
    EXPECT_EQ(nextSeq(db.TevrakQ, "87654321"), 4);
    EXPECT_EQ(nextSeq(db.TevrakQ, "00000000"), 1);

    EXPECT_EQ(nextSeq(db.ExpenseQ, "12345678"), 1);
    addExpense(db.ExpenseT, "12345678", 1);
    addExpense(db.ExpenseT, "12345678", 3);
    EXPECT_EQ(nextSeq(db.ExpenseQ, "12345678"), 4);
}

TEST_F(ClaimDatabaseTest, BlankFieldsReadAsZeroEmptyFalseAndTheZeroDate)
{
    ClaimDatabase db;
    db.openForStartUp();
    db.ExpenseT.append();
    db.ExpenseT.setText("Claimno", "12345678");
    db.ExpenseT.setInteger("Seq", 1);
    // the pending record reads blank already
    EXPECT_EQ(db.ExpenseT.asFloat("Home"), 0.0);
    db.ExpenseT.post();

    for (const char* field : {"Distance1", "Total_Dis", "Home", "Ems", "Fax", "Other", "Total", "Rate"}) {
        EXPECT_TRUE(db.ExpenseT.isBlank(field)) << field;
        EXPECT_EQ(db.ExpenseT.asFloat(field), 0.0) << field;
        EXPECT_EQ(db.ExpenseT.asText(field), QString()) << field;
    }
    EXPECT_EQ(db.ExpenseT.asText("Typ"), QString());
    EXPECT_EQ(db.ExpenseT.asText("Userid"), QString());
    EXPECT_EQ(db.ExpenseT.asDate("SurvDate"), QDate(1899, 12, 30));
    EXPECT_FALSE(db.ExpenseT.asBoolean("Send"));
    EXPECT_EQ(db.ExpenseT.asInteger("Typ"), 0);

    // CalRate-style sum over blanks, the way the expense tab computes it
    double total = 0;
    for (const char* field : {"Distance", "Survey", "Copy", "Pay", "Home", "Ems", "Fax", "Other"})
        total += db.ExpenseT.asFloat(field);
    EXPECT_EQ(total, 0.0);

    // A blank date copied as a date value arrives as the zero date, not blank.
    addTevrak(db.TevrakT, "12345678", 1);
    EXPECT_TRUE(db.TevrakT.isBlank("TevrakDate"));
    db.Tevrak2T.open();
    db.Tevrak2T.append();
    db.Tevrak2T.setText("Claimno", db.TevrakT.asText("Claimno"));
    db.Tevrak2T.setInteger("Seq", db.TevrakT.asInteger("Seq"));
    db.Tevrak2T.setDate("TevrakDate", db.TevrakT.asDate("TevrakDate"));
    db.Tevrak2T.setDate("ReportDate", db.TevrakT.asDate("ReportDate"));
    db.Tevrak2T.post();
    EXPECT_FALSE(db.Tevrak2T.isBlank("TevrakDate"));
    EXPECT_EQ(db.Tevrak2T.asDate("TevrakDate"), QDate(1899, 12, 30));
    EXPECT_EQ(db.Tevrak2T.asText("ReportDate"), QStringLiteral("05/03/2024"));
    EXPECT_TRUE(db.Tevrak2T.isBlank("Send"));
    EXPECT_EQ(rowsInFile(file("Tevrak2.DB"), "Tevrak2", "TevrakDate, ReportDate, Send"),
              QStringList{"1899-12-30|2024-03-05|NULL"});
}

TEST_F(ClaimDatabaseTest, APostedRowIsInAPlainCopyOfTheTableFileAtOnce)
{
    ClaimDatabase db;
    db.openForStartUp();
    db.Tevrak2T.open();
    db.Tevrak2T.empty();
    addTevrak(db.Tevrak2T, "12345678", 1, QVariant());
    addExpense(db.Expense2T, "12345678", 2);
    // The datasets stay open, as they do while the transfer job copies the files.
    const QString copies = folder + QStringLiteral("/../copies");
    QDir().mkpath(copies);
    for (const char* name : {"Tevrak2.DB", "Expense2.DB"}) {
        const QString target = copies + QLatin1Char('/') + QLatin1String(name);
        QFile::remove(target);
        ASSERT_TRUE(QFile::copy(file(name), target));
    }
    EXPECT_FALSE(QFileInfo::exists(file("Tevrak2.DB-journal")));
    EXPECT_EQ(rowsInFile(copies + "/Tevrak2.DB", "Tevrak2", "Claimno, Seq, Brand, Send"),
              QStringList{"12345678|1|Toyota|NULL"});
    EXPECT_EQ(rowsInFile(copies + "/Expense2.DB", "Expense2", "Claimno, Seq, Total, Send"),
              QStringList{"12345678|2|46.5|0"});
}

TEST_F(ClaimDatabaseTest, IndexFileListsTheKeysInKeyOrderInTheThaiCodePage)
{
    ClaimDatabase db;
    db.openForStartUp();
    const QString thaiClaim = QStringLiteral("กข123456");
    addExpense(db.Expense2T, "22222222", 1);
    addExpense(db.Expense2T, thaiClaim, 10);
    addExpense(db.Expense2T, thaiClaim, 2);
    addExpense(db.Expense2T, "11111111", 7);

    const QByteArray thai = *tevrak::platform::cp874::encode(thaiClaim);
    ASSERT_EQ(thai.size(), 8);
    EXPECT_EQ(thai.left(2), QByteArray("\xA1\xA2"));
    const QByteArray expected =
        "Claimno\tSeq\r\n11111111\t7\r\n22222222\t1\r\n" + thai + "\t2\r\n" + thai + "\t10\r\n";
    EXPECT_EQ(readFile(file("Expense2.PX")), expected);
    // rewritten through a temporary file that never stays behind
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 9);

    db.Expense2T.close();
    db.Expense2T.empty();
    EXPECT_EQ(readFile(file("Expense2.PX")), QByteArray("Claimno\tSeq\r\n"));
    EXPECT_TRUE(rowsInFile(file("Expense2.DB"), "Expense2", "Claimno").isEmpty());

    addExpense(db.ExpenseT, "33333333", 1);
    EXPECT_EQ(readFile(file("Expense.PX")), QByteArray("Claimno\tSeq\r\n33333333\t1\r\n"));
    EXPECT_EQ(readFile(file("Tevrak2.PX")), QByteArray("Claimno\tSeq\r\n"));
    EXPECT_FALSE(QFileInfo::exists(file("Tevrak.PX")));
}

TEST_F(ClaimDatabaseTest, UnsentRowsAreExactlyThoseWithSendFalse)
{
    ClaimDatabase db;
    db.openForStartUp();
    addTevrak(db.TevrakT, "11111111", 1, false);
    addTevrak(db.TevrakT, "11111111", 2, true);
    addTevrak(db.TevrakT, "22222222", 1, QVariant()); // blank flag
    addTevrak(db.TevrakT, "00000001", 1, false);

    db.TevrakQ2.close();
    db.TevrakQ2.setSql({"select * from tevrak", "where send='0'"});
    db.TevrakQ2.open();
    QStringList keys;
    for (db.TevrakQ2.first(); !db.TevrakQ2.eof(); db.TevrakQ2.next())
        keys << db.TevrakQ2.asText("Claimno") + "/" + db.TevrakQ2.asText("Seq");
    EXPECT_EQ(keys, (QStringList{"00000001/1", "11111111/1"}));
    EXPECT_EQ(db.TevrakQ2.recordCount(), 2);

    db.TevrakQ3.close();
    EXPECT_EQ(db.TevrakQ3.execute(), 2);
    EXPECT_EQ(rowsInFile(file("Tevrak.DB"), "Tevrak", "Claimno, Seq, Send"),
              (QStringList{"11111111|1|1", "11111111|2|1", "22222222|1|NULL", "00000001|1|1"}));
}

TEST_F(ClaimDatabaseTest, UpdateQueriesWithNothingUnsentChangeNothing)
{
    ClaimDatabase db;
    db.openForStartUp();
    EXPECT_EQ(db.TevrakQ3.execute(), 0); // empty tables
    EXPECT_EQ(db.ExpenseQ3.execute(), 0);

    addTevrak(db.TevrakT, "11111111", 1, true);
    addExpense(db.ExpenseT, "11111111", 1, true);
    const QByteArray tevrakBefore = readFile(file("Tevrak.DB"));
    const QByteArray expenseBefore = readFile(file("Expense.DB"));
    const QByteArray indexBefore = readFile(file("Expense.PX"));
    EXPECT_EQ(db.TevrakQ3.execute(), 0);
    EXPECT_EQ(db.ExpenseQ3.execute(), 0);
    EXPECT_EQ(readFile(file("Tevrak.DB")), tevrakBefore);
    EXPECT_EQ(readFile(file("Expense.DB")), expenseBefore);
    EXPECT_EQ(readFile(file("Expense.PX")), indexBefore);
    EXPECT_FALSE(db.TevrakQ3.isOpen());
}

TEST_F(ClaimDatabaseTest, MarkSentTouchesOnlyTheGivenKeys)
{
    ClaimDatabase db;
    db.openForStartUp();
    addExpense(db.ExpenseT, "11111111", 1);
    addExpense(db.ExpenseT, "11111111", 2);
    addExpense(db.ExpenseT, "22222222", 1);
    EXPECT_EQ(db.markSent("Expense", {RowKey{"11111111", 2}, RowKey{"22222222", 1}, RowKey{"99999999", 1}}),
              2);
    EXPECT_EQ(rowsInFile(file("Expense.DB"), "Expense", "Claimno, Seq, Send"),
              (QStringList{"11111111|1|0", "11111111|2|1", "22222222|1|1"}));
    EXPECT_THROW(db.markSent("Status", {RowKey{"1", 1}}), Error);
}

TEST_F(ClaimDatabaseTest, TextsAreCheckedInThaiCodePageCharacters)
{
    ClaimDatabase db;
    db.openForStartUp();
    ASSERT_EQ(tevrak::platform::cp874::encode(thaiGarage30)->size(), 30);
    ASSERT_GT(thaiGarage30.toUtf8().size(), 30);
    db.TevrakT.append();
    db.TevrakT.setText("Garage", thaiGarage30);
    EXPECT_EQ(db.TevrakT.asText("Garage"), thaiGarage30);
    try {
        db.TevrakT.setText("garage", thaiGarage30 + "ข");
        FAIL() << "a 31-character garage name was taken";
    } catch (const Error& e) {
        EXPECT_TRUE(e.message().contains("Garage")) << e.what();
        EXPECT_TRUE(e.message().contains("30")) << e.what();
    }
    EXPECT_EQ(db.TevrakT.asText("Garage"), thaiGarage30); // unchanged by the refused text
    try {
        db.TevrakT.setText("Brand", QStringLiteral("丰田"));
        FAIL() << "a text outside the code page was taken";
    } catch (const Error& e) {
        EXPECT_TRUE(e.message().contains("Brand")) << e.what();
    }
    EXPECT_THROW(db.TevrakT.setText("Claimno", "123456789"), Error);
    db.TevrakT.setText("Claimno", "12345678");
    EXPECT_THROW(db.TevrakT.setInteger("Seq", 40000), Error);
    EXPECT_THROW(db.TevrakT.setText("GarageDate", "31/02/2024"), Error);
    db.TevrakT.setText("GarageDate", "01/03/2024");
    db.TevrakT.setText("Status", QStringLiteral("ซ่อมเสร็จ"));
    db.TevrakT.post();
    EXPECT_EQ(db.TevrakT.asDate("GarageDate"), QDate(2024, 3, 1));
    EXPECT_EQ(db.TevrakT.asText("Garage"), thaiGarage30);

    // Assigning without a new record is refused.
    try {
        db.TevrakT.setText("Claimno", "11111111");
        FAIL() << "assignment outside insert mode";
    } catch (const Error& e) {
        EXPECT_TRUE(e.message().contains("TevrakT")) << e.what();
    }
    EXPECT_THROW(db.TevrakT.asText("NoSuchField"), Error);
}

TEST_F(ClaimDatabaseTest, AKeyViolationFailsAndTheRecordStaysPending)
{
    ClaimDatabase db;
    db.openForStartUp();
    addExpense(db.ExpenseT, "12345678", 1);
    db.ExpenseT.append();
    db.ExpenseT.setText("Claimno", "12345678");
    db.ExpenseT.setInteger("Seq", 1);
    db.ExpenseT.setFloat("Survey", 300);
    try {
        db.ExpenseT.post();
        FAIL() << "duplicate key stored";
    } catch (const Error& e) {
        EXPECT_TRUE(e.message().contains("Expense.DB")) << e.what();
    }
    EXPECT_EQ(db.ExpenseT.state(), Dataset::State::Insert);
    EXPECT_EQ(db.ExpenseT.asFloat("Survey"), 300.0);
    EXPECT_EQ(readFile(file("Expense.PX")), QByteArray("Claimno\tSeq\r\n12345678\t1\r\n"));
    db.ExpenseT.setInteger("Seq", 2);
    db.ExpenseT.post();
    EXPECT_EQ(db.ExpenseT.state(), Dataset::State::Browse);
    EXPECT_EQ(db.ExpenseT.asInteger("Seq"), 2); // the stored row is current
    EXPECT_EQ(db.ExpenseT.recordCount(), 2);
    EXPECT_EQ(readFile(file("Expense.PX")), QByteArray("Claimno\tSeq\r\n12345678\t1\r\n12345678\t2\r\n"));

    // A key field left blank is refused as well, naming the field.
    db.ExpenseT.append();
    db.ExpenseT.setInteger("Seq", 5);
    try {
        db.ExpenseT.post();
        FAIL() << "blank key stored";
    } catch (const Error& e) {
        EXPECT_TRUE(e.message().startsWith("ช่อง Claimno ต้องมีค่า")) << e.what();
    }
    db.ExpenseT.cancel();
    EXPECT_EQ(db.ExpenseT.recordCount(), 2);
}

TEST_F(ClaimDatabaseTest, AMissingTableFileIsAnErrorNamingItAndIsNotCreated)
{
    ASSERT_TRUE(QFile::remove(file("Status.DB")));
    ASSERT_TRUE(QFile::remove(file("Tevrak.DB")));
    ClaimDatabase db;
    try {
        db.StatusT.open();
        FAIL() << "opened a missing table";
    } catch (const Error& e) {
        EXPECT_TRUE(e.message().contains(file("Status.DB"))) << e.what();
    }
    EXPECT_FALSE(db.StatusT.isOpen());
    try {
        db.openForStartUp();
        FAIL() << "start-up opened a missing table";
    } catch (const Error& e) {
        EXPECT_TRUE(e.message().contains("Tevrak.DB")) << e.what();
    }
    db.TevrakQ2.setSql({"select * from tevrak", "where send='0'"});
    try {
        db.TevrakQ2.open();
        FAIL() << "queried a missing table";
    } catch (const Error& e) {
        EXPECT_TRUE(e.message().contains(file("Tevrak.DB"))) << e.what();
    }
    EXPECT_FALSE(QFileInfo::exists(file("Status.DB")));
    EXPECT_FALSE(QFileInfo::exists(file("Tevrak.DB")));
    // the other tables still work
    db.ExpenseT.open();
    EXPECT_EQ(db.ExpenseT.recordCount(), 0);
}

TEST_F(ClaimDatabaseTest, ATableLockedByAnotherProgramIsAnErrorNamingIt)
{
    ClaimDatabase db;
    db.openForStartUp();
    addTevrak(db.TevrakT, "12345678", 1);

    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open_v2(QFile::encodeName(file("Tevrak.DB")).constData(), &other, SQLITE_OPEN_READWRITE,
                              nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);

    const auto started = std::chrono::steady_clock::now();
    db.TevrakT.append();
    db.TevrakT.setText("Claimno", "12345678");
    db.TevrakT.setInteger("Seq", 2);
    try {
        db.TevrakT.post();
        FAIL() << "posted into a locked table";
    } catch (const Error& e) {
        EXPECT_TRUE(e.message().contains(file("Tevrak.DB"))) << e.what();
        EXPECT_TRUE(e.message().contains("locked")) << e.what();
    }
    EXPECT_EQ(db.TevrakT.state(), Dataset::State::Insert);
    db.TevrakT.cancel();

    db.TevrakQ.close();
    db.TevrakQ.setParam("12345678");
    try {
        db.TevrakQ.open();
        FAIL() << "read a locked table";
    } catch (const Error& e) {
        EXPECT_TRUE(e.message().contains(file("Tevrak.DB"))) << e.what();
    }
    ClaimDatabase late; // a connection that meets the lock when it attaches
    try {
        late.TevrakT.open();
        FAIL() << "opened a locked table";
    } catch (const Error& e) {
        EXPECT_TRUE(e.message().contains(file("Tevrak.DB"))) << e.what();
    }
    try {
        ClaimDatabase(folder).TevrakQ4.open(); // the query path meets the lock when attaching too
        FAIL() << "queried a locked table";
    } catch (const Error& e) {
        EXPECT_TRUE(e.message().contains(file("Tevrak.DB"))) << e.what();
    }
    // The waits are bounded: the whole sequence returns (not a speed target).
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60));

    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(other);
    late.TevrakT.open();
    EXPECT_EQ(late.TevrakT.recordCount(), 1);
    db.TevrakQ.open();
    EXPECT_EQ(db.TevrakQ.asInteger("MAX OF Seq"), 1);
}

TEST_F(ClaimDatabaseTest, ATableFileReplacedWhileOpenIsAttachedAgain)
{
    ClaimDatabase db;
    db.openForStartUp();
    addExpense(db.ExpenseT, "11111111", 1);
    // Someone restores another copy of the table over the file.
    const QString other = folder + "/../other";
    QDir(other).removeRecursively();
    tevrak::records::createEmptyTables(other);
    ASSERT_EQ(::rename(QFile::encodeName(other + "/Expense.DB").constData(),
                       QFile::encodeName(file("Expense.DB")).constData()),
              0);
    addExpense(db.ExpenseT, "22222222", 1);
    EXPECT_EQ(rowsInFile(file("Expense.DB"), "Expense", "Claimno"), QStringList{"22222222"});
    EXPECT_EQ(readFile(file("Expense.PX")), QByteArray("Claimno\tSeq\r\n22222222\t1\r\n"));
    EXPECT_EQ(db.ExpenseT.recordCount(), 1);
}

TEST_F(ClaimDatabaseTest, RowsComeInClaimAndSeqOrderWithoutOrderBy)
{
    ClaimDatabase db;
    db.openForStartUp();
    addTevrak(db.TevrakT, "33333333", 2);
    addTevrak(db.TevrakT, "11111111", 10, false, QStringLiteral("ซ่อมเสร็จ"));
    addTevrak(db.TevrakT, "33333333", 1, false, QStringLiteral("ซ่อมเสร็จ"));
    addTevrak(db.TevrakT, "11111111", 9);
    addTevrak(db.TevrakT, "22222222", 1);

    auto listed = [](Dataset& d) {
        QStringList keys;
        for (d.first(); !d.eof(); d.next())
            keys << d.asText("Claimno") + "/" + d.asText("Seq");
        return keys;
    };
    EXPECT_EQ(listed(db.TevrakT),
              (QStringList{"11111111/9", "11111111/10", "22222222/1", "33333333/1", "33333333/2"}));
    db.TevrakQ2.setSql({"select * from tevrak"});
    db.TevrakQ2.open();
    EXPECT_EQ(listed(db.TevrakQ2), listed(db.TevrakT));

    db.TevrakQ4.open();
    QStringList finished;
    for (db.TevrakQ4.first(); !db.TevrakQ4.eof(); db.TevrakQ4.next())
        finished << db.TevrakQ4.asText("claimno");
    EXPECT_EQ(finished, (QStringList{"11111111", "33333333"}));

    // The pending-car search's text with its "not in" list.
    db.TevrakQ2.setSql({"select * from tevrak", "where claimno not in ('11111111','33333333')"});
    db.TevrakQ2.open();
    EXPECT_EQ(listed(db.TevrakQ2), QStringList{"22222222/1"});

    // An explicit order is kept.
    db.TevrakQ2.setSql({"select * from tevrak", "order by claimno desc, seq desc"});
    db.TevrakQ2.open();
    EXPECT_EQ(listed(db.TevrakQ2).first(), QStringLiteral("33333333/2"));

    db.StatusT.first();
    EXPECT_EQ(db.StatusT.asText("Code"), QStringLiteral("1"));
}

TEST_F(ClaimDatabaseTest, ParametersAreBoundAsTextOrDate)
{
    ClaimDatabase db;
    db.openForStartUp();
    addTevrak(db.TevrakT, "12345678", 1);
    addTevrak(db.TevrakT, "o'brien", 1);

    db.TevrakQ2.setSql({"select * from tevrak", "where reportdate=:prm"});
    db.TevrakQ2.setParam(QDate(2024, 3, 5));
    db.TevrakQ2.open();
    EXPECT_EQ(db.TevrakQ2.recordCount(), 2);
    db.TevrakQ2.close();
    db.TevrakQ2.setParam(QDate()); // an empty date box: the zero date, matching nothing
    db.TevrakQ2.open();
    EXPECT_EQ(db.TevrakQ2.recordCount(), 0);

    db.TevrakQ2.setSql({"select * from tevrak", "where Claimno=:Prm"});
    EXPECT_THROW(db.TevrakQ2.open(), Error); // no value given since the text changed
    db.TevrakQ2.setParam(QStringLiteral("o'brien"));
    db.TevrakQ2.open();
    EXPECT_EQ(db.TevrakQ2.recordCount(), 1);
    db.TevrakQ2.close();
    db.TevrakQ2.setParam(QStringLiteral("' or '1'='1"));
    db.TevrakQ2.open();
    EXPECT_EQ(db.TevrakQ2.recordCount(), 0);
    EXPECT_TRUE(db.TevrakQ2.eof());
    EXPECT_EQ(db.TevrakQ2.asText("Claimno"), QString()); // no row: blank

    db.TevrakQ2.setSql({"select * from tevrak;", "delete from tevrak"});
    EXPECT_THROW(db.TevrakQ2.open(), Error);
    db.TevrakT.refresh();
    EXPECT_EQ(db.TevrakT.recordCount(), 2);
}

TEST_F(ClaimDatabaseTest, AQueryThatFailsRunsOnceAndReportsItsOwnError)
{
    {
        ClaimDatabase db;
        db.openForStartUp();
        addTevrak(db.TevrakT, "12345678", 1);
    }
    DatabaseConnection connection;
    int runs = 0;
    sqlite3_trace_v2(
        connection.handle(), SQLITE_TRACE_STMT,
        [](unsigned, void* counter, void*, void* sql) {
            if (std::strstr(static_cast<const char*>(sql), "abs(") != nullptr)
                ++*static_cast<int*>(counter);
            return 0;
        },
        &runs);
    // Fails while its rows are read, ordered or not.
    Query overflowing(connection, "overflowing",
                      {"select Claimno, Seq, abs(-9223372036854775807 - 1) as Big from tevrak"});
    try {
        overflowing.open();
        FAIL() << "the overflow was not reported";
    } catch (const Error& error) {
        EXPECT_TRUE(error.message().contains("integer overflow")) << error.what();
    }
    EXPECT_EQ(runs, 1) << "a failed query is not run a second time";

    // A text that cannot be ordered from outside still runs, as written.
    Query closed(connection, "closed", {"select Claimno, Seq from tevrak;"});
    closed.open();
    EXPECT_EQ(closed.recordCount(), 1);
}

TEST_F(ClaimDatabaseTest, LocateFindsASummaryByItsKey)
{
    ClaimDatabase db;
    db.openForStartUp();
    addExpense(db.ExpenseT, "12345678", 1);
    addExpense(db.ExpenseT, "12345678", 2);
    addExpense(db.ExpenseT, "87654321", 1);
    ASSERT_TRUE(db.ExpenseT.locate("12345678", 2));
    EXPECT_EQ(db.ExpenseT.asText("Claimno"), QStringLiteral("12345678"));
    EXPECT_EQ(db.ExpenseT.asInteger("Seq"), 2);
    EXPECT_FALSE(db.ExpenseT.locate("", 0));
    EXPECT_EQ(db.ExpenseT.asInteger("Seq"), 2); // kept
    EXPECT_TRUE(db.ExpenseT.locate("87654321", 1));
    EXPECT_EQ(db.ExpenseT.asText("Claimno"), QStringLiteral("87654321"));
}

TEST_F(ClaimDatabaseTest, OpenAndCloseAreIdempotentAndCloseDiscardsAPendingRecord)
{
    ClaimDatabase db;
    EXPECT_FALSE(db.TevrakTDs.isEnabled());
    EXPECT_FALSE(db.ExpenseTDs.isEnabled());
    EXPECT_TRUE(db.TevrakQ2Ds.isEnabled() && db.StatusTDs.isEnabled() && db.ExpenseQ2Ds.isEnabled() &&
                db.UserTDs.isEnabled());
    db.UserT.close();
    db.UserT.open();
    db.UserT.open();
    db.UserT.append();
    db.UserT.setText("USERID", QStringLiteral("สมชาย"));
    db.UserT.close();
    db.UserT.open();
    EXPECT_EQ(db.UserT.recordCount(), 0);
    db.UserT.append();
    db.UserT.setText("USERID", QStringLiteral("สมชาย"));
    db.UserT.post();
    db.UserT.close();
    db.UserT.close();
    db.UserT.open();
    EXPECT_EQ(db.UserT.asText("USERID"), QStringLiteral("สมชาย"));
    EXPECT_EQ(db.TevrakQ.sql(), (QStringList{"select max(Seq) from tevrak", "where claimno=:prm"}));
    EXPECT_THROW(db.TevrakQ3.open(), Error); // an update text has no rows to open
}

} // namespace

TEST_F(ClaimDatabaseTest, TheEarliestGarageDateOfAClaimLeavesBlankDatesOut)
{
    ClaimDatabase db;
    db.openForStartUp();
    const auto addWithGarageDate = [&db](const QString& claim, int seq, const QDate& date) {
        db.TevrakT.append();
        db.TevrakT.setText("Claimno", claim);
        db.TevrakT.setInteger("Seq", seq);
        if (date.isValid())
            db.TevrakT.setDate("GarageDate", date);
        db.TevrakT.post();
    };
    addWithGarageDate("12345678", 1, QDate(2026, 11, 20));
    addWithGarageDate("12345678", 2, {}); // blank
    addWithGarageDate("12345678", 3, QDate(2026, 11, 18));
    addWithGarageDate("87654321", 1, QDate(2026, 10, 1));
    addWithGarageDate("11112222", 1, {});
    EXPECT_EQ(db.earliestGarageDate("12345678"), QDate(2026, 11, 18));
    EXPECT_EQ(db.earliestGarageDate("87654321"), QDate(2026, 10, 1));
    EXPECT_FALSE(db.earliestGarageDate("11112222").isValid()) << "only blank dates";
    EXPECT_FALSE(db.earliestGarageDate("99999999").isValid()) << "not in the register";
}
