#include "archive/ArchivePage.h"
#include "platform/widgets/Controls.h"
#include "support/RecordingDialogs.h"
#include "support/TestEnvironment.h"
#include "support/TestPictures.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollArea>
#include <gtest/gtest.h>
#include <memory>

namespace tevrak::test {
namespace {

const QString notFound = QStringLiteral("ไม่พบเลขรับแจ้งที่ต้องการ");

class ArchivePageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir(root()).removeRecursively();
        QDir().mkpath(root() + "/picture/transfer");
        tab = std::make_unique<QWidget>();
        tab->resize(800, 540);
        page = new archive::ArchivePage(tab.get());
        tab->show();
    }

    static QString root() { return QString::fromStdString(driveCFolder()); }
    static QString folder(const QString& name) { return root() + "/picture/" + name; }

    static void addJpeg(const QString& folderName, const QString& name, QColor colour = QColor(200, 60, 40))
    {
        JpegSpec photo;
        photo.width = 64;
        photo.height = 48;
        photo.colour = colour;
        writeJpeg(folder(folderName) + "/" + name, photo);
    }

    // A claim folder of `count` photos named as filing names them.
    static void addClaim(const QString& claim, int count)
    {
        QDir().mkpath(folder(claim));
        for (int k = 1; k <= count; ++k)
            addJpeg(claim, QStringLiteral("%1%2.jpg").arg(claim).arg(k, 3, 10, QLatin1Char('0')));
    }

    // Names shown in Image12 to Image20 (empty for a hidden slot).
    QStringList shown() const
    {
        QStringList names;
        for (const auto& slot : page->pictureSlots()) {
            const bool visible = slot.image->isVisibleTo(tab.get());
            EXPECT_EQ(visible, slot.caption->isVisibleTo(tab.get()))
                << slot.caption->objectName().toStdString();
            names.append(visible ? slot.caption->text() : QString());
        }
        return names;
    }
    int shownCount() const { return static_cast<int>(shown().size() - shown().count(QString())); }

    // Names 1..n of a claim followed by empty slots, for comparing a page.
    static QStringList expectedPage(const QString& claim, int from, int count)
    {
        QStringList names;
        for (int k = 0; k < 9; ++k)
            names.append(k < count
                             ? QStringLiteral("%1%2.jpg").arg(claim).arg(from + k, 3, 10, QLatin1Char('0'))
                             : QString());
        return names;
    }

    bool previousOn() const { return page->BitBtn7->isEnabled(); }
    bool nextOn() const { return page->BitBtn8->isEnabled(); }

    void choose(const QString& name)
    {
        const auto items = page->ListBox2->findItems(name, Qt::MatchExactly);
        ASSERT_EQ(items.size(), 1) << name.toStdString();
        page->ListBox2->setCurrentItem(items.first()); // as the arrow keys do
    }

    // A real click on a list row (press and release on the list's viewport).
    void clickRow(int row)
    {
        QListWidget* list = page->ListBox2;
        const QPoint at = list->visualItemRect(list->item(row)).center();
        QMouseEvent press(QEvent::MouseButtonPress, at, list->viewport()->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list->viewport(), &press);
        QMouseEvent release(QEvent::MouseButtonRelease, at, list->viewport()->mapToGlobal(at), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(list->viewport(), &release);
    }

    static void doubleClick(QWidget* widget)
    {
        const QPoint at(5, 5);
        QMouseEvent event(QEvent::MouseButtonDblClick, at, widget->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(widget, &event);
    }

    RecordingDialogs dialogs;
    std::unique_ptr<QWidget> tab;
    archive::ArchivePage* page = nullptr;
};

TEST_F(ArchivePageTest, ShowingTheTabListsEveryClaimFolderAndTheOutboxAndResetsTheDisplay)
{
    addClaim("b2345678", 1);
    addClaim("A2345678", 10);
    QDir().mkpath(folder(".thumbnails"));
    writeFile(folder("loose.jpg"), jpegBytes({}));
    page->Edit6->blockSignals(true);
    page->Edit6->setText("1234");
    page->Edit6->blockSignals(false);

    page->TabSheet2Show();
    QStringList listed;
    for (int row = 0; row < page->ListBox2->count(); ++row)
        listed.append(page->ListBox2->item(row)->text());
    EXPECT_EQ(listed, (QStringList{"A2345678", "b2345678", "transfer"}));
    EXPECT_EQ(page->ListBox2->currentRow(), -1);
    EXPECT_EQ(page->currentFolder(), "c:\\picture");
    EXPECT_EQ(page->Edit6->text(), "1234");
    EXPECT_FALSE(previousOn());
    EXPECT_FALSE(nextOn());

    // Browse to page 1, leave and come back: the display and buttons reset,
    // the list is read afresh.
    choose("A2345678");
    page->BitBtn8Click();
    ASSERT_EQ(shownCount(), 1);
    addClaim("c2345678", 1);
    page->TabSheet2Show();
    EXPECT_EQ(shownCount(), 0);
    EXPECT_FALSE(previousOn());
    EXPECT_FALSE(nextOn());
    EXPECT_EQ(page->ListBox2->count(), 4);
    EXPECT_EQ(page->paging().pageNumber(), 1); // kept, but nothing can page from it
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(ArchivePageTest, EmptyFiveAndNineFileFolders)
{
    QDir().mkpath(folder("00000000"));
    addClaim("55555555", 5);
    addClaim("99999999", 9);
    page->TabSheet2Show();

    choose("00000000");
    EXPECT_EQ(shownCount(), 0);
    EXPECT_FALSE(previousOn());
    EXPECT_FALSE(nextOn());

    choose("55555555");
    EXPECT_EQ(shown(), expectedPage("55555555", 1, 5));
    EXPECT_FALSE(previousOn());
    EXPECT_FALSE(nextOn());

    choose("99999999");
    EXPECT_EQ(shown(), expectedPage("99999999", 1, 9));
    EXPECT_FALSE(previousOn());
    EXPECT_TRUE(nextOn());
    page->BitBtn8->click();
    EXPECT_EQ(shownCount(), 0);
    EXPECT_TRUE(previousOn());
    EXPECT_FALSE(nextOn());
    page->BitBtn7->click();
    EXPECT_EQ(shown(), expectedPage("99999999", 1, 9));
    EXPECT_FALSE(previousOn());
    EXPECT_TRUE(nextOn());
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(ArchivePageTest, TwentyFilesAndASecondFolderOpenedFromPageTwo)
{
    addClaim("20202020", 20);
    addClaim("30303030", 3);
    page->TabSheet2Show();
    choose("20202020");
    EXPECT_EQ(shown(), expectedPage("20202020", 1, 9));
    page->BitBtn8->click();
    EXPECT_EQ(shown(), expectedPage("20202020", 10, 9));
    EXPECT_TRUE(previousOn());
    EXPECT_TRUE(nextOn());
    page->BitBtn8->click();
    EXPECT_EQ(shown(), expectedPage("20202020", 19, 2));
    EXPECT_TRUE(previousOn());
    EXPECT_FALSE(nextOn());
    EXPECT_EQ(page->picturePath(page->pictureSlots()[1].caption), "c:\\picture\\20202020\\20202020020.jpg");

    choose("30303030");
    EXPECT_EQ(page->paging().pageNumber(), 0);
    EXPECT_EQ(shown(), expectedPage("30303030", 1, 3));
    EXPECT_FALSE(previousOn());
    EXPECT_FALSE(nextOn());

    // Clicking the folder already chosen opens it again at page 0.
    clickRow(0);
    EXPECT_EQ(page->currentFolder(), "c:\\picture\\20202020");
    page->BitBtn8->click();
    ASSERT_EQ(page->paging().pageNumber(), 1);
    clickRow(0);
    EXPECT_EQ(page->paging().pageNumber(), 0);
    EXPECT_EQ(shown(), expectedPage("20202020", 1, 9));
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(ArchivePageTest, TheFileListTakesEveryOrdinaryFileSortedIgnoringCase)
{
    QDir().mkpath(folder("12345678/sub"));
    addJpeg("12345678", "b.JPG");
    addJpeg("12345678", "A.jpeg");
    addJpeg("12345678", "c.jpg");
    addJpeg("12345678", ".hidden.jpg");
    writeGif(folder("12345678") + "/D.GIF", noisyImage({30, 60}, Qt::blue));
    writeFile(folder("12345678") + "/e.txt", textFile());
    writeFile(folder("12345678") + "/F", textFile());
    page->TabSheet2Show();
    choose("12345678");
    EXPECT_EQ(page->fileList(), (QStringList{"A.jpeg", "b.JPG", "c.jpg", "D.GIF", "e.txt", "F"}));
    // The text file stops the page at its slot with the loader's message.
    EXPECT_EQ(shown(), (QStringList{"A.jpeg", "b.JPG", "c.jpg", "D.GIF", "", "", "", "", ""}));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.last().icon, platform::MessageIcon::Error);
    EXPECT_TRUE(dialogs.last().text.contains("e.txt")) << dialogs.last().text.toStdString();
}

TEST_F(ArchivePageTest, TypingAClaimNumberOpensItsFolderAtTheEighthCharacter)
{
    addClaim("12345678", 12);
    addClaim("87654321", 2);
    page->TabSheet2Show();
    choose("87654321");
    const int listRow = page->ListBox2->currentRow();

    page->Edit6->setText("1234567");
    EXPECT_EQ(page->currentFolder(), "c:\\picture\\87654321");
    EXPECT_EQ(shown(), expectedPage("87654321", 1, 2));
    page->Edit6->setText("12345678");
    EXPECT_EQ(page->currentFolder(), "c:\\picture\\12345678");
    EXPECT_EQ(shown(), expectedPage("12345678", 1, 9));
    EXPECT_FALSE(previousOn());
    EXPECT_TRUE(nextOn());
    EXPECT_EQ(page->ListBox2->currentRow(), listRow);
    EXPECT_TRUE(dialogs.messages.empty());

    // A claim folder is found whatever the case of the letters typed.
    addClaim("AB123456", 1);
    page->Edit6->setText("ab123456");
    EXPECT_EQ(shownCount(), 1);
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(ArchivePageTest, AClaimNumberWithoutAFolderIsNotFoundAndOnlyClearsTheDisplay)
{
    addClaim("12345678", 12);
    page->TabSheet2Show();
    choose("12345678");
    page->BitBtn8->click();
    ASSERT_EQ(shownCount(), 3);

    page->Edit6->setText("99999999");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.last().text, notFound);
    EXPECT_EQ(dialogs.last().icon, platform::MessageIcon::None);
    EXPECT_EQ(shownCount(), 0);
    EXPECT_EQ(page->currentFolder(), "c:\\picture\\12345678");
    EXPECT_EQ(page->paging().pageNumber(), 1);
    EXPECT_TRUE(previousOn());
    EXPECT_FALSE(nextOn());

    // Texts that would lead out of c:\picture name no claim, even where such
    // a folder exists; a file of that name is no folder either.
    QDir().mkpath(root() + "/claim/db");
    page->Edit6->setText("..\\claim");
    writeFile(folder("11111111"), textFile());
    page->Edit6->setText("11111111");
    EXPECT_EQ(dialogs.texts(), (QStringList{notFound, notFound, notFound}));
    EXPECT_EQ(page->currentFolder(), "c:\\picture\\12345678");

    // Paging carries on where it was.
    page->BitBtn7->click();
    EXPECT_EQ(shown(), expectedPage("12345678", 1, 9));
}

TEST_F(ArchivePageTest, AFolderRemovedAfterListingFailsToOpenAndChangesNothing)
{
    addClaim("12345678", 3);
    addClaim("87654321", 2);
    page->TabSheet2Show();
    choose("12345678");
    ASSERT_EQ(shownCount(), 3);
    QDir(folder("87654321")).removeRecursively();

    choose("87654321");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.last().icon, platform::MessageIcon::Error);
    EXPECT_TRUE(dialogs.last().text.contains("87654321")) << dialogs.last().text.toStdString();
    EXPECT_EQ(page->currentFolder(), "c:\\picture\\12345678");
    EXPECT_EQ(page->fileList().size(), 3);
    EXPECT_EQ(shown(), expectedPage("12345678", 1, 3));
}

TEST_F(ArchivePageTest, APictureThatCannotBeShownStopsThePageButLeavesTheLaterPagesReachable)
{
    addClaim("12345678", 12);
    // The third photo is damaged, the tenth is an enormous header.
    writeFile(folder("12345678") + "/12345678003.jpg", truncated(jpegBytes({}), 300));
    writeFile(folder("12345678") + "/12345678010.jpg", jpegDeclaring(60000, 60000));
    page->TabSheet2Show();
    choose("12345678");
    EXPECT_EQ(shown(), expectedPage("12345678", 1, 2));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.last().text.contains("12345678003.jpg")) << dialogs.last().text.toStdString();
    EXPECT_FALSE(previousOn());
    EXPECT_TRUE(nextOn());

    page->BitBtn8->click();
    EXPECT_EQ(shownCount(), 0);
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_TRUE(dialogs.last().text.contains("12345678010.jpg")) << dialogs.last().text.toStdString();
    EXPECT_TRUE(previousOn());
    EXPECT_FALSE(nextOn());

    // A photo removed after the folder was opened fails at its slot too.
    page->BitBtn7->click();
    QFile::remove(folder("12345678") + "/12345678002.jpg");
    page->BitBtn8->click();
    page->BitBtn7->click();
    EXPECT_EQ(shown(), expectedPage("12345678", 1, 1));
    EXPECT_TRUE(dialogs.last().text.contains("12345678002.jpg")) << dialogs.last().text.toStdString();
    // A scanned document broken off in its lower part: the slot shows the
    // whole document, so the damage is found and reported.
    const QByteArray gif = gifBytes(noisyImage({300, 600}, Qt::darkGreen));
    writeFile(folder("12345678") + "/12345678000.gif", truncated(gif, gif.size() * 3 / 5));
    choose("transfer");
    choose("12345678");
    EXPECT_EQ(shownCount(), 0);
    EXPECT_TRUE(dialogs.last().text.contains("12345678000.gif")) << dialogs.last().text.toStdString();
}

TEST_F(ArchivePageTest, AGifDocumentIsShownWholeNotCutToTheClipCell)
{
    // Top sixth red, the rest blue: the inbox's clip cell would be all red.
    QImage document(300, 600, QImage::Format_RGB32);
    document.fill(Qt::blue);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 300; ++x)
            document.setPixel(x, y, qRgb(255, 0, 0));
    QDir().mkpath(folder("12345678"));
    writeGif(folder("12345678") + "/12345678800.gif", document);
    page->TabSheet2Show();
    choose("12345678");
    ASSERT_EQ(shownCount(), 1);
    const QImage thumbnail = page->pictureSlots()[0].image->picture();
    ASSERT_FALSE(thumbnail.isNull());
    const QColor top = thumbnail.pixelColor(thumbnail.width() / 2, 2);
    const QColor bottom = thumbnail.pixelColor(thumbnail.width() / 2, thumbnail.height() - 3);
    EXPECT_GT(top.red(), 200);
    EXPECT_LT(top.blue(), 60);
    EXPECT_GT(bottom.blue(), 200);
    EXPECT_LT(bottom.red(), 60);
}

TEST_F(ArchivePageTest, PhotosAreShownUprightFromAReducedDecode)
{
    QDir().mkpath(folder("12345678"));
    // A portrait phone shot stored sideways with its EXIF orientation.
    JpegSpec sideways;
    sideways.width = 80;
    sideways.height = 60;
    sideways.orientation = 6;
    writeJpeg(folder("12345678") + "/12345678001.jpg", sideways);
    // A large photo is decoded at a reduced scale, never at full size.
    JpegSpec large;
    large.width = 2400;
    large.height = 1800;
    large.noise = 0;
    writeJpeg(folder("12345678") + "/12345678002.jpg", large);
    page->TabSheet2Show();
    choose("12345678");
    ASSERT_EQ(shownCount(), 2);
    const QImage upright = page->pictureSlots()[0].image->picture();
    EXPECT_EQ(upright.size(), QSize(60, 80));
    const QImage reduced = page->pictureSlots()[1].image->picture();
    EXPECT_LE(reduced.width(), 600);
    EXPECT_GE(reduced.width(), 170);
    EXPECT_GE(reduced.height(), 135);
}

TEST_F(ArchivePageTest, APhotoOrItsCaptionDoubleClickedAsksForTheZoomOfThatPicture)
{
    addClaim("transfer", 0);
    addJpeg("transfer", "12345678001.jpg");
    addJpeg("transfer", "12345678002.jpg");
    page->TabSheet2Show();
    choose("transfer");
    ASSERT_EQ(shownCount(), 2);
    std::vector<platform::PanelControl*> asked;
    QObject::connect(page, &archive::ArchivePage::zoomRequested,
                     [&](platform::PanelControl* caption) { asked.push_back(caption); });
    const auto& archiveSlots = page->pictureSlots();
    doubleClick(archiveSlots[1].image);
    doubleClick(archiveSlots[0].caption);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0], archiveSlots[1].caption);
    EXPECT_EQ(asked[1], archiveSlots[0].caption);
    EXPECT_EQ(page->picturePath(asked[0]), "c:\\picture\\transfer\\12345678002.jpg");
}

TEST_F(ArchivePageTest, ControlsCarryTheirNamesAndCaptions)
{
    for (const char* name : {"Panel25", "ListBox2", "Panel27", "Edit6", "BitBtn7", "BitBtn8", "ScrollBox2"})
        EXPECT_NE(tab->findChild<QWidget*>(name), nullptr) << name;
    for (int k = 12; k <= 20; ++k)
        EXPECT_NE(tab->findChild<platform::ImageControl*>(QString("Image%1").arg(k)), nullptr) << k;
    for (int k = 16; k <= 24; ++k)
        EXPECT_NE(tab->findChild<platform::PanelControl*>(QString("Panel%1").arg(k)), nullptr) << k;
    EXPECT_EQ(page->Panel25->text(), "เลขรับแจ้งเก่า");
    EXPECT_EQ(page->Panel27->text(), "เลขรับแจ้ง");
    EXPECT_EQ(page->BitBtn7->text(), "Prevoius");
    EXPECT_EQ(page->BitBtn8->text(), "Next");
    EXPECT_EQ(page->Edit6->maxLength(), 8);
    // Slots fit the tab: three per row inside the scroll box.
    const QRect last = page->pictureSlots()[8].caption->geometry();
    EXPECT_LE(page->ScrollBox2->geometry().right(), 800);
    EXPECT_LE(last.right(), page->ScrollBox2->width());
}

TEST_F(ArchivePageTest, TheListTakingTheFocusByTheKeyboardOpensNoFolderButAnArrowKeyDoes)
{
    addClaim("12345678", 3);
    page->TabSheet2Show();
    // The Tab key brings the focus into the list.
    QFocusEvent focusIn(QEvent::FocusIn, Qt::TabFocusReason);
    QApplication::sendEvent(page->ListBox2, &focusIn);
    EXPECT_EQ(page->ListBox2->currentRow(), -1);
    EXPECT_EQ(page->currentFolder(), "c:\\picture");
    EXPECT_EQ(shownCount(), 0);
    // The Down arrow chooses the first folder and opens it.
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QApplication::sendEvent(page->ListBox2, &down);
    EXPECT_EQ(page->ListBox2->currentRow(), 0);
    EXPECT_EQ(page->currentFolder(), "c:\\picture\\12345678");
    EXPECT_EQ(shownCount(), 3);
}

} // namespace
} // namespace tevrak::test
