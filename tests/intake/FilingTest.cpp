#include "IntakeFixture.h"

#include "platform/core/Error.h"
#include "support/faults/PlantedFaults.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

using namespace tevrak;
using namespace tevrak::test;

namespace {

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name | QDir::IgnoreCase);
}

class FilingTest : public IntakeFixture {
protected:
    QString claimFolder(const QString& claim = "12345678") const { return root() + "/picture/" + claim; }
    QString outbox() const { return root() + "/picture/transfer"; }
    void seedClaimFolder(const QStringList& names, const QString& claim = "12345678")
    {
        for (const QString& name : names)
            writeFile(claimFolder(claim) + "/" + name, "old");
    }
    void typeClaim(const QString& claim) { page->Edit1->setText(claim); }
};

}  // namespace

TEST(SequenceTest, NextNumberFollowsTheHighestInTheCategoryAndStartsAtTheCategoriesFirstNumber)
{
    using intake::nextSequence;
    auto next = [](const QStringList& names, int low, int high) {
        return nextSequence(names, low, high, "12345678", "x");
    };
    EXPECT_EQ(next({}, 1, 299), "001");
    EXPECT_EQ(next({}, 300, 499), "300");
    EXPECT_EQ(next({}, 500, 799), "500");
    EXPECT_EQ(next({}, 800, 999), "800");
    QStringList nine;
    for (int i = 1; i <= 9; ++i)
        nine.append(QStringLiteral("12345678%1.jpg").arg(i, 3, 10, QLatin1Char('0')));
    EXPECT_EQ(next(nine, 1, 299), "010");
    EXPECT_EQ(next({"12345678001.jpg", "12345678002.jpg", "12345678005.JPG"}, 1, 299), "006");
    EXPECT_EQ(next({"12345678099.jpg"}, 1, 299), "100");
    EXPECT_EQ(next({"12345678300.jpg", "12345678301.jpg"}, 1, 299), "001");
    EXPECT_EQ(next({"12345678300.jpg", "12345678301.jpg"}, 300, 499), "302");
    EXPECT_EQ(next({"12345678800.gif", "12345678001.jpg"}, 800, 999), "801");
}

TEST(SequenceTest, AFullCategoryAndANameWithoutANumberAreRefused)
{
    using intake::nextSequence;
    EXPECT_THROW(nextSequence({"12345678299.jpg"}, 1, 299, "12345678", "ก่อนซ่อม"), Error);
    EXPECT_THROW(nextSequence({"12345678499.jpg"}, 300, 499, "12345678", "ระหว่างซ่อม"), Error);
    EXPECT_THROW(nextSequence({"12345678999.gif"}, 800, 999, "12345678", "เอกสาร"), Error);
    EXPECT_EQ(nextSequence({"12345678298.jpg"}, 1, 299, "12345678", "ก่อนซ่อม"), "299");
    try {
        nextSequence({"12345678299.jpg"}, 1, 299, "12345678", "ก่อนซ่อม");
    } catch (const Error& error) {
        EXPECT_TRUE(error.message().contains("ก่อนซ่อม"));
        EXPECT_TRUE(error.message().contains("12345678"));
    }
    EXPECT_THROW(nextSequence({"12345678abc.jpg"}, 1, 299, "12345678", "x"), Error);
    EXPECT_THROW(nextSequence({"short.jpg"}, 1, 299, "12345678", "x"), Error);
}

TEST_F(FilingTest, ClaimNumberMustBeEightCharactersAndTheTypeMustSuitTheCategory)
{
    addJpeg("IMG_7.jpg");
    writeGif(inbox() + "/SCAN.gif", noisyImage(QSize(30, 60), Qt::gray));
    openTab();  // slot 1 IMG_7.jpg, slot 2 SCAN.gif
    drop(1, page->beforeRepair.image);
    EXPECT_EQ(dialogs.last().text, QStringLiteral("กรุณาป้อนเลขรับแจ้ง"));
    typeClaim("1234567");
    drop(1, page->beforeRepair.image);
    EXPECT_EQ(dialogs.last().text, QStringLiteral("เลขรับแจ้งต้องมี 8 ตัว"));
    typeClaim("12345678");
    drop(2, page->duringRepair.image);
    EXPECT_EQ(dialogs.last().text, QStringLiteral("กรุณาเลือกเฉพาะรูปภาพ"));
    drop(1, page->documents.image);
    EXPECT_EQ(dialogs.last().text, QStringLiteral("กรุณาเลือกเฉพาะเอกสาร"));
    EXPECT_EQ(dialogs.messages.size(), 4u);
    EXPECT_FALSE(QDir(claimFolder()).exists());
    EXPECT_EQ(filesIn(inbox()), QStringList({"IMG_7.jpg", "SCAN.gif"}));
    EXPECT_EQ(values.PageOffset, 0);
}

TEST_F(FilingTest, FirstPhotoOfANewClaimBecomes001InTheClaimFolderAndTheOutbox)
{
    addJpeg("IMG_7.jpg");
    addJpeg("Photo.JPG");
    openTab();
    const QByteArray original = readFile(inbox() + "/IMG_7.jpg");
    typeClaim("12345678");
    drop(1, page->beforeRepair.image);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(filesIn(claimFolder()), QStringList({"12345678001.jpg"}));
    EXPECT_EQ(filesIn(outbox()), QStringList({"12345678001.jpg"}));
    EXPECT_EQ(readFile(claimFolder() + "/12345678001.jpg"), original);
    EXPECT_EQ(readFile(outbox() + "/12345678001.jpg"), original);
    EXPECT_EQ(filesIn(inbox()), QStringList({"Photo.JPG"}));
    EXPECT_FALSE(page->thumbnailSlots()[0].image->isVisibleTo(tab.get()));
    EXPECT_EQ(page->inboxList(), QStringList({"Photo.JPG"}));
    EXPECT_EQ(values.PageOffset, -1);
    // The upper-case extension is kept, and the next number follows.
    drop(2, page->beforeRepair.image);
    EXPECT_EQ(filesIn(claimFolder()), QStringList({"12345678001.jpg", "12345678002.JPG"}));
    EXPECT_EQ(values.PageOffset, -2);
}

TEST_F(FilingTest, EachCategoryStartsAtItsOwnNumberAndDocumentsShareTheNumberSpace)
{
    addJpeg("a.jpg");
    addJpeg("b.jpg");
    addJpeg("c.jpg");
    writeGif(inbox() + "/d.gif", noisyImage(QSize(30, 60), Qt::gray));
    openTab();
    typeClaim("AB123456");
    drop(1, page->duringRepair.image);
    drop(2, page->duringRepair.image);
    drop(3, page->afterRepair.image);
    drop(4, page->documents.image);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(filesIn(claimFolder("AB123456")),
              QStringList({"AB123456300.jpg", "AB123456301.jpg", "AB123456500.jpg", "AB123456800.gif"}));
}

TEST_F(FilingTest, FilingFromTheFirstPageKeepsNextAligned)
{
    for (int i = 0; i < 20; ++i)
        addJpeg(QStringLiteral("P%1.jpg").arg(i, 2, 10, QLatin1Char('0')));
    openTab();
    typeClaim("12345678");
    drop(1, page->beforeRepair.image);
    drop(5, page->beforeRepair.image);
    EXPECT_EQ(values.PageOffset, -2);
    EXPECT_EQ(page->inboxList().size(), 18);
    next();
    EXPECT_EQ(shownNames().first(), "P09.jpg");
    EXPECT_EQ(shownNames().last(), "P17.jpg");
}

TEST_F(FilingTest, AFullCategoryIsRefusedAndNothingMoves)
{
    addJpeg("IMG_1.jpg");
    seedClaimFolder({"12345678299.jpg"});
    openTab();
    typeClaim("12345678");
    drop(1, page->beforeRepair.image);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.last().text.contains("ก่อนซ่อม"));
    EXPECT_TRUE(dialogs.last().text.contains("12345678"));
    EXPECT_EQ(filesIn(claimFolder()), QStringList({"12345678299.jpg"}));
    EXPECT_TRUE(filesIn(outbox()).isEmpty());
    EXPECT_EQ(filesIn(inbox()), QStringList({"IMG_1.jpg"}));
    EXPECT_TRUE(page->thumbnailSlots()[0].image->isVisibleTo(tab.get()));
    EXPECT_EQ(page->inboxList(), QStringList({"IMG_1.jpg"}));
    EXPECT_EQ(values.PageOffset, 0);
    // During repair still has room.
    drop(1, page->duringRepair.image);
    EXPECT_EQ(filesIn(claimFolder()), QStringList({"12345678299.jpg", "12345678300.jpg"}));
}

TEST_F(FilingTest, ANameWithoutASequenceStopsFilingAndRestoresThePage)
{
    addJpeg("IMG_1.jpg");
    seedClaimFolder({"12345678xyz.jpg"});
    openTab();
    typeClaim("12345678");
    drop(1, page->beforeRepair.image);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.last().icon, platform::MessageIcon::Error);
    EXPECT_EQ(filesIn(inbox()), QStringList({"IMG_1.jpg"}));
    EXPECT_TRUE(filesIn(outbox()).isEmpty());
    EXPECT_EQ(page->inboxList(), QStringList({"IMG_1.jpg"}));
    EXPECT_EQ(values.PageOffset, 0);
}

TEST_F(FilingTest, ClaimNumbersThatCannotNameAFileAreRefusedBeforeAnythingIsTouched)
{
    addJpeg("IMG_1.jpg");
    openTab();
    for (const QString& claim : {QStringLiteral("1234/678"), QStringLiteral("12*45678"), QStringLiteral("1234567\t"),
                                 QStringLiteral("12\"45678"), QStringLiteral(".1234567")}) {
        typeClaim(claim);
        drop(1, page->beforeRepair.image);
    }
    // A leading "." would hide every filed name from the folder lists and the outbox.
    EXPECT_EQ(dialogs.messages.size(), 5u);
    EXPECT_TRUE(dialogs.last().text.contains(QStringLiteral("ห้ามขึ้นต้นด้วยจุด")));
    EXPECT_EQ(QDir(root() + "/picture").entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList({"transfer"}));
    EXPECT_EQ(filesIn(inbox()), QStringList({"IMG_1.jpg"}));
}

TEST_F(FilingTest, AFailedCopyKeepsTheInboxFileAndLeavesNothingHalfWritten)
{
    addJpeg("IMG_1.jpg");
    openTab();
    typeClaim("12345678");
    // The outbox cannot be written: a plain file stands where the folder should be.
    QDir(outbox()).removeRecursively();
    writeFile(outbox(), "not a folder");
    drop(1, page->beforeRepair.image);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.last().icon, platform::MessageIcon::Error);
    EXPECT_TRUE(dialogs.last().text.contains("IMG_1.jpg"));
    EXPECT_TRUE(QFile::exists(inbox() + "/IMG_1.jpg"));
    EXPECT_TRUE(filesIn(claimFolder()).isEmpty()) << "the archive copy must be undone too";
    EXPECT_TRUE(page->thumbnailSlots()[0].image->isVisibleTo(tab.get()));
    EXPECT_EQ(values.PageOffset, 0);
    // Once the outbox is back, the same photo files as 001.
    QFile::remove(outbox());
    QDir().mkpath(outbox());
    drop(1, page->beforeRepair.image);
    EXPECT_EQ(filesIn(claimFolder()), QStringList({"12345678001.jpg"}));
    EXPECT_EQ(filesIn(outbox()), QStringList({"12345678001.jpg"}));
}

TEST_F(FilingTest, APhotoThatVanishedFromTheInboxGivesAClearMessage)
{
    addJpeg("IMG_1.jpg");
    openTab();
    QFile::remove(inbox() + "/IMG_1.jpg");
    typeClaim("12345678");
    drop(1, page->beforeRepair.image);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.last().text.contains("IMG_1.jpg"));
    EXPECT_TRUE(filesIn(claimFolder()).isEmpty());
    EXPECT_TRUE(filesIn(outbox()).isEmpty());
}

TEST_F(FilingTest, ANumberStillWaitingInTheOutboxIsNotTakenAgain)
{
    addJpeg("IMG_1.jpg", Qt::red);
    addJpeg("IMG_2.jpg", Qt::blue);
    addJpeg("IMG_3.jpg", Qt::green);
    openTab();
    typeClaim("12345678");
    drop(1, page->beforeRepair.image);
    drop(2, page->beforeRepair.image);
    const QByteArray unsent = readFile(outbox() + "/12345678002.jpg");
    // The clerk removes the highest photo from the claim folder by hand; its
    // outbox copy has not been sent yet.
    ASSERT_TRUE(QFile::remove(claimFolder() + "/12345678002.jpg"));
    // An outbox file of another claim does not count.
    writeFile(outbox() + "/87654321009.jpg", "other claim");
    drop(3, page->beforeRepair.image);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(filesIn(claimFolder()), QStringList({"12345678001.jpg", "12345678003.jpg"}));
    EXPECT_EQ(readFile(outbox() + "/12345678002.jpg"), unsent);
    EXPECT_EQ(readFile(outbox() + "/12345678003.jpg"), readFile(claimFolder() + "/12345678003.jpg"));
}

TEST_F(FilingTest, ASecondCopyThatCannotTakeItsNameKeepsTheInboxPhotoAndUndoesTheFirst)
{
    addJpeg("IMG_1.jpg");
    openTab();
    const QByteArray original = readFile(inbox() + "/IMG_1.jpg");
    typeClaim("12345678");
    // The outbox copy is written; its final rename fails.
    const FailedRename renameFails("/transfer/12345678001.jpg");
    drop(1, page->beforeRepair.image);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.last().icon, platform::MessageIcon::Error);
    EXPECT_TRUE(dialogs.last().text.contains("12345678001.jpg")) << dialogs.last().text.toStdString();
    EXPECT_EQ(readFile(inbox() + "/IMG_1.jpg"), original);
    EXPECT_TRUE(filesIn(claimFolder()).isEmpty()) << "the archive copy must be undone";
    EXPECT_TRUE(filesIn(outbox()).isEmpty());
    EXPECT_TRUE(page->thumbnailSlots()[0].image->isVisibleTo(tab.get()));
    EXPECT_EQ(page->inboxList(), QStringList({"IMG_1.jpg"}));
}

TEST_F(FilingTest, ACopyThatCannotBeFlushedFilesNothingAndKeepsTheInboxPhoto)
{
    addJpeg("IMG_1.jpg");
    openTab();
    const QByteArray original = readFile(inbox() + "/IMG_1.jpg");
    typeClaim("12345678");
    const FailedFlush flushFails("/picture/12345678/"); // the claim folder's disk
    drop(1, page->beforeRepair.image);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.last().icon, platform::MessageIcon::Error);
    EXPECT_EQ(readFile(inbox() + "/IMG_1.jpg"), original);
    EXPECT_TRUE(filesIn(claimFolder()).isEmpty()); // no hidden copy left either
    EXPECT_TRUE(filesIn(outbox()).isEmpty());
}

TEST_F(FilingTest, ANumberAnotherFilingTakesMeanwhileIsNeverReplaced)
{
    addJpeg("IMG_1.jpg");
    addJpeg("IMG_2.jpg", Qt::blue);
    openTab();
    typeClaim("12345678");
    // A second program on the workstation files 001 of this claim between our
    // choice of the number and our copy taking it: first in the claim folder,
    // then (next drop) in the outbox.
    const BeforeRename archiveClash("/picture/12345678/12345678001.jpg",
                                    [](const std::string& target) { writeFile(QString::fromStdString(target), "theirs"); });
    drop(1, page->beforeRepair.image);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(readFile(claimFolder() + "/12345678001.jpg"), "theirs");
    EXPECT_EQ(readFile(claimFolder() + "/12345678002.jpg"), readFile(outbox() + "/12345678002.jpg"));
    EXPECT_FALSE(QFile::exists(inbox() + "/IMG_1.jpg"));

    const BeforeRename outboxClash("/transfer/12345678003.jpg",
                                   [](const std::string& target) { writeFile(QString::fromStdString(target), "theirs too"); });
    drop(2, page->beforeRepair.image);
    EXPECT_TRUE(dialogs.messages.empty()) << dialogs.last().text.toStdString();
    EXPECT_EQ(readFile(outbox() + "/12345678003.jpg"), "theirs too");
    EXPECT_FALSE(QFile::exists(claimFolder() + "/12345678003.jpg")) << "the archive copy of 003 is undone";
    EXPECT_EQ(readFile(claimFolder() + "/12345678004.jpg"), readFile(outbox() + "/12345678004.jpg"));
    EXPECT_FALSE(QFile::exists(inbox() + "/IMG_2.jpg"));
}

TEST_F(FilingTest, EachRefusalNamesItsReasonAndTheClaimMessagesPutTheFocusInTheClaimBox)
{
    addJpeg("IMG_7.JPG");
    writeGif(inbox() + "/SCAN.gif", noisyImage(QSize(30, 60), Qt::gray));
    openTab(); // slot 1 IMG_7.JPG, slot 2 SCAN.gif
    tab->show();
    QApplication::setActiveWindow(tab.get());
    for (const QString& claim : {QString(), QStringLiteral("1234567")}) {
        typeClaim(claim);
        page->BitBtn4->setFocus();
        drop(1, page->beforeRepair.image);
        EXPECT_TRUE(page->Edit1->hasFocus()) << "after the message for '" << claim.toStdString() << "'";
    }
    typeClaim("12345678");
    for (platform::ImageControl* photoTarget : {page->beforeRepair.image, page->afterRepair.image}) {
        drop(2, photoTarget);
        EXPECT_EQ(dialogs.last().text, QStringLiteral("กรุณาเลือกเฉพาะรูปภาพ"));
    }
    drop(1, page->documents.image); // an upper-case .JPG
    EXPECT_EQ(dialogs.last().text, QStringLiteral("กรุณาเลือกเฉพาะเอกสาร"));
    EXPECT_EQ(dialogs.texts(),
              QStringList({QStringLiteral("กรุณาป้อนเลขรับแจ้ง"), QStringLiteral("เลขรับแจ้งต้องมี 8 ตัว"),
                           QStringLiteral("กรุณาเลือกเฉพาะรูปภาพ"), QStringLiteral("กรุณาเลือกเฉพาะรูปภาพ"),
                           QStringLiteral("กรุณาเลือกเฉพาะเอกสาร")}));
    EXPECT_FALSE(QDir(claimFolder()).exists());
    EXPECT_EQ(filesIn(inbox()), QStringList({"IMG_7.JPG", "SCAN.gif"}));
}

TEST_F(FilingTest, ADocumentNumberPackedIntoTheWaitingClaimArchiveIsNotTakenAgain)
{
    writeGif(inbox() + "/SCAN1.gif", noisyImage(QSize(30, 60), Qt::gray));
    writeGif(inbox() + "/SCAN2.gif", noisyImage(QSize(30, 60), Qt::darkGray));
    openTab(); // slot 1 SCAN1.gif, slot 2 SCAN2.gif
    typeClaim("33550336");
    // A Transfer that did not reach the server packed two documents into the
    // claim's archive (written here by Python's zipfile); the clerk has since
    // removed their copies from the claim folder.
    QProcess python;
    python.start("/usr/bin/python3", {"-c",
                                      "import sys, zipfile\n"
                                      "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
                                      "    z.writestr('33550336800.GIF', b'older document')\n"
                                      "    z.writestr('33550336801.gif', b'another one')\n"
                                      "    z.writestr('87654321950.gif', b'not this claim')\n",
                                      outbox() + "/33550336.Zip"});
    ASSERT_TRUE(python.waitForFinished(30000));
    ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    drop(1, page->documents.image);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(filesIn(claimFolder("33550336")), QStringList({"33550336802.gif"}));

    // An archive that cannot be read leaves the number to the claim folder and
    // the outbox (the packing stores a clash under a new number).
    QFile::remove(claimFolder("33550336") + "/33550336802.gif");
    QFile::remove(outbox() + "/33550336802.gif");
    writeFile(outbox() + "/33550336.Zip", "PK\x03\x04 and no more");
    drop(2, page->documents.image);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(filesIn(claimFolder("33550336")), QStringList({"33550336800.gif"}));
    EXPECT_EQ(filesIn(outbox()), QStringList({"33550336.Zip", "33550336800.gif"}));
}
