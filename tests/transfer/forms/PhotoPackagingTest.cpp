// Packing the outbox's GIF photographs into their claims' archives, checked by
// independent readers: unzip -t, zipinfo -v and Python's zipfile.

#include "transfer/job/PhotoPackaging.h"
#include "exchange/ExchangeTestSupport.h"
#include "platform/core/FileSystem.h"
#include "support/QtPrinting.h"
#include "support/TestPictures.h"
#include "transfer/TransferTestSupport.h"
#include "transfer/forms/ZipfU.h"

#include <QCryptographicHash>
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

class PhotoPackagingTest : public ::testing::Test {
protected:
    void SetUp() override { cleanWorkstation(); }
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
    EXPECT_EQ(transfer::packOutboxGifs(zipf.Zip1, [&] { shown = true; }), 0);
    EXPECT_FALSE(shown);
    EXPECT_EQ(readBytes(outboxFile("12345678.Zip")), "not even an archive");
}

TEST_F(PhotoPackagingTest, PhotographThatCannotBePackedWaitsInTheOutbox)
{
    // Something that is not an archive stands at the archive's path: it is never overwritten.
    writeBytes(outboxFile("12345678.Zip"), "not an archive");
    writeBytes(outboxFile("12345678800.gif"), gifPhoto(9));
    writeBytes(outboxFile("87654321800.gif"), gifPhoto(10));
    transfer::ZipFile(zipf);
    EXPECT_EQ(readBytes(outboxFile("12345678.Zip")), "not an archive");
    EXPECT_TRUE(QFile::exists(outboxFile("12345678800.gif")));
    EXPECT_FALSE(QFile::exists(outboxFile("87654321800.gif"))); // packing went on with the next one
    EXPECT_TRUE(QFile::exists(outboxFile("87654321.Zip")));
}

} // namespace
} // namespace tevrak
