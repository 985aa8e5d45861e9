// Tab 4, the survey expense summary, driven through its controls; the
// enquiry and requester dialogs answered as a user answers them.

#include "RecordFormsTestUtil.h"

#include "records/forms/RecordForms.h"
#include "platform/widgets/DateBox.h"
#include "records/forms/EnquiryU.h"
#include "records/forms/ExpensePage.h"
#include "records/forms/FieldControls.h"
#include "records/forms/FormUserU.h"
#include "support/TestPictures.h"

#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>

using namespace tevrak;
using namespace tevrak::records;
using tevrak::test::leaveTo;
using tevrak::test::rowsInFile;
using tevrak::test::typeInto;

namespace {

class ExpensePageTest : public ::testing::Test {
protected:
    ExpensePageTest()
    {
        forms.Enquiry = &enquiry;
        forms.FormUser = &formUser;
        for (const char* id : {"somchai", "wichai"}) {
            db().UserT.append();
            db().UserT.setText(QStringLiteral("USERID"), QString::fromLatin1(id));
            db().UserT.post();
        }
        page = new ExpensePage(world.tab.get(), db(), forms);
        page->today = [this] { return today; };
        world.show();
    }

    ClaimDatabase& db() { return *world.database; }

    template <typename T> T* control(const char* name) { return world.control<T>(name); }
    QLineEdit* box(const char* name) { return control<QLineEdit>(name); }

    void chooseRequester(const QString& id)
    {
        auto* combo = control<QComboBox>("DBLookupComboBox2");
        const int index = combo->findText(id);
        ASSERT_GE(index, 0) << id.toStdString();
        combo->setCurrentIndex(index);
    }

    // Types into a number box and leaves it for the next box.
    void enter(const char* name, const QString& text)
    {
        test::retype(box(name), text);
        leaveTo(box("DBEdit8"));
    }

    // Create, fill a complete summary, Save.
    void summary(const QString& claim, const QString& requester, double km)
    {
        control<QPushButton>("BitBtn10")->click();
        chooseRequester(requester);
        typeInto(box("DBEdit6"), claim);
        leaveTo(box("DBEdit8"));
        control<platform::DateBox>("DBDateEdit1")->setDate(today);
        enter("DBEdit10", QString::number(km));
        control<QPushButton>("BitBtn11")->click();
        ASSERT_EQ(world.dialogs.last().text, QStringLiteral("Save Complete"));
    }

    QList<QStringList> storedRows()
    {
        return rowsInFile(
            QStringLiteral("Expense.DB"),
            QStringLiteral("select Claimno, Seq, Typ, Userid, SurvDate, Rate, Distance1, Total_Dis, "
                           "Distance, Survey, Pay, Total, Home, Send, Sysdate from Expense "
                           "order by Claimno, Seq"));
    }

    test::FormsWorld world;
    TEnquiry enquiry;
    TFormUser formUser;
    RecordForms forms;
    QDate today{2024, 3, 5};
    ExpensePage* page = nullptr;
};

TEST_F(ExpensePageTest, CreateStartsAFirstSurveyAtThreeBahtPerKm)
{
    EXPECT_FALSE(control<QPushButton>("BitBtn11")->isEnabled());
    EXPECT_TRUE(box("DBEdit27")->text().isEmpty());
    control<QPushButton>("BitBtn10")->click();
    EXPECT_FALSE(control<QPushButton>("BitBtn10")->isEnabled());
    EXPECT_FALSE(control<QPushButton>("BitBtn12")->isEnabled());
    EXPECT_TRUE(control<QPushButton>("BitBtn11")->isEnabled());
    EXPECT_TRUE(control<QComboBox>("DBLookupComboBox2")->hasFocus());
    EXPECT_TRUE(control<QRadioButton>("DBRadioGroup1First")->isChecked());
    EXPECT_FALSE(control<QRadioButton>("DBRadioGroup1FollowUp")->isChecked());
    EXPECT_EQ(box("DBEdit27")->text(), QStringLiteral("3"));
    EXPECT_EQ(control<QComboBox>("DBLookupComboBox2")->count(), 2);
    EXPECT_EQ(control<QComboBox>("DBLookupComboBox2")->maxVisibleItems(), 9);
    for (const char* computed : {"DBEdit7", "DBEdit17", "DBEdit18", "DBEdit26"})
        EXPECT_TRUE(box(computed)->isReadOnly()) << computed;

    control<QRadioButton>("DBRadioGroup1FollowUp")->click();
    EXPECT_EQ(db().ExpenseT.asText(QStringLiteral("Typ")), QStringLiteral("2"));
}

TEST_F(ExpensePageTest, CalRateFollowsEveryAmountBox)
{
    control<QPushButton>("BitBtn10")->click();
    enter("DBEdit10", QStringLiteral("10"));
    enter("DBEdit13", QStringLiteral("5.5"));
    enter("DBEdit16", QStringLiteral("0"));
    EXPECT_EQ(box("DBEdit18")->text(), QStringLiteral("15.5"));
    EXPECT_EQ(box("DBEdit17")->text(), QStringLiteral("46.5"));
    EXPECT_EQ(box("DBEdit26")->text(), QStringLiteral("46.5"));

    // 12 km, survey fee 300, allowance 150: 486.
    enter("DBEdit10", QStringLiteral("12"));
    enter("DBEdit13", QString());
    enter("DBEdit19", QStringLiteral("300"));
    enter("DBEdit21", QStringLiteral("150"));
    EXPECT_EQ(box("DBEdit18")->text(), QStringLiteral("12"));
    EXPECT_EQ(box("DBEdit26")->text(), QStringLiteral("486"));

    // A new rate recomputes the travel cost and the total.
    enter("DBEdit27", QStringLiteral("4"));
    EXPECT_EQ(box("DBEdit17")->text(), QStringLiteral("48"));
    EXPECT_EQ(box("DBEdit26")->text(), QStringLiteral("498"));
    enter("DBEdit20", QStringLiteral("20"));
    enter("DBEdit25", QStringLiteral("1.25"));
    EXPECT_EQ(box("DBEdit26")->text(), QStringLiteral("519.25"));
}

TEST_F(ExpensePageTest, AmountBoxesRefuseWhatIsNotANumber)
{
    control<QPushButton>("BitBtn10")->click();
    enter("DBEdit19", QStringLiteral("300"));
    ASSERT_EQ(box("DBEdit26")->text(), QStringLiteral("300"));

    // Letters never reach the box.
    typeInto(box("DBEdit20"), QStringLiteral("1x5"));
    EXPECT_EQ(box("DBEdit20")->text(), QStringLiteral("15"));
    leaveTo(box("DBEdit8"));
    EXPECT_EQ(box("DBEdit26")->text(), QStringLiteral("315"));

    // A text of number characters that is no number is refused on leaving:
    // the message, the focus kept with the text selected, no CalRate.
    world.dialogs.messages.clear();
    enter("DBEdit21", QStringLiteral("1.2.3"));
    ASSERT_EQ(world.dialogs.messages.size(), 1u);
    EXPECT_EQ(world.dialogs.last().text, QStringLiteral("ค่าที่ป้อนไม่ใช่ตัวเลข\n'1.2.3'."));
    EXPECT_EQ(world.dialogs.last().icon, platform::MessageIcon::Error);
    EXPECT_TRUE(box("DBEdit21")->hasFocus());
    EXPECT_EQ(box("DBEdit21")->selectedText(), QStringLiteral("1.2.3"));
    EXPECT_EQ(box("DBEdit26")->text(), QStringLiteral("315"));

    // Save right after refuses again without a second message; nothing stored.
    control<QPushButton>("BitBtn11")->click();
    EXPECT_EQ(world.dialogs.messages.size(), 1u);
    EXPECT_TRUE(box("DBEdit21")->hasFocus());
    EXPECT_TRUE(storedRows().isEmpty());

    // Corrected, the save goes through with the corrected amount computed.
    enter("DBEdit21", QStringLiteral("150"));
    EXPECT_EQ(world.dialogs.messages.size(), 1u);
    chooseRequester(QStringLiteral("wichai"));
    typeInto(box("DBEdit6"), QStringLiteral("12345678"));
    control<platform::DateBox>("DBDateEdit1")->setDate(today);
    control<QPushButton>("BitBtn11")->click();
    EXPECT_EQ(world.dialogs.last().text, QStringLiteral("Save Complete"));
    const auto rows = storedRows();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0][10], QStringLiteral("150.0"));
    EXPECT_EQ(rows[0][11], QStringLiteral("465.0"));
}

TEST_F(ExpensePageTest, SeqFollowsTheClaimNumberEachTimeTheBoxIsLeft)
{
    summary(QStringLiteral("12345678"), QStringLiteral("somchai"), 10);
    control<QPushButton>("BitBtn10")->click();
    typeInto(box("DBEdit6"), QStringLiteral("12345678"));
    leaveTo(box("DBEdit8"));
    EXPECT_EQ(box("DBEdit7")->text(), QStringLiteral("2"));
    // Corrected to a claim with no summary yet.
    test::retype(box("DBEdit6"), QStringLiteral("87654321"));
    leaveTo(box("DBEdit8"));
    EXPECT_EQ(box("DBEdit7")->text(), QStringLiteral("1"));
}

TEST_F(ExpensePageTest, SaveChecksRunInOrder)
{
    auto* save = control<QPushButton>("BitBtn11");
    auto* date = control<platform::DateBox>("DBDateEdit1");
    control<QPushButton>("BitBtn10")->click();
    struct Step {
        std::function<void()> change;
        QString message;
        const char* focus;
    };
    const std::vector<Step> steps{
        {[] {}, QStringLiteral("กรุณาป้อนผู้ขออนุมัติ"), "DBLookupComboBox2"},
        {[&] {
             chooseRequester(QStringLiteral("somchai"));
             db().ExpenseT.setBlank(QStringLiteral("Typ"));
         },
         QStringLiteral("กรุณาเลือกประเภท"), "DBRadioGroup1"},
        {[&] { control<QRadioButton>("DBRadioGroup1FollowUp")->click(); }, QStringLiteral("กรุณาป้อนเลขรับแจ้ง"),
         "DBEdit6"},
        // An empty date is check 4, not the year check.
        {[&] { typeInto(box("DBEdit6"), QStringLiteral("12345678")); },
         QStringLiteral("กรุณาป้อนวันที่ออกปฎิบัติงาน"), "DBDateEdit1"},
        {[&] { date->setText(QStringLiteral("01/01/2548")); }, QStringLiteral("กรุณาป้อนวันที่ออกปฎิบัติงานเป็นปี คศ."),
         "DBDateEdit1"},
        {[&] { date->setDate(today.addDays(1)); }, QStringLiteral("ห้ามป้อนวันที่ออกปฎิบัติงานล่วงหน้า"),
         "DBDateEdit1"},
    };
    for (const Step& step : steps) {
        step.change();
        world.dialogs.messages.clear();
        save->click();
        ASSERT_EQ(world.dialogs.messages.size(), 1u) << step.message.toStdString();
        EXPECT_EQ(world.dialogs.last().text, step.message);
        EXPECT_EQ(world.dialogs.last().caption, QStringLiteral("Error"));
        EXPECT_TRUE(control<QWidget>(step.focus)->hasFocus()) << step.focus;
        EXPECT_TRUE(save->isEnabled());
        EXPECT_TRUE(storedRows().isEmpty());
    }

    // Today passes.
    date->setDate(today);
    leaveTo(box("DBEdit6"));
    enter("DBEdit10", QStringLiteral("12"));
    enter("DBEdit19", QStringLiteral("300"));
    enter("DBEdit21", QStringLiteral("150"));
    world.dialogs.messages.clear();
    save->click();
    ASSERT_EQ(world.dialogs.texts(), QStringList{QStringLiteral("Save Complete")});
    EXPECT_EQ(world.dialogs.last().icon, platform::MessageIcon::Confirmation);
    const auto rows = storedRows();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0],
              (QStringList{QStringLiteral("12345678"), QStringLiteral("1"), QStringLiteral("2"),
                           QStringLiteral("somchai"), QStringLiteral("2024-03-05"), QStringLiteral("3.0"),
                           QStringLiteral("12.0"), QStringLiteral("12.0"), QStringLiteral("36.0"),
                           QStringLiteral("300.0"), QStringLiteral("150.0"), QStringLiteral("486.0"),
                           QString(), QStringLiteral("0"), QStringLiteral("2024-03-05")}));

    // Idle again: every box blank, the panel enabled.
    EXPECT_TRUE(control<QPushButton>("BitBtn10")->isEnabled());
    EXPECT_TRUE(control<QPushButton>("BitBtn12")->isEnabled());
    EXPECT_FALSE(save->isEnabled());
    EXPECT_TRUE(box("DBEdit26")->text().isEmpty());
    EXPECT_TRUE(control<QWidget>("Panel32")->isEnabled());
}

TEST_F(ExpensePageTest, YearEndingIn40PassesTheYearCheck)
{
    today = QDate(2041, 1, 1);
    control<QPushButton>("BitBtn10")->click();
    chooseRequester(QStringLiteral("wichai"));
    typeInto(box("DBEdit6"), QStringLiteral("40404040"));
    leaveTo(box("DBEdit8"));
    control<platform::DateBox>("DBDateEdit1")->setText(QStringLiteral("31/12/2040"));
    control<QPushButton>("BitBtn11")->click();
    EXPECT_EQ(world.dialogs.texts(), QStringList{QStringLiteral("Save Complete")});
    ASSERT_EQ(storedRows().size(), 1);
    EXPECT_EQ(storedRows()[0][4], QStringLiteral("2040-12-31"));
}

TEST_F(ExpensePageTest, LeavingBoxesWhileIdleDoesNothing)
{
    // Idle boxes take the focus but no typing.
    typeInto(box("DBEdit6"), QStringLiteral("12345678"));
    EXPECT_TRUE(box("DBEdit6")->text().isEmpty());
    leaveTo(box("DBEdit8"));
    box("DBEdit19")->setText(QStringLiteral("1.2.3"));
    box("DBEdit19")->setModified(true);
    box("DBEdit19")->setFocus();
    leaveTo(box("DBEdit8"));
    EXPECT_TRUE(world.dialogs.messages.empty());
    EXPECT_TRUE(box("DBEdit7")->text().isEmpty());
    EXPECT_EQ(db().ExpenseT.state(), Dataset::State::Browse);
    EXPECT_TRUE(storedRows().isEmpty());
}

TEST_F(ExpensePageTest, CreateWhilePendingDiscardsThePendingSummary)
{
    control<QPushButton>("BitBtn10")->click();
    chooseRequester(QStringLiteral("wichai"));
    typeInto(box("DBEdit6"), QStringLiteral("11111111"));
    page->BitBtn10Click(); // the button is disabled; the handler itself must not store anything
    EXPECT_TRUE(box("DBEdit6")->text().isEmpty());
    EXPECT_EQ(db().ExpenseT.asText(QStringLiteral("Typ")), QStringLiteral("1"));
    EXPECT_TRUE(storedRows().isEmpty());
}

TEST_F(ExpensePageTest, SearchShowsTheChosenSummaryLocked)
{
    summary(QStringLiteral("12345678"), QStringLiteral("somchai"), 10);
    summary(QStringLiteral("12345678"), QStringLiteral("wichai"), 20);
    summary(QStringLiteral("12345678"), QStringLiteral("somchai"), 30);

    // Cancelled: nothing changes.
    world.dialogs.answerNextModal([](QWidget& form) {
        static_cast<TEnquiry&>(form).BitBtn2->click();
        return 0;
    });
    control<QPushButton>("BitBtn12")->click();
    EXPECT_TRUE(box("DBEdit6")->text().isEmpty());
    EXPECT_TRUE(control<QWidget>("Panel32")->isEnabled());

    // The second of three rows chosen by a double-click.
    world.dialogs.answerNextModal([](QWidget& form) {
        auto& dialog = static_cast<TEnquiry&>(form);
        dialog.show();
        typeInto(dialog.Edit1, QStringLiteral("12345678"));
        dialog.BitBtn1->click();
        EXPECT_EQ(dialog.DBGrid1->model()->rowCount(), 3);
        const QRect cell = dialog.DBGrid1->visualRect(dialog.DBGrid1->model()->index(1, 0));
        test::doubleClick(dialog.DBGrid1->viewport(), cell.center());
        return dialog.result();
    });
    control<QPushButton>("BitBtn12")->click();
    EXPECT_EQ(world.dialogs.modalForms, (QStringList{QStringLiteral("Enquiry"), QStringLiteral("Enquiry")}));
    EXPECT_EQ(box("DBEdit6")->text(), QStringLiteral("12345678"));
    EXPECT_EQ(box("DBEdit7")->text(), QStringLiteral("2"));
    EXPECT_EQ(box("DBEdit10")->text(), QStringLiteral("20"));
    EXPECT_EQ(box("DBEdit26")->text(), QStringLiteral("60"));
    EXPECT_EQ(control<QComboBox>("DBLookupComboBox2")->currentText(), QStringLiteral("wichai"));
    EXPECT_FALSE(control<QWidget>("Panel32")->isEnabled());
    EXPECT_TRUE(control<QPushButton>("BitBtn10")->isEnabled());
    EXPECT_FALSE(control<QPushButton>("BitBtn11")->isEnabled());

    // Create afterwards: a blank summary with the boxes unlocked.
    control<QPushButton>("BitBtn10")->click();
    EXPECT_TRUE(control<QWidget>("Panel32")->isEnabled());
    EXPECT_TRUE(box("DBEdit6")->text().isEmpty());
    EXPECT_TRUE(box("DBEdit10")->text().isEmpty());
    EXPECT_EQ(box("DBEdit27")->text(), QStringLiteral("3"));
    EXPECT_EQ(storedRows().size(), 3);
}

TEST_F(ExpensePageTest, RequesterAddedOrCancelled)
{
    // Cancelled: USER unchanged.
    world.dialogs.answerNextModal([](QWidget& form) {
        auto& dialog = static_cast<TFormUser&>(form);
        EXPECT_TRUE(dialog.DBEdit1->text().isEmpty());
        typeInto(dialog.DBEdit1, QStringLiteral("nobody"));
        dialog.Button2->click();
        return 0;
    });
    control<QPushButton>("Button1")->click();
    const QString users = QStringLiteral("select USERID from USER order by USERID");
    EXPECT_EQ(rowsInFile(QStringLiteral("USER.db"), users).size(), 2);
    EXPECT_EQ(control<QComboBox>("DBLookupComboBox2")->findText(QStringLiteral("nobody")), -1);

    // Added: stored, confirmed, and offered by the requester box at once.
    world.dialogs.answerNextModal([](QWidget& form) {
        auto& dialog = static_cast<TFormUser&>(form);
        EXPECT_TRUE(dialog.DBEdit1->text().isEmpty());
        typeInto(dialog.DBEdit1, QStringLiteral("สมศรี"));
        dialog.Button1->click();
        return dialog.result();
    });
    control<QPushButton>("Button1")->click();
    EXPECT_EQ(world.dialogs.last().text, QStringLiteral("Save Complete"));
    EXPECT_EQ(world.dialogs.last().icon, platform::MessageIcon::Information);
    EXPECT_EQ(rowsInFile(QStringLiteral("USER.db"), users),
              (QList<QStringList>{
                  {QStringLiteral("somchai")}, {QStringLiteral("wichai")}, {QStringLiteral("สมศรี")}}));
    EXPECT_GE(control<QComboBox>("DBLookupComboBox2")->findText(QStringLiteral("สมศรี")), 0);
}

} // namespace

TEST_F(ExpensePageTest, ASaveThatStoresTheRowButCannotWriteTheIndexLeavesTheTabReady)
{
    // A folder stands where the index file is rewritten.
    const QString index = QDir(test::databaseFolder()).filePath(QStringLiteral("Expense.PX"));
    ASSERT_TRUE(QFile::remove(index));
    ASSERT_TRUE(QDir().mkpath(index));
    control<QPushButton>("BitBtn10")->click();
    chooseRequester(QStringLiteral("somchai"));
    typeInto(box("DBEdit6"), QStringLiteral("12345678"));
    leaveTo(box("DBEdit8"));
    control<platform::DateBox>("DBDateEdit1")->setDate(today);
    control<QPushButton>("BitBtn11")->click();

    ASSERT_EQ(world.dialogs.messages.size(), 1u);
    EXPECT_EQ(world.dialogs.last().icon, platform::MessageIcon::Error);
    EXPECT_TRUE(world.dialogs.last().text.contains("บันทึกระเบียนแล้ว")) << world.dialogs.last().text.toStdString();
    EXPECT_TRUE(world.dialogs.last().text.contains("Expense.PX")) << world.dialogs.last().text.toStdString();
    EXPECT_EQ(storedRows().size(), 1);
    // Idle, as after a save: Create and Search work, Save is off.
    EXPECT_TRUE(control<QPushButton>("BitBtn10")->isEnabled());
    EXPECT_TRUE(control<QPushButton>("BitBtn12")->isEnabled());
    EXPECT_FALSE(control<QPushButton>("BitBtn11")->isEnabled());
    EXPECT_EQ(db().ExpenseT.state(), Dataset::State::Browse);

    // The clerk enters the next summary once the index can be written again:
    // it is the claim's second, not the same row twice.
    ASSERT_TRUE(QDir().rmdir(index));
    summary(QStringLiteral("12345678"), QStringLiteral("somchai"), 4);
    const QList<QStringList> rows = storedRows();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0][1], QStringLiteral("1"));
    EXPECT_EQ(rows[1][1], QStringLiteral("2"));
    EXPECT_EQ(test::readFile(index), QByteArray("Claimno\tSeq\r\n12345678\t1\r\n12345678\t2\r\n"));
}

TEST_F(ExpensePageTest, AnotherApplicationTakingTheFocusDoesNotLeaveAnAmountBoxAndBlanksAreNotTyped)
{
    control<QPushButton>("BitBtn10")->click();
    typeInto(box("DBEdit19"), QStringLiteral("1 5"));
    EXPECT_EQ(box("DBEdit19")->text(), QStringLiteral("15"));

    test::retype(box("DBEdit21"), QStringLiteral("1.2.3"));
    QWidget* window = world.tab.get();
    QApplication::setActiveWindow(nullptr); // another application takes the focus
    QApplication::processEvents();
    EXPECT_TRUE(world.dialogs.messages.empty());
    QApplication::setActiveWindow(window);
    QApplication::processEvents();
    EXPECT_TRUE(world.dialogs.messages.empty());
    EXPECT_TRUE(box("DBEdit21")->hasFocus());
    // Leaving the box for another of its controls still checks it.
    leaveTo(box("DBEdit8"));
    ASSERT_EQ(world.dialogs.messages.size(), 1u);
    EXPECT_EQ(world.dialogs.last().text, QStringLiteral("ค่าที่ป้อนไม่ใช่ตัวเลข\n'1.2.3'."));
}
