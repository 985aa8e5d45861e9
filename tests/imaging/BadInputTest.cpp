#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <functional>

#include "imaging/PageLoader.h"
#include "imaging/Pictures.h"
#include "platform/core/Error.h"
#include "support/TestPictures.h"

using namespace tevrak;
using namespace tevrak::imaging;
using tevrak::test::JpegSpec;

namespace {

class BadInputTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }

    // Both loaders refuse the file with an Error naming it and giving the expected reason.
    void expectRefused(const QString& name, const char* reason)
    {
        using Loader = std::function<QImage(const QString&)>;
        const std::pair<const char*, Loader> loaders[] = {
            {"thumbnail", [](const QString& f) { return loadThumbnail(f); }},
            {"full picture", [](const QString& f) { return loadFullPicture(f); }},
        };
        for (const auto& [what, load] : loaders) {
            try {
                const QImage image = load(path(name));
                ADD_FAILURE() << what << " of " << name.toStdString() << " was accepted (" << image.width()
                              << "x" << image.height() << ")";
            } catch (const Error& error) {
                EXPECT_TRUE(error.message().contains(name)) << what << ": " << error.what();
                EXPECT_TRUE(error.message().contains(QLatin1String(reason))) << what << ": " << error.what();
            }
        }
    }
};

} // namespace

TEST_F(BadInputTest, MissingEmptyAndFolderAreRefused)
{
    expectRefused("absent.jpg", "does not exist");
    expectRefused("absent.gif", "does not exist");
    test::writeFile(path("empty.jpg"), {});
    expectRefused("empty.jpg", "empty");
    test::writeFile(path("EMPTY.GIF"), {});
    expectRefused("EMPTY.GIF", "empty");
    QDir(dir.path()).mkdir("folder.jpg");
    expectRefused("folder.jpg", "folder");
}

TEST_F(BadInputTest, TruncatedPicturesAreRefused)
{
    JpegSpec options;
    options.width = 900;
    options.height = 700;
    const QByteArray jpeg = test::jpegBytes(options);
    test::writeFile(path("half.jpg"), test::truncated(jpeg, jpeg.size() / 2));
    expectRefused("half.jpg", "truncated");
    test::writeFile(path("header-only.jpg"), test::truncated(jpeg, 300));
    expectRefused("header-only.jpg", "truncated");
    // Progressive data is read whole before the first row comes out.
    options.progressive = true;
    const QByteArray progressive = test::jpegBytes(options);
    test::writeFile(path("prog.jpg"), test::truncated(progressive, progressive.size() * 9 / 10));
    expectRefused("prog.jpg", "truncated");

    const QByteArray gif = test::gifBytes(test::noisyImage(QSize(300, 600), QColor(80, 80, 80)));
    test::writeFile(path("cut.gif"), test::truncated(gif, gif.size() * 9 / 10));
    expectRefused("cut.gif", "truncated"); // even though its top-left cell is all there
    test::writeFile(path("stub.gif"), test::truncated(gif, 10));
    expectRefused("stub.gif", "truncated");
}

TEST_F(BadInputTest, MisnamedFilesSayWhatTheyHold)
{
    test::writeFile(path("x.jpg"), test::textFile());
    expectRefused("x.jpg", "not a JPEG picture (the file holds text)");
    test::writeGif(path("scan.jpg"), test::noisyImage(QSize(30, 30), QColor(10, 200, 10)));
    expectRefused("scan.jpg", "not a JPEG picture (the file holds a GIF picture)");
    JpegSpec options;
    test::writeJpeg(path("photo.gif"), options);
    expectRefused("photo.gif", "not a GIF picture (the file holds a JPEG picture)");
    test::writeFile(path("notes.gif"), test::textFile());
    expectRefused("notes.gif", "not a GIF picture");
}

TEST_F(BadInputTest, DamagedDataIsRefused)
{
    // A GIF whose header has lost its signature.
    QByteArray gif = test::gifBytes(test::noisyImage(QSize(40, 40), QColor(90, 90, 90)));
    gif[1] = 'X';
    test::writeFile(path("damaged.gif"), gif);
    expectRefused("damaged.gif", "not a GIF picture (its header is damaged)");

    // A GIF whose first record is neither an image nor an extension.
    QByteArray wrong = test::gifBytes(test::noisyImage(QSize(40, 40), QColor(90, 90, 90)));
    wrong[13 + 256 * 3] = '\x77';
    test::writeFile(path("wrong.gif"), wrong);
    expectRefused("wrong.gif", "damaged");

    // A JPEG whose frame header is broken.
    QByteArray jpeg = test::jpegBytes(JpegSpec{});
    const qsizetype sof = jpeg.indexOf(QByteArray("\xFF\xC0", 2));
    ASSERT_GT(sof, 0);
    jpeg[sof + 4] = 3; // 3-bit samples
    test::writeFile(path("sof.jpg"), jpeg);
    expectRefused("sof.jpg", "damaged");

    // Random bytes after the start marker.
    QByteArray noise("\xFF\xD8\xFF", 3);
    for (int i = 0; i < 2000; ++i)
        noise.append(char((i * 131 + 7) % 251));
    test::writeFile(path("noise.jpg"), noise);
    EXPECT_ANY_THROW(loadThumbnail(path("noise.jpg")));
}

TEST_F(BadInputTest, EnormousHeadersAreRefusedBeforeAnyPixelMemory)
{
    test::writeFile(path("huge.jpg"), test::jpegDeclaring(60000, 60000));
    expectRefused("huge.jpg", "declares 60000 x 60000 pixels");
    test::writeFile(path("huge.gif"), test::gifDeclaring(60000, 60000));
    expectRefused("huge.gif", "declares 60000 x 60000 pixels");
    // Narrow but too long on one side, and too many pixels in total.
    test::writeFile(path("strip.jpg"), test::jpegDeclaring(40000, 100));
    expectRefused("strip.jpg", "declares 40000 x 100 pixels");
    test::writeFile(path("big.gif"), test::gifDeclaring(20000, 20000));
    expectRefused("big.gif", "declares 20000 x 20000 pixels");
    // A GIF whose screen is modest but whose frame claims the whole range.
    test::GifSpec options;
    options.screenSize = QSize(100, 100);
    options.declaredFrameSize = QSize(65535, 65535);
    test::writeGif(path("frame.gif"), test::noisyImage(QSize(8, 8), QColor(1, 2, 3)), options);
    expectRefused("frame.gif", "declares 65535 x 65535 pixels");
}

TEST_F(BadInputTest, HarmlessJunkInARealPhotoIsAccepted)
{
    // Bytes between the end marker and the end of file (phones append data there) and a missing end
    // marker after complete picture data both still give the photo.
    JpegSpec options;
    options.width = 800;
    options.height = 600;
    QByteArray jpeg = test::jpegBytes(options);
    test::writeFile(path("trailer.jpg"), jpeg + QByteArray(5000, 'M'));
    EXPECT_EQ(loadThumbnail(path("trailer.jpg")).size(), QSize(200, 150));
    test::writeFile(path("noeoi.jpg"), jpeg.left(jpeg.size() - 2));
    EXPECT_EQ(loadFullPicture(path("noeoi.jpg")).size(), QSize(800, 600));
}

// ---- page loader --------------------------------------------------------------------------------------

TEST_F(BadInputTest, PageKeepsTheOrderAndReportsTheFirstFailure)
{
    // Nine photos of different widths, so each result can be matched to its file; the fourth is damaged.
    QStringList files;
    for (int i = 0; i < 9; ++i) {
        const QString name = path(QStringLiteral("IMG_%1.jpg").arg(i));
        JpegSpec options;
        options.width = 1360 + 80 * i; // 1/8 scale: 170 + 10 i wide
        options.height = 1080;
        options.seed = unsigned(i + 1);
        test::writeJpeg(name, options);
        files << name;
    }
    for (int threads : {1, 2, 4}) {
        const auto page = loadThumbnailPage(files, kSlotSize, threads);
        ASSERT_EQ(page.size(), 9u);
        EXPECT_EQ(firstFailure(page), -1);
        for (int i = 0; i < 9; ++i)
            EXPECT_EQ(page[size_t(i)].image.size(), QSize(170 + 10 * i, 135)) << "threads " << threads;
    }

    test::writeFile(files[3], test::textFile());
    for (int threads : {1, 2, 4}) {
        const auto page = loadThumbnailPage(files, kSlotSize, threads);
        ASSERT_EQ(page.size(), 9u);
        EXPECT_EQ(firstFailure(page), 3) << "threads " << threads;
        for (int i = 0; i < 3; ++i) {
            EXPECT_TRUE(page[size_t(i)].loaded());
            EXPECT_EQ(page[size_t(i)].image.size(), QSize(170 + 10 * i, 135));
        }
        EXPECT_EQ(page[3].state, PageThumbnail::State::Failed);
        EXPECT_TRUE(page[3].error.contains("IMG_3.jpg")) << page[3].error.toStdString();
        EXPECT_TRUE(page[3].image.isNull());
        for (int i = 4; i < 9; ++i) {
            if (threads == 1) {
                EXPECT_EQ(page[size_t(i)].state, PageThumbnail::State::Skipped);
            } else if (page[size_t(i)].loaded()) { // started before the failure was known
                EXPECT_EQ(page[size_t(i)].image.size(), QSize(170 + 10 * i, 135));
            }
        }
    }
    EXPECT_TRUE(loadThumbnailPage({}, kSlotSize).empty());
}

TEST_F(BadInputTest, DecodersServeGoodPicturesAfterEveryKindOfFailure)
{
    JpegSpec good;
    good.width = 1600;
    good.height = 1200;
    good.colour = QColor(40, 150, 210);
    good.noise = 6;
    test::writeJpeg(path("good.jpg"), good);
    JpegSpec progressive = good;
    progressive.progressive = true;
    const QByteArray prog = test::jpegBytes(progressive);
    const QByteArray plain = test::jpegBytes(good);
    test::writeFile(path("a.jpg"), test::truncated(prog, prog.size() / 3));
    test::writeFile(path("b.jpg"), test::truncated(plain, plain.size() / 2));
    test::writeFile(path("c.jpg"), test::jpegDeclaring(60000, 60000));
    test::writeFile(path("d.jpg"), test::textFile());
    QByteArray broken = plain;
    broken[broken.indexOf(QByteArray("\xFF\xC4", 2)) + 4] = char(0xFF); // a Huffman table with bad counts
    test::writeFile(path("e.jpg"), broken);

    // One thread, so the same pooled decoder meets every failure before the good photo.
    for (const char* bad : {"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg"}) {
        EXPECT_THROW(loadThumbnail(path(bad)), Error) << bad;
        const QImage thumb = loadThumbnail(path("good.jpg"));
        EXPECT_EQ(thumb.size(), QSize(200, 150)) << "after " << bad;
        const QRgb c = thumb.pixel(100, 75);
        EXPECT_LE(std::abs(qRed(c) - 40) + std::abs(qGreen(c) - 150) + std::abs(qBlue(c) - 210), 40)
            << "after " << bad;
        EXPECT_THROW(loadFullPicture(path(bad)), Error) << bad;
        EXPECT_EQ(loadFullPicture(path("good.jpg")).size(), QSize(1600, 1200)) << "after " << bad;
    }
}

TEST_F(BadInputTest, ParallelPagesGiveTheSameThumbnailsAsOneByOne)
{
    // A mixed page: photos of several kinds and GIFs, loaded repeatedly on four threads.
    QStringList files;
    for (int i = 0; i < 9; ++i) {
        if (i % 3 == 2) {
            const QString name = path(QStringLiteral("SCAN_%1.GIF").arg(i));
            test::writeGif(name,
                           test::noisyImage(QSize(240 + 3 * i, 480), QColor(20 * i, 90, 90), 30, i + 1));
            files << name;
            continue;
        }
        JpegSpec options;
        options.width = 1200 + 16 * i;
        options.height = 900;
        options.seed = unsigned(i + 3);
        options.progressive = i % 3 == 1;
        options.orientation = i % 2 ? 6 : 1;
        if (i == 4)
            options.thumbnailSize = QSize(160, 120);
        const QString name = path(QStringLiteral("IMG_%1.jpg").arg(i));
        test::writeJpeg(name, options);
        files << name;
    }
    std::vector<QImage> expected;
    for (const QString& file : files)
        expected.push_back(loadThumbnail(file));
    for (int round = 0; round < 5; ++round) {
        const auto page = loadThumbnailPage(files, kSlotSize, 4);
        ASSERT_EQ(firstFailure(page), -1);
        for (size_t i = 0; i < page.size(); ++i)
            EXPECT_TRUE(page[i].image == expected[i]) << "file " << i << " round " << round;
    }
}
