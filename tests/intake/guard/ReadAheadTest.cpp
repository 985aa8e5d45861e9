#include "intake/guard/PrintReadAhead.h"
#include "support/TestPictures.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tevrak;
using namespace tevrak::test;
using intake::guard::PictureFacts;
using intake::guard::PrintReadAhead;

namespace {

void expectSameFacts(const PictureFacts& served, const PictureFacts& read, const QString& file)
{
    SCOPED_TRACE(file.toStdString());
    EXPECT_EQ(served.sha256, read.sha256);
    EXPECT_EQ(served.captureTime, read.captureTime);
    ASSERT_EQ(served.picture.has_value(), read.picture.has_value());
    if (read.picture) {
        EXPECT_EQ(served.picture->detail, read.picture->detail);
        EXPECT_EQ(served.picture->hashes.upright().toBytes(), read.picture->hashes.upright().toBytes());
        EXPECT_EQ(served.picture->cropped.toBytes(), read.picture->cropped.toBytes());
    }
}

// The page's files read ahead give the drop what it would have read itself, and a file that changed after
// it was read (another photo copied over it under the same name, or the same bytes written again) or that
// left the page is not served: the drop then reads it as it is now.
TEST(PrintReadAheadTest, ServesWhatTheDropWouldReadAndNeverAFileThatChangedOrLeftThePage)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QStringList page;
    for (int i = 0; i < 3; ++i) {
        JpegSpec photo;
        photo.picture = shapesPicture(QSize(800, 600), unsigned(10 + i));
        photo.dateTimeOriginal = i == 0 ? QStringLiteral("2026:11:30 08:15:00") : QString();
        page.append(folder.path() + QStringLiteral("/IMG_%1.JPG").arg(i));
        writeJpeg(page.last(), photo);
    }
    page.append(folder.path() + "/scan.gif");
    writeGif(page.last(), shapesPicture(QSize(300, 400), 3));
    page.append(folder.path() + "/damaged.jpg");
    writeFile(page.last(), truncated(jpegBytes(JpegSpec{}), 300));
    page.append(folder.path() + "/gone.jpg");

    PrintReadAhead readAhead;
    readAhead.follow(page);
    readAhead.waitUntilRead();
    for (int i = 0; i < 5; ++i) {
        const std::optional<PictureFacts> served = readAhead.take(page[i]);
        ASSERT_TRUE(served.has_value()) << page[i].toStdString();
        expectSameFacts(*served, intake::guard::readPictureFacts(page[i]), page[i]);
    }
    EXPECT_TRUE(readAhead.take(page[0]).has_value()) << "a picture answered No to can be dragged again";
    EXPECT_FALSE(readAhead.take(page[5]).has_value()) << "a file that cannot be read is the drop's to report";
    EXPECT_FALSE(readAhead.take(folder.path() + "/never-shown.jpg").has_value());

    writeFile(page[1], readFile(page[2]));
    EXPECT_FALSE(readAhead.take(page[1]).has_value()) << "another photo under the same name";
    writeFile(page[2], readFile(page[2]));
    EXPECT_FALSE(readAhead.take(page[2]).has_value()) << "written again: its bytes are not known without reading";

    readAhead.follow({page[1], page[3]});
    readAhead.waitUntilRead();
    EXPECT_FALSE(readAhead.take(page[0]).has_value()) << "a picture no longer shown is forgotten";
    const std::optional<PictureFacts> again = readAhead.take(page[1]);
    ASSERT_TRUE(again.has_value()) << "a changed file shown again is read again";
    expectSameFacts(*again, intake::guard::readPictureFacts(page[2]), page[1]);
}

} // namespace
