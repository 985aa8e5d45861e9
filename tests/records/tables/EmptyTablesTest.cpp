#include "records/tables/EmptyTables.h"
#include "platform/core/Cp874.h"
#include "records/tables/ClaimDatabase.h"
#include "support/TestDatabase.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

using tevrak::records::ClaimDatabase;
using tevrak::records::createEmptyTables;

namespace {

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(EmptyTablesTest, MakesEveryTableWithStatusRowsAndIndexFiles)
{
    const QString folder = tevrak::test::freshTestDatabase();
    QStringList names = QDir(folder).entryList(QDir::Files, QDir::Name);
    EXPECT_EQ(names, (QStringList{"Expense.DB", "Expense.PX", "Expense2.DB", "Expense2.PX", "Status.DB",
                                  "Tevrak.DB", "Tevrak2.DB", "Tevrak2.PX", "USER.db"}));

    ClaimDatabase db;
    db.openForStartUp();
    db.UserT.open();
    EXPECT_EQ(db.TevrakT.recordCount(), 0);
    EXPECT_EQ(db.UserT.recordCount(), 0);
    QStringList statuses;
    for (db.StatusT.first(); !db.StatusT.eof(); db.StatusT.next()) {
        EXPECT_EQ(db.StatusT.asText("Code").size(), 1);
        // every status must fit the register's Status field, string(30)
        EXPECT_LE(tevrak::platform::cp874::encode(db.StatusT.asText("Status"))->size(), 30);
        statuses << db.StatusT.asText("Status");
    }
    EXPECT_TRUE(statuses.contains(QStringLiteral("ซ่อมเสร็จ")));
    EXPECT_GE(statuses.size(), 3);
    // a status from the list can be stored in the register
    db.TevrakT.append();
    db.TevrakT.setText("Claimno", "12345678");
    for (const QString& status : statuses)
        db.TevrakT.setText("Status", status);
    db.TevrakT.cancel();
}

TEST(EmptyTablesTest, RunningAgainNeverTouchesAnExistingTable)
{
    const QString folder = tevrak::test::freshTestDatabase();
    {
        ClaimDatabase db;
        db.openForStartUp();
        db.Expense2T.append();
        db.Expense2T.setText("Claimno", "12345678");
        db.Expense2T.setInteger("Seq", 1);
        db.Expense2T.post();
    }
    const QByteArray table = readFile(folder + "/Expense2.DB");
    const QByteArray index = readFile(folder + "/Expense2.PX");
    ASSERT_TRUE(QFile::remove(folder + "/Tevrak2.PX"));
    ASSERT_TRUE(QFile::remove(folder + "/USER.db"));
    // A table spelt in other letter case is the same table.
    ASSERT_TRUE(QFile::rename(folder + "/Status.DB", folder + "/status.db"));

    const auto result = createEmptyTables(folder);
    EXPECT_EQ(result.created, QStringList{folder + "/USER.db"});
    EXPECT_EQ(result.kept.size(), 5);
    EXPECT_FALSE(QFileInfo::exists(folder + "/Status.DB"));
    EXPECT_EQ(readFile(folder + "/Expense2.DB"), table);
    EXPECT_EQ(readFile(folder + "/Expense2.PX"), index);
    EXPECT_EQ(readFile(folder + "/Tevrak2.PX"), QByteArray("Claimno\tSeq\r\n")); // rewritten from the table
    EXPECT_TRUE(
        QDir(folder).entryList({".*"}, QDir::Files | QDir::Hidden).isEmpty()); // no scratch files left

    ClaimDatabase db;
    db.Expense2T.open();
    EXPECT_EQ(db.Expense2T.recordCount(), 1);
    db.StatusT.open();
    EXPECT_GE(db.StatusT.recordCount(), 3);
}

} // namespace
