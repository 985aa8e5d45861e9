#include "intake/guard/PrintBackfill.h"
#include "intake/guard/PrintTable.h"
#include "support/TestEnvironment.h"
#include "support/TestPictures.h"

#include <QDir>
#include <QProcess>
#include <QSet>
#include <gtest/gtest.h>

using namespace tevrak;
using namespace tevrak::test;

namespace {

QString root() { return QString::fromStdString(driveCFolder()); }

// sqlite3's answer to a query on the prints file, one line per row.
QStringList sqlite(const QString& query)
{
    QProcess reader;
    reader.start("sqlite3", {root() + "/claim/db/FilingPrints.db", query});
    EXPECT_TRUE(reader.waitForFinished(30000));
    EXPECT_EQ(reader.exitCode(), 0) << reader.readAllStandardError().toStdString();
    return QString::fromUtf8(reader.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

class BackfillTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir(root()).removeRecursively();
        QDir().mkpath(root() + "/claim/db");
        QDir().mkpath(root() + "/picture/transfer");
    }

    // `claims` claim folders of six photos and a scanned document each; the names on disk.
    QSet<QString> fillClaimFolders(int claims)
    {
        QSet<QString> names;
        for (int c = 0; c < claims; ++c) {
            const QString claim = QStringLiteral("CL%1").arg(c, 6, 10, QLatin1Char('0'));
            for (int i = 1; i <= 6; ++i) {
                const QString name = QStringLiteral("%1%2.jpg").arg(claim).arg(i * 50, 3, 10, QLatin1Char('0'));
                JpegSpec photo;
                photo.picture = shapesPicture(QSize(800, 600), unsigned(c * 10 + i));
                writeJpeg(root() + "/picture/" + claim + "/" + name, photo);
                names.insert(name);
            }
            const QString scan = claim + "801.gif";
            writeGif(root() + "/picture/" + claim + "/" + scan, noisyImage(QSize(60, 120), Qt::gray, 24, unsigned(c)));
            names.insert(scan);
        }
        return names;
    }
};

}  // namespace

TEST_F(BackfillTest, AKilledBackfillGoesOnFromItsLastFolderAndPrintsEveryPictureExactlyOnce)
{
    QSet<QString> onDisk = fillClaimFolders(8);
    // The fourth folder takes a while: a 12-MP photo.
    writeJpeg(root() + "/picture/CL000003/CL000003290.jpg", cameraPhoto(1, true));
    onDisk.insert("CL000003290.jpg");
    // The outbox and files that are no filed pictures are not printed.
    writeJpeg(root() + "/picture/transfer/CL000000050.jpg", JpegSpec{});
    writeFile(root() + "/picture/CL000001/notes.txt", "x");
    writeJpeg(root() + "/picture/CL000001/IMG_1.jpg", JpegSpec{});
    // One picture printed at its filing before the back-fill ran.
    {
        intake::guard::PrintTable table(intake::guard::PrintTable::defaultFile());
        intake::guard::PhotoPrint print;
        print.claim = "CL000005";
        print.fileName = "CL000005100.jpg";
        print.filedAt = QDateTime(QDate(2026, 12, 9), QTime(10, 0));
        print.facts = intake::guard::readPictureFacts(root() + "/picture/CL000005/CL000005100.jpg");
        table.add({print});
    }

    QProcess child;
    child.start(PRINT_BACKFILL_CHILD, {"0"});
    ASSERT_TRUE(child.waitForStarted());
    QByteArray said;
    while (!said.contains("folders 3") && child.state() == QProcess::Running) {
        child.waitForReadyRead(10000);
        said += child.readAllStandardOutput();
    }
    ASSERT_TRUE(said.contains("folders 3")) << said.toStdString();
    child.kill(); // SIGKILL, while the fourth folder is being printed
    child.waitForFinished();
    EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);

    // Whole folders only: the three committed ones and the print made at filing.
    EXPECT_EQ(sqlite("SELECT Claim, count(*) FROM Prints GROUP BY Claim ORDER BY Claim"),
              (QStringList{"CL000000|7", "CL000001|7", "CL000002|7", "CL000005|1"}));

    child.start(PRINT_BACKFILL_CHILD, {"0"});
    ASSERT_TRUE(child.waitForFinished(120000));
    EXPECT_EQ(child.exitCode(), 0) << child.readAllStandardError().toStdString();

    const QStringList rows = sqlite("SELECT FileName FROM Prints ORDER BY FileName");
    EXPECT_EQ(QSet<QString>(rows.begin(), rows.end()), onDisk);
    EXPECT_EQ(rows.size(), onDisk.size()) << "no picture printed twice";
    EXPECT_EQ(sqlite("SELECT FiledAt FROM Prints WHERE FileName = 'CL000005100.jpg'"),
              QStringList{"2026-12-09T10:00:00.000"})
        << "the print made at filing is kept";
    // Photos carry their hash and detail, documents only their digest.
    EXPECT_EQ(sqlite("SELECT count(*) FROM Prints WHERE length(Sha256) = 32"), QStringList{QString::number(onDisk.size())});
    EXPECT_EQ(sqlite("SELECT count(*) FROM Prints WHERE length(PerceptualHash) = 32 AND Detail > 0"),
              QStringList{"49"});
    EXPECT_EQ(sqlite("SELECT Category, count(*) FROM Prints GROUP BY Category ORDER BY Category"),
              (QStringList{"0|41", "1|8", "3|8"}));

    // A third run finds nothing new.
    child.start(PRINT_BACKFILL_CHILD, {"0"});
    ASSERT_TRUE(child.waitForFinished(60000));
    EXPECT_TRUE(child.readAllStandardOutput().contains("done 8 0"));
}
