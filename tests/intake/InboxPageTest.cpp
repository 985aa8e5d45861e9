#include "IntakeFixture.h"

#include "imaging/Pictures.h"

using namespace tevrak;
using namespace tevrak::test;

namespace {

class InboxPageTest : public IntakeFixture {
protected:
    void addPhotos(int count)
    {
        for (int i = 0; i < count; ++i)
            addJpeg(QStringLiteral("P%1.jpg").arg(i, 2, 10, QLatin1Char('0')));
    }
    static QString photo(int i) { return QStringLiteral("P%1.jpg").arg(i, 2, 10, QLatin1Char('0')); }
    bool nextEnabled() const { return page->BitBtn2->isEnabled(); }
};

}  // namespace

TEST_F(InboxPageTest, EmptyInboxShowsNoSlotAndNextGivesAnEmptyPageThenDisablesItself)
{
    openTab();
    EXPECT_EQ(shownNames(), QStringList(9, QString()));
    EXPECT_TRUE(nextEnabled());
    next();
    EXPECT_EQ(shownNames(), QStringList(9, QString()));
    EXPECT_FALSE(nextEnabled());
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(InboxPageTest, FivePhotosFillFiveSlotsAndNextEmptiesThePage)
{
    addPhotos(5);
    openTab();
    EXPECT_EQ(shownNames(), QStringList({photo(0), photo(1), photo(2), photo(3), photo(4), "", "", "", ""}));
    EXPECT_TRUE(nextEnabled());
    next();
    EXPECT_EQ(shownNames(), QStringList(9, QString()));
    EXPECT_FALSE(nextEnabled());
}

TEST_F(InboxPageTest, NinePhotosAndEighteenPhotosPageAsFarAsTheyReach)
{
    // Exactly nine: a full first page; Next gives an empty page and disables itself.
    addPhotos(9);
    openTab();
    EXPECT_EQ(shownNames(), QStringList({photo(0), photo(1), photo(2), photo(3), photo(4), photo(5), photo(6),
                                         photo(7), photo(8)}));
    EXPECT_TRUE(nextEnabled());
    next();
    EXPECT_EQ(shownNames(), QStringList(9, QString()));
    EXPECT_FALSE(nextEnabled());

    addPhotos(18);
    openTab();
    EXPECT_EQ(shownNames().last(), photo(8));
    next();
    EXPECT_EQ(shownNames().first(), photo(9));
    EXPECT_EQ(shownNames().last(), photo(17));
    EXPECT_TRUE(nextEnabled()) << "slot 9 is shown, so Next stays enabled";
    EXPECT_EQ(values.PageOffset, 9);
    next();
    EXPECT_EQ(shownNames(), QStringList(9, QString()));
    EXPECT_FALSE(nextEnabled());
    refresh();  // Refresh returns to the first page and enables Next
    EXPECT_EQ(shownNames().first(), photo(0));
    EXPECT_TRUE(nextEnabled());
    EXPECT_EQ(values.PageOffset, 0);
}

TEST_F(InboxPageTest, NamesAreOrderedWithoutRegardToCaseAcrossJpegAndGif)
{
    addJpeg("b.JPG");
    addJpeg("c.jpg");
    writeGif(inbox() + "/A.gif", noisyImage(QSize(30, 60), Qt::green));
    openTab();
    EXPECT_EQ(shownNames().mid(0, 3), QStringList({"A.gif", "b.JPG", "c.jpg"}));
}

TEST_F(InboxPageTest, GifThumbnailIsTheTopLeftCellOfTheClip)
{
    QImage gif(300, 600, QImage::Format_RGB32);
    gif.fill(Qt::blue);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            gif.setPixel(x, y, qRgb(255, 0, 0));
    writeGif(inbox() + "/SCAN.gif", gif);
    openTab();
    const QImage thumbnail = page->thumbnailSlots()[0].image->picture();
    EXPECT_EQ(thumbnail.size(), QSize(100, 100));
    EXPECT_EQ(thumbnail.pixel(50, 50), qRgb(255, 0, 0));
    EXPECT_EQ(thumbnail.pixel(99, 99), qRgb(255, 0, 0));
}

TEST_F(InboxPageTest, AFileCopiedInAfterwardsAppearsOnlyAfterRefresh)
{
    addPhotos(2);
    openTab();
    addJpeg("P00a.jpg");
    next();
    buildFirstPage();
    EXPECT_FALSE(shownNames().contains("P00a.jpg"));
    refresh();
    EXPECT_EQ(shownNames().mid(0, 3), QStringList({photo(0), "P00a.jpg", photo(1)}));
}

TEST_F(InboxPageTest, ABrokenPictureStopsThePageWithTheErrorBoxButPagingGoesOn)
{
    addPhotos(12);
    writeFile(inbox() + "/P04.jpg", textFile());
    openTab();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.last().text.contains("P04.jpg")) << dialogs.last().text.toStdString();
    EXPECT_EQ(dialogs.last().icon, platform::MessageIcon::Error);
    EXPECT_EQ(shownNames(), QStringList({photo(0), photo(1), photo(2), photo(3), "", "", "", "", ""}));
    // The page state is that of a complete build: Next shows entries 9 to 11.
    EXPECT_EQ(values.PageOffset, 0);
    EXPECT_TRUE(nextEnabled());
    next();
    EXPECT_EQ(shownNames().mid(0, 4), QStringList({photo(9), photo(10), photo(11), ""}));
}

TEST_F(InboxPageTest, OversizedHeadersAreRefusedWithAMessage)
{
    writeFile(inbox() + "/huge.jpg", jpegDeclaring(60000, 60000));
    writeFile(inbox() + "/huge2.gif", gifDeclaring(60000, 60000));
    openTab();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.last().text.contains("huge.jpg"));
    page->inboxList().removeFirst();
    buildFirstPage();
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_TRUE(dialogs.last().text.contains("huge2.gif"));
}
