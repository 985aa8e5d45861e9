#include "IntakeFixture.h"

#include "platform/core/Registry.h"

#include <QFile>
#include <QProcess>
#include <QSettings>

using namespace tevrak;
using namespace tevrak::test;

namespace {

class FilingGuardTest : public IntakeFixture {
protected:
    void SetUp() override
    {
        IntakeFixture::SetUp();
        QDir().mkpath(root() + "/claim/db");
        QFile::remove(platform::registry::registryFile());
        values.GarageName = QStringLiteral("อู่ทดสอบ");
    }

    // A photo of shapes drawn from `seed`, at this JPEG quality, taken at `taken` (none: no EXIF block).
    static void addPhoto(const QString& name, unsigned seed, int quality = 92, const QDateTime& taken = {})
    {
        JpegSpec photo;
        photo.picture = shapesPicture(QSize(480, 360), seed);
        photo.quality = quality;
        if (taken.isValid())
            photo.dateTimeOriginal = taken.toString("yyyy:MM:dd HH:mm:ss");
        writeJpeg(inbox() + "/" + name, photo);
    }
    void typeClaim(const QString& claim) { page->Edit1->setText(claim); }
    static bool filed(const QString& claim, const QString& name)
    {
        return QFile::exists(root() + "/picture/" + claim + "/" + name) &&
               QFile::exists(root() + "/picture/transfer/" + name);
    }
    static QStringList claimFolder(const QString& claim)
    {
        return QDir(root() + "/picture/" + claim).entryList(QDir::Files);
    }
    static bool inInbox(const QString& name) { return QFile::exists(inbox() + "/" + name); }

    // sqlite3's rows for a query on the prints file.
    static QStringList sqlite(const QString& query)
    {
        QProcess reader;
        reader.start("sqlite3", {root() + "/claim/db/FilingPrints.db", query});
        EXPECT_TRUE(reader.waitForFinished(30000));
        EXPECT_EQ(reader.exitCode(), 0) << reader.readAllStandardError().toStdString();
        return QString::fromUtf8(reader.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    }
    static QStringList answers()
    {
        return sqlite("SELECT Garage, Claim, FiledName, InboxName, Warning, ifnull(OtherClaim, ''), "
                      "ifnull(OtherFile, '') FROM Acknowledgements ORDER BY Id");
    }
};

}  // namespace

TEST_F(FilingGuardTest, TheSameBytesFiledAlreadyAreAskedAboutNamingWhereTheyAreAndNoFilesNothing)
{
    addPhoto("IMG_1.jpg", 1);
    QFile::copy(inbox() + "/IMG_1.jpg", inbox() + "/IMG_2.jpg");
    writeGif(inbox() + "/SCAN1.gif", shapesPicture(QSize(300, 600), 2));
    QFile::copy(inbox() + "/SCAN1.gif", inbox() + "/SCAN2.gif");
    openTab();
    typeClaim("AAAA0001");
    drop(1, page->beforeRepair.image);
    drop(3, page->documents.image);
    ASSERT_TRUE(filed("AAAA0001", "AAAA0001001.jpg"));
    ASSERT_TRUE(filed("AAAA0001", "AAAA0001800.gif"));
    EXPECT_TRUE(dialogs.questions.empty());

    typeClaim("BBBB0002");
    dialogs.answerNextQuestion(false);
    drop(2, page->afterRepair.image);
    ASSERT_EQ(dialogs.questions.size(), 1u);
    const QString today = QDate::currentDate().toString("dd/MM/yyyy");
    for (const QString& part : {QString("AAAA0001"), QString("ก่อนซ่อม"), QString("AAAA0001001.jpg"), today,
                                QString("BBBB0002")})
        EXPECT_TRUE(dialogs.questions[0].text.contains(part)) << part.toStdString();
    EXPECT_TRUE(dialogs.questions[0].leftPicture.isNull()) << "the same bytes need no pictures";
    EXPECT_TRUE(inInbox("IMG_2.jpg"));
    EXPECT_TRUE(claimFolder("BBBB0002").isEmpty());
    EXPECT_EQ(QDir(root() + "/picture/transfer").entryList(QDir::Files),
              (QStringList{"AAAA0001001.jpg", "AAAA0001800.gif"}));
    EXPECT_TRUE(page->thumbnailSlots()[1].image->isVisibleTo(tab.get())) << "the photo keeps its slot";

    // A scanned document of the same bytes: asked the same way, also under the claim that holds it.
    typeClaim("AAAA0001");
    dialogs.answerNextQuestion(false);
    drop(4, page->documents.image);
    ASSERT_EQ(dialogs.questions.size(), 2u);
    EXPECT_TRUE(dialogs.questions[1].text.contains("AAAA0001800.gif"));
    EXPECT_TRUE(dialogs.questions[1].text.contains("เอกสาร"));
    EXPECT_TRUE(inInbox("SCAN2.gif"));
    EXPECT_EQ(claimFolder("AAAA0001").size(), 2);
    EXPECT_TRUE(answers().isEmpty());

    // Yes: filed, printed, and the answer recorded with where the other copy is.
    typeClaim("BBBB0002");
    dialogs.answerNextQuestion(true);
    drop(2, page->afterRepair.image);
    EXPECT_TRUE(filed("BBBB0002", "BBBB0002500.jpg"));
    EXPECT_FALSE(inInbox("IMG_2.jpg"));
    EXPECT_EQ(answers(), QStringList{"อู่ทดสอบ|BBBB0002|BBBB0002500.jpg|IMG_2.jpg|same-bytes|AAAA0001|AAAA0001001.jpg"});
    EXPECT_EQ(sqlite("SELECT FileName, Category, length(Sha256), PerceptualHash IS NULL FROM Prints ORDER BY Id"),
              (QStringList{"AAAA0001001.jpg|0|32|0", "AAAA0001800.gif|3|32|1", "BBBB0002500.jpg|2|32|0"}));
    EXPECT_TRUE(dialogs.texts().isEmpty()) << dialogs.texts().join('\n').toStdString();
}

TEST_F(FilingGuardTest, ANearPhotoUnderAnotherClaimIsAskedAboutWithBothPicturesAndUnderTheSameClaimIsNot)
{
    addPhoto("IMG_1.jpg", 5, 92);
    addPhoto("IMG_2.jpg", 5, 60);
    addPhoto("IMG_3.jpg", 5, 75);
    addPhoto("IMG_4.jpg", 6, 75);
    openTab();
    typeClaim("AAAA0001");
    drop(1, page->beforeRepair.image);
    drop(2, page->duringRepair.image); // another shot of the same damage
    EXPECT_TRUE(dialogs.questions.empty());
    EXPECT_EQ(claimFolder("AAAA0001"), (QStringList{"AAAA0001001.jpg", "AAAA0001300.jpg"}));

    typeClaim("BBBB0002");
    drop(4, page->beforeRepair.image); // another picture altogether
    EXPECT_TRUE(dialogs.questions.empty());
    dialogs.answerNextQuestion(false);
    drop(3, page->beforeRepair.image);
    ASSERT_EQ(dialogs.questions.size(), 1u);
    const platform::Question& asked = dialogs.questions[0];
    EXPECT_TRUE(asked.text.contains("AAAA0001")) << asked.text.toStdString();
    EXPECT_TRUE(asked.text.contains("คล้าย"));
    EXPECT_FALSE(asked.leftPicture.isNull());
    EXPECT_FALSE(asked.rightPicture.isNull());
    EXPECT_TRUE(asked.rightCaption.contains("AAAA0001")) << asked.rightCaption.toStdString();
    EXPECT_TRUE(inInbox("IMG_3.jpg"));
    EXPECT_EQ(claimFolder("BBBB0002"), QStringList{"BBBB0002001.jpg"});

    dialogs.answerNextQuestion(true);
    drop(3, page->beforeRepair.image);
    EXPECT_TRUE(filed("BBBB0002", "BBBB0002002.jpg"));
    const QStringList recorded = answers();
    ASSERT_EQ(recorded.size(), 1);
    EXPECT_TRUE(recorded[0].startsWith("อู่ทดสอบ|BBBB0002|BBBB0002002.jpg|IMG_3.jpg|near-picture|AAAA0001|AAAA0001"))
        << recorded[0].toStdString();
}

TEST_F(FilingGuardTest, APhotoTakenBeforeTheCarCameInOrLongBeforeTodayIsAskedAboutWithItsDate)
{
    const QDateTime now = QDateTime::currentDateTime();
    const QDate garage = now.date().addDays(-5);
    addPhoto("IMG_1.jpg", 7, 90, now.addDays(-7));  // before the garage date less a day
    addPhoto("IMG_2.jpg", 8, 90, now.addDays(-90)); // a claim not in the register: past 60 days
    addPhoto("IMG_3.jpg", 9, 90, now.addDays(-30));
    addPhoto("IMG_4.jpg", 10, 90, now.addDays(3)); // a camera clock ahead
    addPhoto("IMG_5.jpg", 11, 90);                 // no EXIF block
    addPhoto("IMG_6.jpg", 12, 90, now.addDays(-30));
    openTab();
    filing->setGarageDates([garage](const QString& claim) { return claim == "AAAA0001" ? garage : QDate(); });

    typeClaim("AAAA0001");
    dialogs.answerNextQuestion(false);
    drop(1, page->beforeRepair.image);
    ASSERT_EQ(dialogs.questions.size(), 1u);
    EXPECT_TRUE(dialogs.questions[0].text.contains(now.addDays(-7).toString("dd/MM/yyyy HH:mm")))
        << dialogs.questions[0].text.toStdString();
    EXPECT_TRUE(dialogs.questions[0].text.contains(garage.toString("dd/MM/yyyy")));
    EXPECT_TRUE(inInbox("IMG_1.jpg"));
    EXPECT_TRUE(claimFolder("AAAA0001").isEmpty());

    typeClaim("CCCC0003");
    drop(3, page->beforeRepair.image);
    drop(4, page->beforeRepair.image);
    drop(5, page->beforeRepair.image);
    EXPECT_EQ(dialogs.questions.size(), 1u) << "30 days old, a date ahead and no date say nothing";
    EXPECT_EQ(claimFolder("CCCC0003").size(), 3);

    dialogs.answerNextQuestion(true);
    drop(2, page->beforeRepair.image);
    ASSERT_EQ(dialogs.questions.size(), 2u);
    EXPECT_TRUE(dialogs.questions[1].text.contains(now.addDays(-90).toString("dd/MM/yyyy HH:mm")));
    EXPECT_TRUE(dialogs.questions[1].text.contains("60"));
    EXPECT_TRUE(filed("CCCC0003", "CCCC0003004.jpg"));
    EXPECT_EQ(answers(), QStringList{"อู่ทดสอบ|CCCC0003|CCCC0003004.jpg|IMG_2.jpg|old-photo||"});

    // The allowed age comes from the registry.
    {
        QSettings settings(platform::registry::registryFile(), QSettings::IniFormat);
        settings.setValue("Filing/MaxPhotoAgeDays", 20);
    }
    dialogs.answerNextQuestion(false);
    drop(6, page->beforeRepair.image);
    ASSERT_EQ(dialogs.questions.size(), 3u);
    EXPECT_TRUE(dialogs.questions[2].text.contains("20"));
    EXPECT_TRUE(inInbox("IMG_6.jpg"));
}
