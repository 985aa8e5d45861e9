// Server files the Transfer did not write, each met by a whole Transfer against
// the stand-in server: joined archives and tables, files that are no table,
// hostile tables, bad keys, an archive declaring a huge member, a huge file.
// Nothing the server held may be lost, and our rows and documents arrive.
// The fixtures are made here with Python's zipfile and the sqlite3 tool, and
// what the server holds afterwards is read with the same tools.

#include "transfer/forms/TransferJobFixture.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <functional>
#include <map>
#include <sys/stat.h>

namespace tevrak {
namespace {

using namespace test;

QByteArray gif(int seed)
{
    return gifBytes(noisyImage(QSize(60, 40), Qt::darkCyan, 20, seed));
}

class ServerCopyCorpusTest : public TransferJobTest {
protected:
    void SetUp() override
    {
        TransferJobTest::SetUp();
        ASSERT_TRUE(scratch.isValid());
    }

    QString scratchFile(const QString& name) const { return scratch.filePath(name); }

    // An export table as a server may hold it: the empty export table file
    // with `sql` run in it by the sqlite3 tool.
    QByteArray serverTable(const QString& tableFile, const QString& sql)
    {
        const QString path = scratchFile(QStringLiteral("table-%1").arg(++made));
        EXPECT_TRUE(QFile::copy(databaseFolder() + "/" + tableFile, path));
        const ToolRun run = runTool("sqlite3", {path, sql});
        EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
        return readBytes(path);
    }

    // An archive written by Python's zipfile, members stored.
    QByteArray serverArchive(const std::map<QString, QByteArray>& members)
    {
        const QString path = scratchFile(QStringLiteral("archive-%1.zip").arg(++made));
        QStringList arguments{QStringLiteral("-c"),
                              QStringLiteral("import sys, zipfile\n"
                                             "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
                                             "    for i in range(2, len(sys.argv), 2):\n"
                                             "        z.write(sys.argv[i + 1], sys.argv[i])\n"),
                              path};
        for (const auto& [name, bytes] : members) {
            const QString file = scratchFile(QStringLiteral("member-%1").arg(++made));
            writeBytes(file, bytes);
            arguments << name << file;
        }
        const ToolRun run = runTool(QStringLiteral("/usr/bin/python3"), arguments);
        EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
        return readBytes(path);
    }

    // "name<TAB>sha1" for every member, as Python's zipfile reads them.
    static std::map<QString, QByteArray> memberDigests(const fs::path& archive)
    {
        const ToolRun run = runTool(QStringLiteral("/usr/bin/python3"),
                                    {QStringLiteral("-c"),
                                     QStringLiteral("import sys, zipfile, hashlib\n"
                                                    "z = zipfile.ZipFile(sys.argv[1])\n"
                                                    "assert z.testzip() is None\n"
                                                    "for i in z.infolist():\n"
                                                    "    print(i.filename + '\\t' + hashlib.sha1(z.read(i)).hexdigest())\n"),
                                     forTools(archive)});
        EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
        std::map<QString, QByteArray> digests;
        for (const QString& line : run.output.split('\n', Qt::SkipEmptyParts))
            digests[line.section('\t', 0, 0)] = line.section('\t', 1).toLatin1();
        return digests;
    }

    static QByteArray sha1(const QByteArray& bytes)
    {
        return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex();
    }

    // "Claimno/Seq" of a table file on the server, by the sqlite3 tool.
    static QStringList keysOn(const fs::path& file, const QString& table)
    {
        const ToolRun rows = runTool("sqlite3", {"-readonly", forTools(file),
                                                 QStringLiteral("select Claimno || '/' || Seq from %1 order by 1").arg(table)});
        EXPECT_EQ(rows.exitCode, 0) << rows.output.toStdString();
        return rows.output.split('\n', Qt::SkipEmptyParts);
    }

    // The .PX beside a table on the server lists exactly the table's keys, one
    // plain "text<TAB>number" line each.
    static void expectIndexInStep(const fs::path& index, const QStringList& keys)
    {
        QStringList lines = QString::fromLatin1(QByteArray::fromStdString(readServerFile(index))).split("\r\n");
        EXPECT_EQ(lines.takeFirst(), "Claimno\tSeq");
        EXPECT_EQ(lines.takeLast(), "");
        QStringList listed;
        for (const QString& line : lines) {
            EXPECT_TRUE(QRegularExpression("^[^\\t\\r\\n]+\\t-?\\d+$").match(line).hasMatch()) << line.toStdString();
            listed << QString(line).replace('\t', '/');
        }
        listed.sort();
        EXPECT_EQ(listed, keys);
    }

    // The names in the server folder that hold `name` kept aside as `why`.
    static std::vector<std::string> keptAside(const fs::path& folder, const std::string& name, const std::string& why)
    {
        std::vector<std::string> kept;
        for (const std::string& held : serverNames(folder))
            if (held.rfind(name + "." + why + "-", 0) == 0)
                kept.push_back(held);
        return kept;
    }

    QTemporaryDir scratch;
    int made = 0;
};

TEST_F(ServerCopyCorpusTest, JoinedArchivesAndJoinedTablesAreMergedPartByPart)
{
    LocalFtpServer server;
    const std::string root = freshServerRoot();
    pointAt(startServer(server, root));
    writeBranchFile(branch);
    const fs::path up = garageFolder(root);
    const QByteArray theirs800 = gif(1), theirs801 = gif(2), theirs802 = gif(3), ours800 = gif(4);
    writeServerFile(up / "12345678.Zip",
                    (serverArchive({{"12345678800.gif", theirs800}, {"12345678801.gif", theirs801}}) +
                     serverArchive({{"12345678802.gif", theirs802}}))
                        .toStdString());
    writeServerFile(up / "Tevrak2.DB",
                    (serverTable("Tevrak2.DB", "insert into Tevrak2 (Claimno, Seq, Status) values ('11111111', 1, 'A')") +
                     serverTable("Tevrak2.DB", "insert into Tevrak2 (Claimno, Seq, Status) values ('22222222', 1, 'B')"))
                        .toStdString());
    saveReport("12345678", 1, QStringLiteral("รออะไหล่"));
    writeBytes(outboxFile("12345678800.gif"), ours800);

    runJob();
    ASSERT_EQ(outcomes(), QStringList{"Transfer Complete"}) << failure.toStdString();
    // Every document of both archives, once; ours under the claim's next number.
    EXPECT_EQ(memberDigests(up / "12345678.Zip"),
              (std::map<QString, QByteArray>{{"12345678800.gif", sha1(theirs800)},
                                             {"12345678801.gif", sha1(theirs801)},
                                             {"12345678802.gif", sha1(theirs802)},
                                             {"12345678803.gif", sha1(ours800)}}));
    EXPECT_EQ(QByteArray::fromStdString(readServerFile(up / "12345678.Zip")).count("PK\x05\x06"), 1);
    const ToolRun rows = runTool("sqlite3", {"-readonly", forTools(up / "Tevrak2.DB"),
                                             "select Claimno || '/' || Seq || '/' || Status from Tevrak2 order by 1"});
    EXPECT_EQ(rows.output.split('\n', Qt::SkipEmptyParts),
              (QStringList{"11111111/1/A", "12345678/1/" + QStringLiteral("รออะไหล่"), "22222222/1/B"}));
    expectIndexInStep(up / "Tevrak2.PX", {"11111111/1", "12345678/1", "22222222/1"});
    EXPECT_EQ(serverNames(up), (std::vector<std::string>{"12345678.Zip", "Tevrak2.DB", "Tevrak2.PX"}));
    const QString history = QString::fromUtf8(readBytes(local("c:\\LOAD\\transfer.log")));
    EXPECT_TRUE(history.contains("12345678800.gif (ours) stored as 12345678803.gif")) << history.toStdString();
}

class PlantedServerCopy;

// One server file planted under one of our names.
struct PlantedCopy {
    const char* what;
    std::string name;                                        // on the server
    std::function<QByteArray(PlantedServerCopy&)> bytes;     // empty: a 2 GiB sparse file
    std::string keptAs;                                      // the word in the kept copy's name
    QStringList rowsTaken;                                   // its rows that join ours under the name
    QString historySays;
};

void PrintTo(const PlantedCopy& copy, std::ostream* out)
{
    *out << copy.what;
}

class PlantedServerCopy : public ServerCopyCorpusTest, public ::testing::WithParamInterface<PlantedCopy> {
public:
    using ServerCopyCorpusTest::serverArchive;
    using ServerCopyCorpusTest::serverTable;
};

// Every column of Tevrak2 for a view: the key from the endless query, the rest NULL.
QString endlessViewColumns()
{
    QStringList columns;
    for (const auto& field : records::tables::tevrak2().fields)
        columns << (field.name == "Claimno" ? QStringLiteral("'x' || i AS Claimno")
                    : field.name == "Seq"   ? QStringLiteral("i AS Seq")
                                            : QStringLiteral("NULL AS \"%1\"").arg(field.name));
    return columns.join(", ");
}

// The export table without its key, so that it can hold what a key forbids.
const QString unkeyed = QStringLiteral("alter table Tevrak2 rename to t; create table Tevrak2 as select * from t "
                                       "where 0; drop table t; ");

TEST_P(PlantedServerCopy, IsKeptWholeBesideOursAndOursArrive)
{
    LocalFtpServer server;
    const std::string root = freshServerRoot();
    pointAt(startServer(server, root));
    writeBranchFile(branch);
    const fs::path up = garageFolder(root);
    const PlantedCopy& copy = GetParam();
    QByteArray planted;
    if (copy.bytes) {
        planted = copy.bytes(*this);
        writeServerFile(up / copy.name, planted.toStdString());
    } else {
        writeServerFile(up / copy.name, "");
        fs::resize_file(up / copy.name, 2ull << 30);
    }
    struct stat before {};
    ASSERT_EQ(::stat((up / copy.name).c_str(), &before), 0);
    saveReport("12345678", 1, QStringLiteral("รออะไหล่"));
    saveExpense("12345678", 1);
    const QByteArray document = gif(7);
    writeBytes(outboxFile("12345678800.gif"), document);

    runJob();
    ASSERT_EQ(outcomes(), QStringList{"Transfer Complete"}) << failure.toStdString();
    // The server's file is still there, renamed: the same file, the same bytes.
    const std::vector<std::string> kept = keptAside(up, copy.name, copy.keptAs);
    ASSERT_EQ(kept.size(), 1u) << ::testing::PrintToString(serverNames(up));
    struct stat after {};
    ASSERT_EQ(::stat((up / kept.front()).c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_size, before.st_size);
    if (copy.bytes) {
        EXPECT_EQ(QByteArray::fromStdString(readServerFile(up / kept.front())), planted);
    }
    // Ours under the names, with what could be taken of theirs.
    QStringList claims = QStringList{"12345678/1"} + (copy.name == "Tevrak2.DB" ? copy.rowsTaken : QStringList{});
    QStringList expenses = QStringList{"12345678/1"} + (copy.name == "Expense2.DB" ? copy.rowsTaken : QStringList{});
    claims.sort();
    expenses.sort();
    EXPECT_EQ(keysOn(up / "Tevrak2.DB", "Tevrak2"), claims);
    EXPECT_EQ(keysOn(up / "Expense2.DB", "Expense2"), expenses);
    expectIndexInStep(up / "Tevrak2.PX", claims);
    expectIndexInStep(up / "Expense2.PX", expenses);
    EXPECT_EQ(memberDigests(up / "12345678.Zip"), (std::map<QString, QByteArray>{{"12345678800.gif", sha1(document)}}));
    const QString history = QString::fromUtf8(readBytes(local("c:\\LOAD\\transfer.log")));
    EXPECT_TRUE(history.contains(QString::fromStdString("kept as " + kept.front()))) << history.toStdString();
    EXPECT_TRUE(history.contains(copy.historySays)) << history.toStdString();
    EXPECT_EQ(sendFlags("Tevrak"), QStringList{"12345678/1=1"});
}

INSTANTIATE_TEST_SUITE_P(
    Corpus, PlantedServerCopy,
    ::testing::Values(
        PlantedCopy{"text under an export name", "Expense2.DB",
                    [](auto&) { return QByteArray("Claimno\tSeq\r\n12345678\t1\r\nnot a table at all\r\n"); },
                    "unreadable", {}, "no table file header"},
        PlantedCopy{"a view over an endless query", "Tevrak2.DB",
                    [](PlantedServerCopy& t) {
                        return t.serverTable("Tevrak2.DB", "drop table Tevrak2; create view Tevrak2 as with recursive "
                                                           "r(i) as (select 1 union all select i + 1 from r) select " +
                                                               endlessViewColumns() + " from r;");
                    },
                    "unreadable", {}, "no table Tevrak2"},
        PlantedCopy{"a trigger beside the rows", "Tevrak2.DB",
                    [](PlantedServerCopy& t) {
                        return t.serverTable("Tevrak2.DB",
                                             "create table Log (x); create trigger t after insert on Tevrak2 begin "
                                             "insert into Log values (1); end; insert into Tevrak2 (Claimno, Seq) "
                                             "values ('33333333', 1);");
                    },
                    "other-objects", {"33333333/1"}, "2 other tables, views or triggers not taken"},
        PlantedCopy{"NULL and repeated keys", "Tevrak2.DB",
                    [](PlantedServerCopy& t) {
                        return t.serverTable("Tevrak2.DB",
                                             unkeyed + "insert into Tevrak2 (Claimno, Seq, Status) values (NULL, 1, 'n'), "
                                                       "('', 2, 'e'), ('44444444', NULL, 's'), ('44444444', 1, 'first'), "
                                                       "('44444444', 1, 'second'), ('44444444', 'x', 't');");
                    },
                    "skipped-rows", {"44444444/1"},
                    "1 server rows added; 4 skipped for an empty or invalid key; 1 skipped for a key an earlier "
                    "server row had"},
        PlantedCopy{"keys holding TAB, CR and LF", "Expense2.DB",
                    [](PlantedServerCopy& t) {
                        return t.serverTable("Expense2.DB", "insert into Expense2 (Claimno, Seq) values "
                                                            "('5555' || char(9) || '555', 1), ('6666' || char(13, 10) "
                                                            "|| '66', 1), ('7777777' || char(10), 1), ('77777777', 1);");
                    },
                    "skipped-rows", {"77777777/1"}, "3 skipped for an empty or invalid key"},
        PlantedCopy{"an archive whose member declares 4 GiB", "12345678.Zip",
                    [](PlantedServerCopy& t) {
                        QByteArray archive = t.serverArchive({{"12345678801.gif", gif(8)}});
                        // The uncompressed size in the local and the central header.
                        const QByteArray huge("\xf0\xff\xff\xff", 4);
                        archive.replace(22, 4, huge);
                        archive.replace(archive.indexOf("PK\x01\x02") + 24, 4, huge);
                        return archive;
                    },
                    "unreadable", {}, "member \"12345678801.gif\" declares"},
        PlantedCopy{"a 2 GiB sparse file under an export name", "Expense2.DB", {}, "too-large", {},
                    "larger than the 268435456 bytes"}),
    [](const auto& info) { return "Copy" + std::to_string(info.index); });

// A server on Windows holds one file for both spellings: ours is merged into
// theirs under their spelling, never appended onto it.
TEST_F(ServerCopyCorpusTest, NameInAnotherCaseOnACaseBlindServerIsTheSameFile)
{
    LocalFtpServer server;
    const std::string root = freshServerRoot();
    pointAt(startServer(server, root, {"--any-case"}));
    writeBranchFile(branch);
    const fs::path up = garageFolder(root);
    const QByteArray theirs = gif(9), ours = gif(10);
    writeServerFile(up / "ab123456.zip", serverArchive({{"AB123456801.gif", theirs}}).toStdString());
    writeServerFile(up / "tevrak2.db",
                    serverTable("Tevrak2.DB", "insert into Tevrak2 (Claimno, Seq) values ('11111111', 1)").toStdString());
    saveReport("12345678", 1, QStringLiteral("รออะไหล่"));
    writeBytes(outboxFile("AB123456800.gif"), ours);

    runJob();
    ASSERT_EQ(outcomes(), QStringList{"Transfer Complete"}) << failure.toStdString();
    EXPECT_EQ(serverNames(up), (std::vector<std::string>{"Tevrak2.PX", "ab123456.zip", "tevrak2.db"}));
    EXPECT_EQ(QByteArray::fromStdString(readServerFile(up / "ab123456.zip")).count("PK\x05\x06"), 1);
    EXPECT_EQ(memberDigests(up / "ab123456.zip"),
              (std::map<QString, QByteArray>{{"AB123456800.gif", sha1(ours)}, {"AB123456801.gif", sha1(theirs)}}));
    EXPECT_EQ(keysOn(up / "tevrak2.db", "Tevrak2"), (QStringList{"11111111/1", "12345678/1"}));
}

// An earlier version's replacement cut off between DELE and the rename left
// the merged table only in its work file: its rows are taken, never deleted unread.
TEST_F(ServerCopyCorpusTest, EarlierVersionsWorkFileIsMergedIntoTheFileItWasFor)
{
    LocalFtpServer server;
    const std::string root = freshServerRoot();
    pointAt(startServer(server, root));
    writeBranchFile(branch);
    const fs::path up = garageFolder(root);
    writeServerFile(up / ".tevrak-upload.part",
                    serverTable("Tevrak2.DB", "insert into Tevrak2 (Claimno, Seq) values ('88888888', 1)").toStdString());
    saveReport("12345678", 1, QStringLiteral("รออะไหล่"));

    runJob();
    ASSERT_EQ(outcomes(), QStringList{"Transfer Complete"}) << failure.toStdString();
    EXPECT_EQ(serverNames(up), (std::vector<std::string>{"Tevrak2.DB", "Tevrak2.PX"}));
    EXPECT_EQ(keysOn(up / "Tevrak2.DB", "Tevrak2"), (QStringList{"12345678/1", "88888888/1"}));
    expectIndexInStep(up / "Tevrak2.PX", {"12345678/1", "88888888/1"});
    const QString history = QString::fromUtf8(readBytes(local("c:\\LOAD\\transfer.log")));
    EXPECT_TRUE(history.contains(".tevrak-upload.part belongs to Tevrak2.DB")) << history.toStdString();
}

} // namespace
} // namespace tevrak
