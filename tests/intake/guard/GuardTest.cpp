#include "imaging/Pictures.h"
#include "intake/guard/FilingGuard.h"
#include "intake/guard/PrintTable.h"
#include "platform/core/Registry.h"
#include "support/TestEnvironment.h"
#include "support/TestPictures.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTransform>
#include <gtest/gtest.h>

using namespace tevrak;
using namespace tevrak::test;
using intake::guard::FilingGuard;
using intake::guard::GuardWarning;
using intake::guard::NearLimits;
using intake::guard::PhotoPrint;
using intake::guard::PictureFacts;
using intake::guard::PrintTable;

namespace {

class GuardTest : public ::testing::Test {
protected:
    // The facts of `picture` filed as a JPEG of this quality (as the filing reads them).
    PictureFacts jpegFacts(const QImage& picture, int quality = 90, const QString& taken = {})
    {
        JpegSpec photo;
        photo.picture = picture;
        photo.quality = quality;
        photo.dateTimeOriginal = taken;
        const QString file = folder.path() + QStringLiteral("/p%1.jpg").arg(++written);
        writeJpeg(file, photo);
        return intake::guard::readPictureFacts(file);
    }
    static PhotoPrint printOf(const PictureFacts& facts, const QString& claim, const QString& name)
    {
        PhotoPrint print;
        print.claim = claim;
        print.fileName = name;
        print.filedAt = QDateTime(QDate(2026, 12, 1), QTime(9, 30));
        print.facts = facts;
        return print;
    }

    QTemporaryDir folder;
    int written = 0;
    const NearLimits limits;
};

// Turned and mirrored copies are stored with their pixels turned and no EXIF orientation, as an editor
// writes them.
QImage turned(const QImage& picture, int degrees, bool mirrored)
{
    const QImage source = mirrored ? picture.mirrored(true, false) : picture;
    return source.transformed(QTransform().rotate(degrees));
}

}  // namespace

TEST_F(GuardTest, ARecodedTurnedOrMirroredPictureIsNearAndDifferentPicturesAreFar)
{
    const QImage photo = shapesPicture(QSize(480, 360), 11);
    const PictureFacts original = jpegFacts(photo, 92);
    ASSERT_TRUE(original.picture);
    ASSERT_GE(original.picture->detail, limits.minDetail);
    const imaging::PerceptualHash& filed = original.picture->hashes.upright();

    const int recoded = jpegFacts(photo, 55).picture->hashes.distanceTo(filed);
    EXPECT_LE(recoded, limits.maxDistance / 3);
    const QImage reduced = photo.scaled(120, 90, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    EXPECT_LE(jpegFacts(reduced, 80).picture->hashes.distanceTo(filed), limits.maxDistance / 2);

    // Cut down by 3 % a side: near to the filed picture's own cut-down hash.
    const QImage cut = photo.copy(photo.rect().adjusted(14, 11, -14, -11));
    EXPECT_LE(jpegFacts(cut, 85).picture->hashes.distanceTo(original.picture->cropped), limits.maxDistance / 2);

    for (const int degrees : {90, 180, 270}) {
        for (const bool mirrored : {false, true}) {
            const PictureFacts copy = jpegFacts(turned(photo, degrees, mirrored), 85);
            SCOPED_TRACE(QStringLiteral("turned %1, mirrored %2").arg(degrees).arg(mirrored).toStdString());
            EXPECT_LE(copy.picture->hashes.distanceTo(filed), limits.maxDistance / 2);
            // Found through its turning, not because every hash is near every other.
            EXPECT_GT(distance(copy.picture->hashes.upright(), filed), limits.maxDistance);
        }
    }
    for (unsigned seed = 12; seed < 20; ++seed) {
        const PictureFacts other = jpegFacts(shapesPicture(QSize(480, 360), seed), 92);
        EXPECT_GT(other.picture->hashes.distanceTo(filed), limits.maxDistance) << "seed " << seed;
    }
}

TEST_F(GuardTest, SameBytesAreFoundUnderAnyClaimAndNearPicturesOnlyUnderAnotherOne)
{
    PrintTable table(folder.path() + "/FilingPrints.db");
    const QImage photo = shapesPicture(QSize(480, 360), 21);
    const PictureFacts filed = jpegFacts(photo);
    const QString scan = folder.path() + "/scan.gif";
    writeGif(scan, shapesPicture(QSize(300, 600), 22));
    const PictureFacts document = intake::guard::readPictureFacts(scan);
    EXPECT_FALSE(document.picture) << "a scanned document has no picture print";
    table.add({printOf(filed, "AAAA0001", "AAAA0001001.jpg"), printOf(document, "AAAA0001", "AAAA0001800.gif")});

    FilingGuard guard(table);
    const QDate today(2026, 12, 10);
    // The same bytes: asked under the same claim too, for photos and documents alike.
    for (const QString claim : {"AAAA0001", "BBBB0002"}) {
        for (const auto& [facts, name] : {std::pair{filed, "AAAA0001001.jpg"}, std::pair{document, "AAAA0001800.gif"}}) {
            const auto warnings = guard.check(facts, claim, {}, today, 60);
            ASSERT_EQ(warnings.size(), 1u) << claim.toStdString() << " " << name;
            EXPECT_EQ(warnings[0].kind, GuardWarning::Kind::SameBytes);
            EXPECT_EQ(warnings[0].other->fileName, name);
            EXPECT_EQ(warnings[0].other->claim, "AAAA0001");
            EXPECT_EQ(warnings[0].other->filedAt, QDateTime(QDate(2026, 12, 1), QTime(9, 30)));
        }
    }
    // A re-encode: near under another claim only.
    const PictureFacts recoded = jpegFacts(photo, 70);
    EXPECT_TRUE(guard.check(recoded, "aaaa0001", {}, today, 60).empty()) << "the same claim, in another case";
    const auto near = guard.check(recoded, "BBBB0002", {}, today, 60);
    ASSERT_EQ(near.size(), 1u);
    EXPECT_EQ(near[0].kind, GuardWarning::Kind::NearPicture);
    EXPECT_EQ(near[0].other->fileName, "AAAA0001001.jpg");
    // Another picture: nothing.
    EXPECT_TRUE(guard.check(jpegFacts(shapesPicture(QSize(480, 360), 23)), "BBBB0002", {}, today, 60).empty());

    // Prints added after the guard's first look (the back-fill's, another program's) count at the next drop.
    const PictureFacts later = jpegFacts(shapesPicture(QSize(480, 360), 24));
    table.add({printOf(later, "CCCC0003", "CCCC0003301.jpg")});
    const auto found = guard.check(jpegFacts(shapesPicture(QSize(480, 360), 24), 60), "BBBB0002", {}, today, 60);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].other->fileName, "CCCC0003301.jpg");
    EXPECT_EQ(guard.indexedPrints(), 2u);

    // A flat picture's hash follows noise: neither filed nor dropped ones are compared.
    QImage flat(480, 360, QImage::Format_RGB32);
    flat.fill(QColor(120, 120, 120));
    table.add({printOf(jpegFacts(flat, 90), "DDDD0004", "DDDD0004001.jpg")});
    EXPECT_TRUE(guard.check(jpegFacts(flat, 60), "BBBB0002", {}, today, 60).empty());
    EXPECT_EQ(guard.indexedPrints(), 2u);
}

TEST_F(GuardTest, APhotoIsOldBeforeTheGarageDateLessADayOrPastTheAgeLimitWithoutOne)
{
    using intake::guard::ageWarning;
    const QDate today(2026, 12, 10);
    const QDate garage(2026, 12, 5);
    const auto at = [](int y, int m, int d) { return QDateTime(QDate(y, m, d), QTime(23, 59)); };
    EXPECT_FALSE(ageWarning(at(2026, 12, 4), garage, today, 60)) << "the day before the car came in";
    const auto old = ageWarning(at(2026, 12, 3), garage, today, 60);
    ASSERT_TRUE(old);
    EXPECT_EQ(old->limit, QDate(2026, 12, 4));
    EXPECT_EQ(old->garageDate, garage);
    EXPECT_TRUE(ageWarning(at(2026, 10, 1), garage, today, 60)) << "the garage date decides, not the age";

    EXPECT_FALSE(ageWarning(at(2026, 10, 11), {}, today, 60)) << "60 days before today";
    EXPECT_TRUE(ageWarning(at(2026, 10, 10), {}, today, 60));
    EXPECT_FALSE(ageWarning(at(2026, 10, 10), {}, today, 61));
    EXPECT_FALSE(ageWarning(at(2027, 1, 1), garage, today, 60)) << "a camera clock in the future";
    EXPECT_FALSE(ageWarning(QDateTime(), garage, today, 60)) << "no date";

    // Through the guard: the capture date read from the photo's EXIF block.
    PrintTable table(folder.path() + "/FilingPrints.db");
    FilingGuard guard(table);
    const auto warnings =
        guard.check(jpegFacts(shapesPicture(QSize(320, 240), 31), 90, "2026:12:03 08:15:00"), "AAAA0001", garage,
                    today, 60);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].kind, GuardWarning::Kind::OldPhoto);
    EXPECT_EQ(warnings[0].captureTime, QDateTime(QDate(2026, 12, 3), QTime(8, 15)));
}

TEST_F(GuardTest, TheAgeLimitIsReadFromTheFilingKeyOfTheRegistry)
{
    const auto write = [](const QString& value) {
        QSettings settings(platform::registry::registryFile(), QSettings::IniFormat);
        settings.setValue("Filing/MaxPhotoAgeDays", value);
    };
    QFile::remove(platform::registry::registryFile());
    EXPECT_EQ(platform::registry::maxPhotoAgeDays(), 60);
    write("14");
    EXPECT_EQ(platform::registry::maxPhotoAgeDays(), 14);
    for (const QString bad : {"0", "-3", "two weeks", ""}) {
        write(bad);
        EXPECT_EQ(platform::registry::maxPhotoAgeDays(), 60) << bad.toStdString();
    }
}

TEST_F(GuardTest, APhotoWithoutOrWithADamagedExifBlockHasNoCaptureTimeAndStillDecodes)
{
    JpegSpec photo;
    photo.picture = shapesPicture(QSize(320, 240), 41);
    photo.dateTimeOriginal = "2025:06:07 08:09:10";
    const QByteArray good = jpegBytes(photo);
    const QString file = folder.path() + "/exif.jpg";
    writeFile(file, good);
    EXPECT_EQ(imaging::loadReducedPhoto(file).captureTime, QDateTime(QDate(2025, 6, 7), QTime(8, 9, 10)));

    photo.dateTimeOriginal.clear();
    writeFile(file, jpegBytes(photo));
    EXPECT_FALSE(imaging::loadReducedPhoto(file).captureTime.isValid()) << "no EXIF block";

    const qsizetype tiff = good.indexOf(QByteArray("Exif\0\0II*\0", 10)) + 6;
    ASSERT_GT(tiff, 6);
    QByteArray badOrder = good;
    badOrder.replace(tiff, 2, "XY"); // no byte order
    QByteArray badPointer = good;
    const qsizetype pointer = good.indexOf(QByteArray("\x69\x87\x04\x00", 4), tiff);
    ASSERT_GT(pointer, tiff);
    badPointer.replace(pointer + 8, 4, QByteArray("\xf0\xff\x00\x00", 4)); // the Exif sub-IFD beyond the block
    QByteArray badDate = good;
    badDate.replace(badDate.indexOf("2025:06:07"), 10, "2025:13:40");
    QByteArray zeroDate = good;
    zeroDate.replace(zeroDate.indexOf("2025:06:07 08:09:10"), 19, "0000:00:00 00:00:00");
    for (const QByteArray& damaged : {badOrder, badPointer, badDate, zeroDate}) {
        writeFile(file, damaged);
        const imaging::ReducedPhoto photo = imaging::loadReducedPhoto(file);
        EXPECT_FALSE(photo.captureTime.isValid());
        EXPECT_EQ(photo.image.size(), QSize(200, 150)) << "the reduced decode";
        const PictureFacts facts = intake::guard::readPictureFacts(file);
        ASSERT_TRUE(facts.picture);
        PrintTable table(folder.path() + "/FilingPrints.db");
        FilingGuard guard(table);
        EXPECT_TRUE(guard.check(facts, "AAAA0001", QDate(2026, 12, 5), QDate(2026, 12, 10), 60).empty());
    }
}
