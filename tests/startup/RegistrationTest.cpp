#include "platform/core/Cp874.h"
#include "platform/core/Registry.h"
#include "startup/RegisterF2U.h"
#include "startup/RegisterFU.h"
#include "support/QtPrinting.h"
#include "support/RecordingDialogs.h"
#include "support/TestEnvironment.h"
#include "support/TestPictures.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace tevrak;

namespace {

QString root() { return QString::fromStdString(test::driveCFolder()); }
QString branchFile() { return root() + "/LOAD/REGISTER.TXT"; }

class BranchFormTest : public ::testing::Test {
protected:
    void SetUp() override { QDir(root()).removeRecursively(); }
    void enter(const QString& text)
    {
        form.ComboBox1->setEditText(text);
        form.Button1->click();
    }
    test::RecordingDialogs dialogs;
    TRegisterF2 form;
};

}  // namespace

TEST_F(BranchFormTest, OffersTheThirtyTwoBranchesInTheirOrderAndAddsNoTypedText)
{
    ASSERT_EQ(form.ComboBox1->count(), 32);
    EXPECT_EQ(form.ComboBox1->itemText(0), QStringLiteral("สาขากาญจนบุรี"));
    EXPECT_EQ(form.ComboBox1->itemText(3), QStringLiteral("สาขาโคราช"));
    EXPECT_EQ(form.ComboBox1->itemText(29), QStringLiteral("สาขาหาดใหญ่"));
    EXPECT_EQ(form.ComboBox1->itemText(31), QStringLiteral("สาขาอุบลราชธานี"));
    EXPECT_TRUE(form.ComboBox1->currentText().isEmpty());
    enter(QStringLiteral("สาขาใหม่"));
    EXPECT_EQ(form.ComboBox1->count(), 32);
}

TEST_F(BranchFormTest, WritesTheBranchAsCp874BytesWithNoLineEnd)
{
    form.FormActivate();
    EXPECT_TRUE(QDir(root() + "/LOAD/ALL").exists());
    form.ComboBox1->setCurrentIndex(29);
    form.Button1->click();
    EXPECT_TRUE(dialogs.messages.empty());
    const QByteArray bytes = test::readFile(branchFile());
    EXPECT_EQ(bytes.size(), 11);
    EXPECT_EQ(bytes, *platform::cp874::encode(QStringLiteral("สาขาหาดใหญ่")));
    EXPECT_EQ(form.result(), QDialog::Accepted);
    // A typed branch is written as typed, blanks included, replacing the old file whole.
    enter(QStringLiteral(" สาขาเบตง "));
    EXPECT_EQ(test::readFile(branchFile()), *platform::cp874::encode(QStringLiteral(" สาขาเบตง ")));
}

TEST_F(BranchFormTest, OthersShowsTheHintUntilTheTextChangesAndCanBeRegistered)
{
    form.show();
    QApplication::setActiveWindow(&form);
    form.Button1->setFocus();
    form.ComboBox1->setEditText(QStringLiteral("อื่นๆ"));
    EXPECT_TRUE(form.Label2->isVisibleTo(&form));
    EXPECT_TRUE(form.ComboBox1->hasFocus());
    form.ComboBox1->setEditText(QStringLiteral("อื่นๆ x"));
    EXPECT_FALSE(form.Label2->isVisibleTo(&form));
    enter(QStringLiteral("อื่นๆ"));
    EXPECT_EQ(test::readFile(branchFile()), *platform::cp874::encode(QStringLiteral("อื่นๆ")));
}

TEST_F(BranchFormTest, EmptyOrUnwritableBranchesAreRefusedAndTheFormStaysOpen)
{
    form.setResult(0);
    enter(QString());
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.last().text, QStringLiteral("กรุณาเลือกสาขาที่ต้องการลงทะเบียน"));
    EXPECT_EQ(dialogs.last().caption, QStringLiteral("Error"));
    EXPECT_FALSE(QFile::exists(branchFile()));

    enter(QStringLiteral("สาขา東京"));
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_FALSE(QFile::exists(branchFile()));

    // The file cannot be written: a plain file stands where the LOAD folder should be.
    test::writeFile(root() + "/LOAD", "not a folder");
    enter(QStringLiteral("สาขาตรัง"));
    ASSERT_EQ(dialogs.messages.size(), 3u);
    EXPECT_EQ(dialogs.last().icon, platform::MessageIcon::Error);
    EXPECT_TRUE(dialogs.last().text.contains(root() + "/LOAD")) << dialogs.last().text.toStdString(); // names the folder
    EXPECT_EQ(form.result(), 0) << "the form must stay open";
}

TEST(GarageRegistrationTest, StoresTheNameThenOpensTheMainWindowAndClosesItself)
{
    test::RecordingDialogs dialogs;
    QString nameSeenByMainWindow;
    TRegisterf form([&] {
        nameSeenByMainWindow = platform::registry::readString(platform::registry::sarvelloKey,
                                                              platform::registry::garageNameValue);
    });
    form.show();
    form.Edit1->setText(QStringLiteral("อู่ช่างเอก"));
    form.Button1->click();
    EXPECT_EQ(nameSeenByMainWindow, QStringLiteral("อู่ช่างเอก"));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.last().text, QStringLiteral("ลงทะเบียนเรียบร้อย"));
    EXPECT_TRUE(QDir(root() + "/Picture").exists() || QDir(root() + "/picture").exists());
    EXPECT_FALSE(form.isVisible());
}

TEST(GarageRegistrationTest, ANameTheThaiCodePageCannotHoldIsRefusedAndNothingIsStored)
{
    QFile::remove(platform::registry::registryFile());
    test::RecordingDialogs dialogs;
    bool mainWindowOpened = false;
    TRegisterf form([&] { mainWindowOpened = true; });
    form.show();
    QApplication::setActiveWindow(&form);
    form.Edit1->setText(QStringLiteral("อู่東京"));
    form.Button1->setFocus();
    form.Button1->click();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.last().caption, QStringLiteral("Error"));
    EXPECT_EQ(dialogs.last().icon, platform::MessageIcon::Error);
    EXPECT_TRUE(form.Edit1->hasFocus());
    EXPECT_FALSE(mainWindowOpened);
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(
        platform::registry::readString(platform::registry::sarvelloKey, platform::registry::garageNameValue)
            .isEmpty());
}
