#include <gtest/gtest.h>

#include <QDir>
#include <QPainter>
#include <QTemporaryDir>

#include "imaging/PageLoader.h"
#include "imaging/Pictures.h"
#include "platform/core/Error.h"
#include "support/TestPictures.h"

using namespace tevrak;
using namespace tevrak::imaging;
using tevrak::test::JpegSpec;

namespace {

class PicturesTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }
};

// Colours compared loosely: JPEG changes them a little.
::testing::AssertionResult near(QRgb actual, QColor expected, int tolerance = 40)
{
    const int d = std::abs(qRed(actual) - expected.red()) + std::abs(qGreen(actual) - expected.green()) +
                  std::abs(qBlue(actual) - expected.blue());
    if (d <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "pixel (" << qRed(actual) << "," << qGreen(actual) << "," << qBlue(actual) << ") is not near ("
           << expected.red() << "," << expected.green() << "," << expected.blue() << ")";
}

// The colour at the centre of each quarter of an image: top-left, top-right, bottom-left, bottom-right.
std::array<QRgb, 4> quarters(const QImage& image)
{
    const int w = image.width(), h = image.height();
    return {image.pixel(w / 4, h / 4), image.pixel(3 * w / 4, h / 4), image.pixel(w / 4, 3 * h / 4),
            image.pixel(3 * w / 4, 3 * h / 4)};
}

const QColor kRed(220, 30, 30), kGreen(30, 200, 30), kBlue(30, 30, 220), kYellow(230, 220, 30);

// A landscape picture with four coloured quarters: red green / blue yellow.
QImage fourQuarters(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter p(&image);
    const int w = size.width() / 2, h = size.height() / 2;
    p.fillRect(0, 0, w, h, kRed);
    p.fillRect(w, 0, size.width() - w, h, kGreen);
    p.fillRect(0, h, w, size.height() - h, kBlue);
    p.fillRect(w, h, size.width() - w, size.height() - h, kYellow);
    return image;
}

} // namespace

// ---- orientation -------------------------------------------------------------------------------------

struct OrientationCase {
    int orientation;
    QColor topLeft, topRight, bottomLeft, bottomRight;
    bool turned; // sides swapped
};

class OrientationTest : public ::testing::TestWithParam<OrientationCase> {
protected:
    QTemporaryDir dir;
};

TEST_P(OrientationTest, ThumbnailAndFullPictureStandUpright)
{
    const OrientationCase c = GetParam();
    JpegSpec options;
    options.picture = fourQuarters(QSize(1600, 1200));
    options.orientation = c.orientation;
    const QString file = dir.filePath(QStringLiteral("IMG_%1.jpg").arg(c.orientation));
    test::writeJpeg(file, options);

    ThumbnailInfo info;
    const QImage thumb = loadThumbnail(file, kSlotSize, &info);
    EXPECT_EQ(info.orientation, c.orientation);
    const QImage full = loadFullPicture(file);
    const QSize upright = c.turned ? QSize(1200, 1600) : QSize(1600, 1200);
    EXPECT_EQ(full.size(), upright);
    EXPECT_EQ(thumb.width() > thumb.height(), !c.turned) << thumb.width() << "x" << thumb.height();
    for (const QImage& image : {thumb, full}) {
        const auto q = quarters(image);
        EXPECT_TRUE(near(q[0], c.topLeft));
        EXPECT_TRUE(near(q[1], c.topRight));
        EXPECT_TRUE(near(q[2], c.bottomLeft));
        EXPECT_TRUE(near(q[3], c.bottomRight));
    }
}

// What a viewer shows for each EXIF orientation of a stored "red green / blue yellow" picture.
INSTANTIATE_TEST_SUITE_P(AllEight, OrientationTest,
                         ::testing::Values(OrientationCase{1, kRed, kGreen, kBlue, kYellow, false},
                                           OrientationCase{2, kGreen, kRed, kYellow, kBlue, false},
                                           OrientationCase{3, kYellow, kBlue, kGreen, kRed, false},
                                           OrientationCase{4, kBlue, kYellow, kRed, kGreen, false},
                                           OrientationCase{5, kRed, kBlue, kGreen, kYellow, true},
                                           OrientationCase{6, kBlue, kRed, kYellow, kGreen, true},
                                           OrientationCase{7, kYellow, kGreen, kBlue, kRed, true},
                                           OrientationCase{8, kGreen, kYellow, kRed, kBlue, true}));

// ---- DCT scaling --------------------------------------------------------------------------------------

TEST_F(PicturesTest, ThumbnailIsTheSmallestEighthScaleThatCoversTheSlot)
{
    struct Case {
        QSize stored;
        int orientation;
        QSize expected;
        int scaleNum;
    };
    const Case cases[] = {
        {{4000, 3000}, 0, {500, 375}, 1}, // a 12-megapixel photo: 1/8
        {{1360, 1080}, 0, {170, 135}, 1}, // 1/8 exactly fills the slot
        {{1352, 1080}, 0, {338, 270}, 2}, // 1/8 would give 169 wide: one pixel short
        {{1000, 750}, 0, {250, 188}, 2},  // 1/8 = 125 x 94 is too small, 2/8 covers
        {{600, 500}, 0, {225, 188}, 3},   // 3/8
        {{100, 80}, 0, {100, 80}, 8},     // smaller than the slot: as it is, never enlarged
        {{1200, 900}, 6, {225, 300}, 2},  // portrait once turned: 1/8 gives 113 x 150, too narrow
    };
    for (const Case& c : cases) {
        JpegSpec options;
        options.width = c.stored.width();
        options.height = c.stored.height();
        options.noise = 0;
        options.orientation = c.orientation;
        const QString file = path(QStringLiteral("P%1x%2.jpg").arg(c.stored.width()).arg(c.stored.height()));
        test::writeJpeg(file, options);
        ThumbnailInfo info;
        const QImage thumb = loadThumbnail(file, kSlotSize, &info);
        EXPECT_EQ(thumb.size(), c.expected) << c.stored.width() << "x" << c.stored.height();
        EXPECT_EQ(info.scaleNum, c.scaleNum) << c.stored.width() << "x" << c.stored.height();
        EXPECT_EQ(info.source, ThumbnailSource::DecodedJpeg);
        EXPECT_EQ(info.pictureSize, c.stored);
        EXPECT_EQ(thumb.format(), QImage::Format_RGB32);
    }
}

TEST_F(PicturesTest, ProgressiveGreyscaleAndCmykPhotosDecode)
{
    JpegSpec progressive;
    progressive.width = 2000;
    progressive.height = 1500;
    progressive.progressive = true;
    progressive.colour = QColor(40, 160, 60);
    test::writeJpeg(path("prog.jpg"), progressive);
    const QImage a = loadThumbnail(path("prog.jpg"));
    EXPECT_EQ(a.size(), QSize(250, 188));
    EXPECT_TRUE(near(a.pixel(125, 94), QColor(40, 160, 60), 60));

    JpegSpec grey;
    grey.width = 800;
    grey.height = 600;
    grey.grayscale = true;
    grey.colour = QColor(120, 120, 120);
    grey.noise = 0;
    test::writeJpeg(path("grey.jpg"), grey);
    const QImage b = loadFullPicture(path("grey.jpg"));
    ASSERT_EQ(b.size(), QSize(800, 600));
    const QRgb centre = b.pixel(400, 300);
    EXPECT_EQ(qRed(centre), qGreen(centre));
    EXPECT_EQ(qGreen(centre), qBlue(centre));
    EXPECT_TRUE(near(centre, QColor(120, 120, 120), 30));

    JpegSpec cmyk;
    cmyk.width = 800;
    cmyk.height = 600;
    cmyk.adobeCmyk = true;
    cmyk.colour = QColor(30, 170, 90);
    cmyk.noise = 0;
    test::writeJpeg(path("cmyk.jpg"), cmyk);
    const QImage c = loadThumbnail(path("cmyk.jpg"));
    EXPECT_EQ(c.size(), QSize(200, 150));
    EXPECT_TRUE(near(c.pixel(100, 75), QColor(30, 170, 90), 30));
    EXPECT_TRUE(near(loadFullPicture(path("cmyk.jpg")).pixel(400, 300), QColor(30, 170, 90), 30));
}

// ---- EXIF thumbnail -----------------------------------------------------------------------------------

TEST_F(PicturesTest, EmbeddedThumbnailIsUsedOnlyWhenItsAspectMatches)
{
    const QColor photo(210, 40, 40), embedded(30, 60, 220);
    struct Case {
        QSize stored, thumbnail;
        bool used;
    };
    const Case cases[] = {
        {{1600, 1200}, {160, 120}, true},  // camera thumbnail of the photo
        {{1600, 1200}, {160, 122}, true},  // 1.7 % off: still the same picture
        {{1600, 1200}, {160, 124}, false}, // 3.2 % off
        {{1600, 900}, {160, 120}, false},  // photo cropped to 16:9, thumbnail left stale
        {{1600, 1200}, {40, 30}, false},   // far smaller than the slot
    };
    for (const Case& c : cases) {
        JpegSpec options;
        options.width = c.stored.width();
        options.height = c.stored.height();
        options.colour = photo;
        options.noise = 4;
        options.thumbnailSize = c.thumbnail;
        options.thumbnailColour = embedded;
        options.makerNoteBytes = 2000;
        const QString file = path("T.jpg");
        test::writeJpeg(file, options);
        ThumbnailInfo info;
        const QImage thumb = loadThumbnail(file, kSlotSize, &info);
        const QRgb centre = thumb.pixel(thumb.width() / 2, thumb.height() / 2);
        const QString what = QStringLiteral("%1x%2 with %3x%4")
                                 .arg(c.stored.width())
                                 .arg(c.stored.height())
                                 .arg(c.thumbnail.width())
                                 .arg(c.thumbnail.height());
        if (c.used) {
            EXPECT_EQ(info.source, ThumbnailSource::ExifThumbnail) << what.toStdString();
            EXPECT_EQ(thumb.size(), c.thumbnail) << what.toStdString();
            EXPECT_TRUE(near(centre, embedded)) << what.toStdString();
        } else {
            EXPECT_EQ(info.source, ThumbnailSource::DecodedJpeg) << what.toStdString();
            EXPECT_TRUE(near(centre, photo, 60)) << what.toStdString();
        }
    }
}

TEST_F(PicturesTest, EmbeddedThumbnailFollowsTheOrientation)
{
    JpegSpec options;
    options.width = 1600;
    options.height = 1200;
    options.orientation = 8;
    options.thumbnailSize = QSize(160, 120);
    test::writeJpeg(path("turned.jpg"), options);
    ThumbnailInfo info;
    const QImage thumb = loadThumbnail(path("turned.jpg"), kSlotSize, &info);
    EXPECT_EQ(info.source, ThumbnailSource::ExifThumbnail);
    EXPECT_EQ(thumb.size(), QSize(120, 160));
}

TEST_F(PicturesTest, TruncatedPhotoIsReportedEvenWithAnEmbeddedThumbnail)
{
    JpegSpec options;
    options.width = 1600;
    options.height = 1200;
    options.thumbnailSize = QSize(160, 120);
    const QByteArray whole = test::jpegBytes(options);
    test::writeFile(path("cut.jpg"), test::truncated(whole, whole.size() * 2 / 3));
    try {
        loadThumbnail(path("cut.jpg"));
        FAIL() << "a truncated photo was accepted";
    } catch (const Error& error) {
        EXPECT_TRUE(error.message().contains("cut.jpg")) << error.what();
        EXPECT_TRUE(error.message().contains("truncated")) << error.what();
    }
}

// ---- GIF clip cell ------------------------------------------------------------------------------------

TEST_F(PicturesTest, GifThumbnailIsTheTopLeftCellOnSilver)
{
    // 300 x 600: the top-left 100 x 100 is red with a transparent square, the rest blue.
    QImage picture(300, 600, QImage::Format_ARGB32);
    picture.fill(kBlue);
    QPainter p(&picture);
    p.fillRect(0, 0, 100, 100, kRed);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(20, 20, 10, 10, Qt::transparent);
    p.end();

    for (bool interlaced : {false, true}) {
        test::GifSpec options;
        options.interlaced = interlaced;
        const QString file = path(interlaced ? "SCAN_I.GIF" : "scan.gif");
        test::writeGif(file, picture, options);

        ThumbnailInfo info;
        const QImage cell = loadThumbnail(file, kSlotSize, &info);
        EXPECT_EQ(info.source, ThumbnailSource::GifCell);
        EXPECT_EQ(info.pictureSize, QSize(300, 600));
        ASSERT_EQ(cell.size(), QSize(100, 100));
        EXPECT_EQ(cell.pixel(50, 50), kRed.rgb());
        EXPECT_EQ(cell.pixel(99, 99), kRed.rgb());
        EXPECT_EQ(cell.pixel(0, 0), kRed.rgb());
        EXPECT_EQ(cell.pixel(25, 25), kSilver); // transparent in the GIF

        // The print page shows the GIF whole, transparent where the GIF is.
        const QImage full = loadFullPicture(file);
        ASSERT_EQ(full.size(), QSize(300, 600));
        EXPECT_EQ(full.pixel(200, 500), kBlue.rgb());
        EXPECT_EQ(full.pixel(50, 50), kRed.rgb());
        EXPECT_EQ(qAlpha(full.pixel(25, 25)), 0);
        // The clip over the whole picture gives the same cell.
        EXPECT_EQ(clipCell(full), cell);
    }
}

TEST_F(PicturesTest, GifCellSizesUseIntegerDivisionAndNeverVanish)
{
    test::writeGif(path("odd.gif"), test::noisyImage(QSize(301, 605), QColor(100, 100, 100)));
    EXPECT_EQ(loadThumbnail(path("odd.gif")).size(), QSize(100, 100));
    test::writeGif(path("tiny.gif"), test::noisyImage(QSize(2, 2), QColor(100, 100, 100)));
    EXPECT_EQ(loadThumbnail(path("tiny.gif")).size(), QSize(1, 1));
}

TEST_F(PicturesTest, GifFrameSmallerThanItsScreenLeavesSilver)
{
    QImage frame(50, 50, QImage::Format_RGB32);
    frame.fill(kGreen);
    test::GifSpec options;
    options.screenSize = QSize(300, 600);
    options.frameOffset = QPoint(60, 60);
    test::writeGif(path("offset.gif"), frame, options);
    const QImage cell = loadThumbnail(path("offset.gif"));
    ASSERT_EQ(cell.size(), QSize(100, 100));
    EXPECT_EQ(cell.pixel(10, 10), kSilver);
    EXPECT_EQ(cell.pixel(80, 80), kGreen.rgb());
    const QImage full = loadFullPicture(path("offset.gif"));
    EXPECT_EQ(full.size(), QSize(300, 600));
    EXPECT_EQ(qAlpha(full.pixel(10, 10)), 0);
    EXPECT_EQ(full.pixel(100, 100), kGreen.rgb());
}

TEST_F(PicturesTest, DecoderIsChosenByTheLastFourCharacters)
{
    EXPECT_TRUE(isGifName("c/SCAN.GIF"));
    EXPECT_TRUE(isGifName("scan.gif"));
    EXPECT_TRUE(isGifName("scan.Gif"));
    EXPECT_FALSE(isGifName("scan.gifx"));
    EXPECT_FALSE(isGifName("scanGIF"));
    EXPECT_FALSE(isGifName("photo.jpeg"));
    // Anything that is not .GIF is read as a JPEG, whatever its extension.
    JpegSpec options;
    options.width = 400;
    options.height = 300;
    test::writeJpeg(path("photo.jpeg"), options);
    test::writeJpeg(path("PHOTO.JPG"), options);
    EXPECT_EQ(loadThumbnail(path("photo.jpeg")).size(), QSize(200, 150));
    EXPECT_EQ(loadThumbnail(path("PHOTO.JPG")).size(), QSize(200, 150));
}

TEST_F(PicturesTest, WholeGifThumbnailIsReducedByAveragingOnSilver)
{
    // A document 300 x 600: red upper half, blue lower half, a transparent square at the top left.
    QImage document(300, 600, QImage::Format_ARGB32);
    document.fill(kBlue);
    QPainter p(&document);
    p.fillRect(0, 0, 300, 300, kRed);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(0, 0, 60, 60, Qt::transparent);
    p.end();
    test::GifSpec interlaced;
    interlaced.interlaced = true;
    test::writeGif(path("DOC.GIF"), document, interlaced);

    ThumbnailInfo info;
    const QImage thumb = loadThumbnail(path("DOC.GIF"), kSlotSize, &info, GifThumbnail::WholePicture);
    EXPECT_EQ(info.source, ThumbnailSource::GifWhole);
    EXPECT_EQ(info.pictureSize, QSize(300, 600));
    ASSERT_EQ(thumb.size(), QSize(170, 340)); // covers 170 x 135, proportions kept
    EXPECT_EQ(thumb.pixel(10, 10), kSilver);
    EXPECT_EQ(thumb.pixel(85, 100), kRed.rgb());
    EXPECT_EQ(thumb.pixel(85, 300), kBlue.rgb());

    // Alternate black and white columns average to grey.
    QImage stripes(340, 270, QImage::Format_RGB32);
    for (int x = 0; x < stripes.width(); ++x)
        for (int y = 0; y < stripes.height(); ++y)
            stripes.setPixel(x, y, x % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    test::writeGif(path("stripes.gif"), stripes);
    const QImage grey = loadThumbnail(path("stripes.gif"), kSlotSize, nullptr, GifThumbnail::WholePicture);
    ASSERT_EQ(grey.size(), QSize(170, 135));
    EXPECT_EQ(grey.pixel(50, 50), qRgb(128, 128, 128));

    // Smaller than the slot: as it is. A frame short of its screen leaves silver.
    QImage small(60, 40, QImage::Format_RGB32);
    small.fill(kGreen);
    test::GifSpec offset;
    offset.screenSize = QSize(100, 80);
    offset.frameOffset = QPoint(40, 40);
    test::writeGif(path("small.gif"), small, offset);
    const auto page =
        loadThumbnailPage({path("small.gif"), path("DOC.GIF")}, kSlotSize, 2, GifThumbnail::WholePicture);
    ASSERT_EQ(firstFailure(page), -1);
    ASSERT_EQ(page[0].image.size(), QSize(100, 80));
    EXPECT_EQ(page[0].image.pixel(10, 10), kSilver);
    EXPECT_EQ(page[0].image.pixel(70, 60), kGreen.rgb());
    EXPECT_EQ(page[1].image, thumb);
}
