#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sqlite3.h>

namespace {

struct InitRun {
    int exitCode = -1;
    QString output;
    QString errors;
};

InitRun runInit(const QProcessEnvironment& environment, const QStringList& arguments = {})
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(TEVRAK_INIT_PROGRAM), arguments);
    EXPECT_TRUE(process.waitForFinished(60000));
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

int execute(const QString& path, const char* sql)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    sqlite3_close_v2(db);
    return rc;
}

int count(const QString& path, const char* table)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* stmt = nullptr;
    int rows = -1;
    if (sqlite3_prepare_v2(db, QByteArray("SELECT count(*) FROM \"") + table + "\"", -1, &stmt, nullptr) ==
            SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW)
        rows = sqlite3_column_int(stmt, 0);
    sqlite3_finalize(stmt);
    sqlite3_close_v2(db);
    return rows;
}

TEST(TevrakInitTest, MakesTheWorkstationAndASecondRunLeavesItsDataAlone)
{
    QTemporaryDir base;
    ASSERT_TRUE(base.isValid());
    const QString root = base.path() + "/C";
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TEVRAK_ROOT", root);

    const InitRun first = runInit(environment);
    ASSERT_EQ(first.exitCode, 0) << first.errors.toStdString();
    for (const char* folder : {"picture", "picture/transfer", "claim/db", "LOAD", "LOAD/ALL"})
        EXPECT_TRUE(QFileInfo(root + "/" + folder).isDir()) << folder;
    const QString db = root + "/claim/db";
    for (const char* file : {"Tevrak.DB", "Tevrak2.DB", "Tevrak2.PX", "Expense.DB", "Expense.PX",
                             "Expense2.DB", "Expense2.PX", "Status.DB", "USER.db"})
        EXPECT_TRUE(QFileInfo(db + "/" + file).isFile()) << file;
    EXPECT_EQ(first.output.count("created table"), 6) << first.output.toStdString();
    const int statuses = count(db + "/Status.DB", "Status");
    EXPECT_GE(statuses, 3);

    ASSERT_EQ(execute(db + "/Tevrak.DB", "INSERT INTO Tevrak (Claimno, Seq) VALUES ('12345678', 1)"),
              SQLITE_OK);
    ASSERT_EQ(execute(db + "/USER.db", "INSERT INTO USER (USERID) VALUES ('somchai')"), SQLITE_OK);
    ASSERT_EQ(execute(db + "/Status.DB", "DELETE FROM Status WHERE Code='1'"), SQLITE_OK);
    QFile::remove(db + "/Tevrak2.DB");

    const InitRun second = runInit(environment);
    ASSERT_EQ(second.exitCode, 0) << second.errors.toStdString();
    EXPECT_EQ(second.output.count("created table"), 1) << second.output.toStdString();
    EXPECT_EQ(second.output.count("kept    table"), 5) << second.output.toStdString();
    EXPECT_EQ(count(db + "/Tevrak.DB", "Tevrak"), 1);
    EXPECT_EQ(count(db + "/USER.db", "USER"), 1);
    EXPECT_EQ(count(db + "/Status.DB", "Status"), statuses - 1);
    EXPECT_EQ(count(db + "/Tevrak2.DB", "Tevrak2"), 0);
}

TEST(TevrakInitTest, WithoutTevrakRootItUsesTevrakInTheHomeFolder)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("TEVRAK_ROOT");
    environment.insert("HOME", home.path());
    const InitRun run = runInit(environment);
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_TRUE(QFileInfo(home.path() + "/Tevrak/claim/db/Expense.DB").isFile());
    EXPECT_TRUE(QFileInfo(home.path() + "/Tevrak/LOAD/ALL").isDir());

    const InitRun wrong = runInit(environment, {"--force"});
    EXPECT_NE(wrong.exitCode, 0);
    EXPECT_TRUE(wrong.errors.contains("usage")) << wrong.errors.toStdString();
}

TEST(TevrakInitTest, AFolderThatCannotBeMadeIsReported)
{
    QTemporaryDir base;
    ASSERT_TRUE(base.isValid());
    QFile blocker(base.path() + "/C");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly)); // drive C: is a file, not a folder
    blocker.close();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TEVRAK_ROOT", base.path() + "/C");
    const InitRun run = runInit(environment);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.errors.contains("picture")) << run.errors.toStdString();
}

} // namespace
