// Packing the outbox's GIF photographs into their claims' archives, checked by
// independent readers: unzip -t, zipinfo -v and Python's zipfile.

#include "transfer/job/PhotoPackaging.h"
#include "exchange/ExchangeTestSupport.h"
#include "platform/core/FileSystem.h"
#include "support/QtPrinting.h"
#include "support/TestPictures.h"
#include "transfer/TransferTestSupport.h"
#include "transfer/forms/ZipfU.h"
#include "transfer/job/TransferLog.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QLabel>
#include <QProgressBar>

namespace tevrak {
namespace {

using namespace test;

QByteArray gifPhoto(unsigned seed)
{
    return gifBytes(noisyImage(QSize(120, 90), QColor(90, 140, 40), 30, seed));
}

QString outboxArchive(const QString& name)
{
    return outboxFile(name);
}

// The transfer history's events without their time stamps, those starting with `kind`.
QStringList historyEvents(const QString& kind)
{
    QStringList events;
    for (const QString& line :
         QString::fromUtf8(readBytes(local("c:\\LOAD\\transfer.log"))).split('\n', Qt::SkipEmptyParts))
        if (line.mid(20).startsWith(kind))
            events << line.mid(20);
    return events;
}

QString claimFolderFile(const QString& claim, const QString& name)
{
    return local(platform::paths::claimFolder(claim) + "\\" + name);
}

class PhotoPackagingTest : public ::testing::Test {
protected:
    // The claim folders some cases make go too, so that no case (here or in
    // another suite of the process) sees another's documents.
    void SetUp() override { cleanPictures(); }
    void TearDown() override { cleanPictures(); }
    static void cleanPictures()
    {
        QDir(local(platform::paths::inbox)).removeRecursively();
        cleanWorkstation();
    }
    TZipf zipf;
};

TEST(PhotoPackagingNames, ArchiveIsNamedByTheFirstEightCharacters)
{
    EXPECT_EQ(transfer::archivePath("12345678800.gif"), "c:\\picture\\transfer\\12345678.Zip");
    EXPECT_EQ(transfer::archivePath("x.gif"), "c:\\picture\\transfer\\x.gif.Zip");
    EXPECT_EQ(transfer::archivePath("ABCDEFGH.GIF"), "c:\\picture\\transfer\\ABCDEFGH.Zip");
    EXPECT_EQ(transfer::fileSpec("12345678800.gif"), "c:\\picture\\transfer\\12345678800.gif");
}

TEST_F(PhotoPackagingTest, ThreeGifsOfOneClaimAndOneOfAnother)
{
    const QMap<QString, QByteArray> gifs{{"12345678800.gif", gifPhoto(1)},
                                         {"12345678801.gif", gifPhoto(2)},
                                         {"12345678802.GIF", gifPhoto(3)},
                                         {"87654321800.gif", gifPhoto(4)},
                                         {"x.gif", gifPhoto(5)}};
    for (auto it = gifs.begin(); it != gifs.end(); ++it)
        writeBytes(outboxFile(it.key()), it.value());
    const QByteArray jpeg = jpegBytes({});
    writeBytes(outboxFile("12345678001.jpg"), jpeg);
    QStringList begun;
    const auto begin = zipf.Zip1.OnBegin;
    zipf.Zip1.OnBegin = [&](TZip& zip, const std::string& file, int count, bool& extract) {
        begun << QFileInfo(QString::fromStdString(file)).fileName();
        EXPECT_TRUE(zipf.isVisible());
        begin(zip, file, count, extract);
    };

    transfer::ZipFile(zipf);

    // One writer run per photograph, in case-insensitive name order.
    EXPECT_EQ(begun, (QStringList{"12345678800.gif", "12345678801.gif", "12345678802.GIF", "87654321800.gif",
                                  "x.gif"}));
    EXPECT_FALSE(zipf.isVisible());
    EXPECT_EQ(zipf.Label1->text(), QFile::encodeName(outboxFile("x.gif")));
    EXPECT_EQ(platform::listFiles(platform::paths::outbox + "\\*.*"),
              (QStringList{"12345678.Zip", "12345678001.jpg", "87654321.Zip", "x.gif.Zip"}));
    EXPECT_EQ(readBytes(outboxFile("12345678001.jpg")), jpeg);

    const ToolRun first = pythonZipMembers(outboxArchive("12345678.Zip"));
    ASSERT_EQ(first.exitCode, 0) << first.output.toStdString();
    EXPECT_EQ(
        first.output.split('\n', Qt::SkipEmptyParts),
        (QStringList{QStringLiteral("12345678800.gif\t%1\tdeflated").arg(gifs["12345678800.gif"].size()),
                     QStringLiteral("12345678801.gif\t%1\tdeflated").arg(gifs["12345678801.gif"].size()),
                     QStringLiteral("12345678802.GIF\t%1\tdeflated").arg(gifs["12345678802.GIF"].size())}));
    for (const char* archive : {"12345678.Zip", "87654321.Zip", "x.gif.Zip"}) {
        const ToolRun test = runTool("unzip", {"-t", outboxArchive(QString::fromLatin1(archive))});
        EXPECT_EQ(test.exitCode, 0) << test.output.toStdString();
        EXPECT_TRUE(test.output.contains("No errors detected")) << test.output.toStdString();
    }
    const ToolRun info = runTool("zipinfo", {"-v", outboxArchive("87654321.Zip")});
    EXPECT_EQ(info.exitCode, 0) << info.output.toStdString();
    EXPECT_TRUE(info.output.contains("87654321800.gif"));
    EXPECT_TRUE(info.output.contains("compression method:                             deflated"))
        << info.output.toStdString();
    const ToolRun shortName = pythonZipMembers(outboxArchive("x.gif.Zip"));
    EXPECT_EQ(shortName.output.trimmed(), QStringLiteral("x.gif\t%1\tdeflated").arg(gifs["x.gif"].size()));

    // The photographs went to the trash, where the user can restore them.
    const QString trash = QString::fromStdString(temporaryBase()) + "/data/Trash/files";
    for (auto it = gifs.begin(); it != gifs.end(); ++it)
        EXPECT_EQ(readBytes(trash + "/" + it.key()), it.value()) << it.key().toStdString();
}

TEST_F(PhotoPackagingTest, WaitingArchiveReceivesTheNextPhotographsOfItsClaim)
{
    writeBytes(outboxFile("12345678800.gif"), gifPhoto(7));
    transfer::ZipFile(zipf);
    const QByteArray firstArchive = readBytes(outboxArchive("12345678.Zip"));
    ASSERT_FALSE(firstArchive.isEmpty());

    // A failed exchange left the archive in the outbox; the next transfer adds to it.
    writeBytes(outboxFile("12345678801.gif"), gifPhoto(8));
    transfer::ZipFile(zipf);
    const QByteArray secondArchive = readBytes(outboxArchive("12345678.Zip"));
    // The earlier member's local header and data come first, byte for byte.
    const qsizetype firstMemberEnd = firstArchive.indexOf(QByteArray("PK\x01\x02", 4));
    ASSERT_GT(firstMemberEnd, 0);
    EXPECT_EQ(secondArchive.left(firstMemberEnd), firstArchive.left(firstMemberEnd));
    const ToolRun members = pythonZipMembers(outboxArchive("12345678.Zip"));
    EXPECT_EQ(members.exitCode, 0) << members.output.toStdString();
    EXPECT_EQ(members.output.count('\n'), 2);
}

TEST_F(PhotoPackagingTest, OutboxWithoutGifsTouchesNothing)
{
    writeBytes(outboxFile("12345678001.jpg"), jpegBytes({}));
    writeBytes(outboxFile("12345678.Zip"), "not even an archive");
    bool shown = false;
    zipf.Zip1.OnBegin = [&](TZip&, const std::string&, int, bool&) { shown = true; };
    transfer::TransferLog log;
    EXPECT_EQ(transfer::packOutboxGifs(zipf.Zip1, log, [&](const QString&) { shown = true; }).stored, 0);
    EXPECT_FALSE(shown);
    EXPECT_EQ(readBytes(outboxFile("12345678.Zip")), "not even an archive");
}

TEST_F(PhotoPackagingTest, PhotographThatCannotBePackedWaitsInTheOutbox)
{
    // Every document number of a third claim is taken: its archive holds 800,
    // the claim folder 801 to 999, and the outbox a different 800.
    const QByteArray packed = gifPhoto(11), different = gifPhoto(12);
    writeBytes(outboxFile("44444444800.gif"), packed);
    transfer::ZipFile(zipf);
    const QByteArray fullArchive = readBytes(outboxArchive("44444444.Zip"));
    for (int sequence = 801; sequence <= 999; ++sequence)
        writeBytes(claimFolderFile("44444444", QStringLiteral("44444444%1.gif").arg(sequence)), "filed");
    writeBytes(outboxFile("44444444800.gif"), different);
    // Something that is not an archive stands at the archive's path: it is never overwritten.
    writeBytes(outboxFile("12345678.Zip"), "not an archive");
    writeBytes(outboxFile("12345678800.gif"), gifPhoto(9));
    writeBytes(outboxFile("87654321800.gif"), gifPhoto(10));
    const transfer::PackingResult result = transfer::ZipFile(zipf);
    EXPECT_EQ(readBytes(outboxFile("12345678.Zip")), "not an archive");
    EXPECT_TRUE(QFile::exists(outboxFile("12345678800.gif")));
    EXPECT_FALSE(QFile::exists(outboxFile("87654321800.gif"))); // packing went on with the next one
    EXPECT_TRUE(QFile::exists(outboxFile("87654321.Zip")));
    EXPECT_EQ(readBytes(outboxFile("44444444800.gif")), different);
    EXPECT_EQ(readBytes(outboxArchive("44444444.Zip")), fullArchive);

    // Both are reported, each with its archive and the cause, and written into the history.
    EXPECT_EQ(result.stored, 1);
    ASSERT_EQ(result.unpacked.size(), 2);
    EXPECT_EQ(result.unpacked[0].name, "12345678800.gif");
    EXPECT_EQ(result.unpacked[0].archive, "12345678.Zip");
    EXPECT_TRUE(result.unpacked[0].cause.contains("not a readable ZIP archive"))
        << result.unpacked[0].cause.toStdString();
    EXPECT_EQ(result.unpacked[1].name, "44444444800.gif");
    EXPECT_EQ(result.unpacked[1].archive, "44444444.Zip");
    EXPECT_TRUE(result.unpacked[1].cause.contains("no free document number"))
        << result.unpacked[1].cause.toStdString();
    const QStringList notPacked = historyEvents("not packed ");
    ASSERT_EQ(notPacked.size(), 2);
    EXPECT_TRUE(notPacked[0].startsWith("not packed 12345678800.gif into 12345678.Zip: "))
        << notPacked[0].toStdString();
    EXPECT_TRUE(notPacked[1].startsWith("not packed 44444444800.gif into 44444444.Zip: "))
        << notPacked[1].toStdString();
}

TEST_F(PhotoPackagingTest, DifferentDocumentUnderAnArchivedNameIsStoredUnderTheClaimsNextFreeNumber)
{
    // Packed at a Transfer that did not reach the server.
    const QByteArray old800 = gifPhoto(20), old801 = gifPhoto(21);
    writeBytes(outboxFile("33550336800.gif"), old800);
    writeBytes(outboxFile("33550336801.gif"), old801);
    transfer::ZipFile(zipf);

    // The same numbers are taken again for other documents. The new number
    // follows the archive's members...
    const QByteArray new800 = gifPhoto(22);
    writeBytes(outboxFile("33550336800.gif"), new800);
    transfer::PackingResult result = transfer::ZipFile(zipf);
    EXPECT_EQ(result.stored, 1);
    EXPECT_TRUE(result.unpacked.isEmpty());
    // ... the claim folder's highest document ...
    writeBytes(claimFolderFile("33550336", "33550336805.gif"), "filed and sent long ago");
    const QByteArray new801 = gifPhoto(23);
    writeBytes(outboxFile("33550336801.gif"), new801);
    result = transfer::ZipFile(zipf);
    EXPECT_EQ(result.stored, 1);
    // ... and a document waiting in the outbox; names match without regard to case.
    const QByteArray upperCase800 = gifPhoto(24), waiting = gifPhoto(25);
    writeBytes(outboxFile("33550336800.GIF"), upperCase800);
    writeBytes(outboxFile("33550336809.gif"), waiting);
    result = transfer::ZipFile(zipf);
    EXPECT_EQ(result.stored, 2);
    EXPECT_TRUE(result.unpacked.isEmpty());

    EXPECT_EQ(
        pythonZipContents(outboxArchive("33550336.Zip")),
        (QStringList{memberLine("33550336800.gif", old800), memberLine("33550336801.gif", old801),
                     memberLine("33550336802.gif", new800), memberLine("33550336806.gif", new801),
                     memberLine("33550336810.GIF", upperCase800), memberLine("33550336809.gif", waiting)}));
    EXPECT_EQ(platform::listFiles(platform::paths::outbox + "\\*.*"), QStringList{"33550336.Zip"});
    const QString why = " (the claim archive already holds a different document of that name)";
    EXPECT_EQ(historyEvents("renamed "), (QStringList{"renamed 33550336800.gif to 33550336802.gif" + why,
                                                      "renamed 33550336801.gif to 33550336806.gif" + why,
                                                      "renamed 33550336800.GIF to 33550336810.GIF" + why}));
}

TEST_F(PhotoPackagingTest, SameDocumentFoundAgainIsPackedOnceAndGoesToTheTrash)
{
    const QByteArray document = gifPhoto(30);
    writeBytes(outboxFile("33550336800.gif"), document);
    transfer::ZipFile(zipf);
    const QByteArray archive = readBytes(outboxArchive("33550336.Zip"));

    // The document is back in the outbox with another modification time
    // (copied again from the claim folder, or restored from the trash).
    writeBytes(outboxFile("33550336800.gif"), document);
    QFile file(outboxFile("33550336800.gif"));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(
        file.setFileTime(QDateTime::currentDateTime().addDays(-3), QFileDevice::FileModificationTime));
    file.close();
    const transfer::PackingResult result = transfer::ZipFile(zipf);
    EXPECT_EQ(result.stored, 0);
    EXPECT_TRUE(result.unpacked.isEmpty());
    EXPECT_EQ(readBytes(outboxArchive("33550336.Zip")), archive);
    EXPECT_EQ(pythonZipContents(outboxArchive("33550336.Zip")),
              QStringList{memberLine("33550336800.gif", document)});
    EXPECT_EQ(platform::listFiles(platform::paths::outbox + "\\*.*"), QStringList{"33550336.Zip"});
    const QDir trash(QString::fromStdString(temporaryBase()) + "/data/Trash/files");
    const QStringList trashed = trash.entryList(QDir::Files);
    ASSERT_EQ(trashed.size(), 2) << trashed.join(' ').toStdString();
    for (const QString& name : trashed)
        EXPECT_EQ(readBytes(trash.filePath(name)), document) << name.toStdString();
    EXPECT_EQ(
        historyEvents("33550336800.gif "),
        QStringList{"33550336800.gif is already in 33550336.Zip with the same contents; moved to the trash"});
}

} // namespace
} // namespace tevrak
