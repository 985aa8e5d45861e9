// Tab 3, the pending-car register, driven through its controls.

#include "RecordFormsTestUtil.h"

#include "platform/widgets/DateBox.h"
#include "records/forms/FieldControls.h"
#include "records/forms/PendingCarPage.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>

using namespace tevrak;
using namespace tevrak::records;
using tevrak::test::rowsInFile;
using tevrak::test::typeInto;

namespace {

const QString finished = QStringLiteral("ซ่อมเสร็จ");
const QString waiting = QStringLiteral("รออะไหล่");

class PendingCarPageTest : public ::testing::Test {
protected:
    PendingCarPageTest()
    {
        page = new PendingCarPage(world.tab.get(), db());
        page->today = [this] { return today; };
        page->resetToToday();
        world.show();
    }

    ClaimDatabase& db() { return *world.database; }

    template <typename T> T* control(const char* name) { return world.control<T>(name); }

    void chooseStatus(const QString& status)
    {
        auto* combo = control<QComboBox>("DBLookupComboBox1");
        const int index = combo->findText(status);
        ASSERT_GE(index, 0);
        combo->setCurrentIndex(index);
    }

    // Create, fill every box, Save.
    void report(const QString& claim, const QString& status, const QString& brand = QStringLiteral("Toyota"))
    {
        control<QPushButton>("BitBtn5")->click();
        typeInto(control<QLineEdit>("DBEdit1"), claim);
        control<platform::DateBox>("DBDateEdit2")->setDate(today.addDays(-3));
        typeInto(control<QLineEdit>("DBEdit2"), brand);
        typeInto(control<QLineEdit>("DBEdit3"), QStringLiteral("กข 1234"));
        typeInto(control<QLineEdit>("DBEdit4"), QStringLiteral("อู่ช่างเอก"));
        chooseStatus(status);
        control<QPushButton>("BitBtn6")->click();
        ASSERT_EQ(world.dialogs.last().text, QStringLiteral("Save Complete"));
    }

    // The grid's rows as "claim/seq".
    QStringList gridRows()
    {
        auto* grid = control<QTableView>("DBGrid1");
        QStringList rows;
        for (int r = 0; r < grid->model()->rowCount(); ++r)
            rows << grid->model()->index(r, 0).data().toString() + QLatin1Char('/') +
                        grid->model()->index(r, 1).data().toString();
        return rows;
    }

    QList<QStringList> storedRows()
    {
        return rowsInFile(
            QStringLiteral("Tevrak.DB"),
            QStringLiteral("select Claimno, Seq, Status, ReportDate, Send, GarageDate, TevrakDate, "
                           "Brand, Regno, Garage from Tevrak order by Claimno, Seq"));
    }

    void doubleClickRow(int row)
    {
        auto* grid = control<QTableView>("DBGrid1");
        grid->selectRow(row);
        const QRect cell = grid->visualRect(grid->model()->index(row, 0));
        test::doubleClick(grid->viewport(), cell.center());
    }

    test::FormsWorld world;
    QDate today{2024, 3, 5};
    PendingCarPage* page = nullptr;
};

TEST_F(PendingCarPageTest, StartsIdleWithTodaysHeadingAndAnEmptyGrid)
{
    EXPECT_EQ(control<QLabel>("Label8")->text(), QStringLiteral("รายงานรถยนต์คงค้างประจำวันที่ 05 มีนาคม 2024"));
    EXPECT_EQ(control<platform::DateBox>("DateEdit1")->date(), today);
    EXPECT_TRUE(control<QPushButton>("BitBtn5")->isEnabled());
    EXPECT_FALSE(control<QPushButton>("BitBtn6")->isEnabled());
    EXPECT_TRUE(control<QRadioButton>("C0")->isChecked());
    EXPECT_EQ(control<QTableView>("DBGrid1")->model()->rowCount(), 0);
    EXPECT_EQ(control<QTableView>("DBGrid1")->model()->columnCount(), 7);
    EXPECT_EQ(control<QTableView>("DBGrid1")->model()->headerData(6, Qt::Horizontal).toString(),
              QStringLiteral("สถานะการซ่อม"));

    // Typing while idle reaches no record.
    typeInto(control<QLineEdit>("DBEdit1"), QStringLiteral("12345678"));
    EXPECT_EQ(db().TevrakT.state(), Dataset::State::Browse);

    // A search fills the grid; the main window's re-initialisation closes
    // the query again and the grid empties.
    report(QStringLiteral("11111111"), waiting);
    EXPECT_EQ(gridRows(), QStringList{QStringLiteral("11111111/1")});
    db().openForStartUp();
    EXPECT_TRUE(gridRows().isEmpty());
}

TEST_F(PendingCarPageTest, SaveChecksRunInOrderAndStoreNothingUntilAllPass)
{
    auto* save = control<QPushButton>("BitBtn6");
    auto* date = control<platform::DateBox>("DBDateEdit2");
    control<QPushButton>("BitBtn5")->click();
    EXPECT_TRUE(control<QLineEdit>("DBEdit1")->hasFocus());
    EXPECT_FALSE(control<QPushButton>("BitBtn5")->isEnabled());
    EXPECT_TRUE(save->isEnabled());

    struct Step {
        std::function<void()> change;
        QString message;
        const char* focus;
    };
    const std::vector<Step> steps{
        // No claim number and no date: the claim number is reported first.
        {[] {}, QStringLiteral("กรุณาป้อนเลขรับแจ้ง"), "DBEdit1"},
        {[&] { typeInto(control<QLineEdit>("DBEdit1"), QStringLiteral("12345678")); },
         QStringLiteral("กรุณาป้อนวันที่รถเข้าอู่ เป็นปี คศ."), "DBDateEdit2"},
        {[&] { date->setText(QStringLiteral("01/01/2548")); }, QStringLiteral("กรุณาป้อนวันที่รถเข้าอู่ เป็นปี คศ."),
         "DBDateEdit2"},
        {[&] { date->setDate(today.addDays(1)); }, QStringLiteral("ห้ามป้อนวันที่รถเข้าอู่ล่วงหน้า"), "DBDateEdit2"},
        {[&] { date->setDate(today); }, QStringLiteral("กรุณาป้อนยี่ห้อรถ"), "DBEdit2"},
        {[&] { typeInto(control<QLineEdit>("DBEdit2"), QStringLiteral("Isuzu")); },
         QStringLiteral("กรุณาป้อนเลขทะเบียนรถ"), "DBEdit3"},
        {[&] { typeInto(control<QLineEdit>("DBEdit3"), QStringLiteral("1กก 99")); },
         QStringLiteral("กรุณาป้อนชื่ออู่"), "DBEdit4"},
        {[&] { typeInto(control<QLineEdit>("DBEdit4"), QStringLiteral("สภ.เมือง")); },
         QStringLiteral("กรุณาป้อนเลือกสถานะการซ่อม"), "DBLookupComboBox1"},
    };
    for (const Step& step : steps) {
        step.change();
        world.dialogs.messages.clear();
        save->click();
        ASSERT_EQ(world.dialogs.messages.size(), 1u) << step.message.toStdString();
        EXPECT_EQ(world.dialogs.last().text, step.message);
        EXPECT_EQ(world.dialogs.last().caption, QStringLiteral("Error"));
        EXPECT_EQ(world.dialogs.last().icon, platform::MessageIcon::Error);
        EXPECT_TRUE(control<QWidget>(step.focus)->hasFocus()) << step.focus;
        EXPECT_TRUE(save->isEnabled());
        EXPECT_TRUE(storedRows().isEmpty());
    }

    chooseStatus(waiting);
    world.dialogs.messages.clear();
    save->click();
    ASSERT_EQ(world.dialogs.messages.size(), 1u);
    EXPECT_EQ(world.dialogs.last().text, QStringLiteral("Save Complete"));
    EXPECT_EQ(world.dialogs.last().icon, platform::MessageIcon::Confirmation);
    const auto rows = storedRows();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(
        rows[0].mid(0, 10),
        (QStringList{QStringLiteral("12345678"), QStringLiteral("1"), waiting, QStringLiteral("2024-03-05"),
                     QStringLiteral("0"), QStringLiteral("2024-03-05"), QString(), QStringLiteral("Isuzu"),
                     QStringLiteral("1กก 99"), QStringLiteral("สภ.เมือง")}));

    // Back to idle: blank boxes, Create enabled, Save disabled.
    EXPECT_TRUE(control<QPushButton>("BitBtn5")->isEnabled());
    EXPECT_FALSE(save->isEnabled());
    EXPECT_TRUE(control<QLineEdit>("DBEdit1")->text().isEmpty());
    EXPECT_TRUE(date->isEmptyDate());
    EXPECT_EQ(control<QComboBox>("DBLookupComboBox1")->currentIndex(), -1);
}

TEST_F(PendingCarPageTest, YearEndingIn40PassesOnTheDayItIsNotInTheFuture)
{
    today = QDate(2041, 1, 1);
    control<QPushButton>("BitBtn5")->click();
    typeInto(control<QLineEdit>("DBEdit1"), QStringLiteral("40404040"));
    control<platform::DateBox>("DBDateEdit2")->setText(QStringLiteral("31/12/2040"));
    typeInto(control<QLineEdit>("DBEdit2"), QStringLiteral("Honda"));
    typeInto(control<QLineEdit>("DBEdit3"), QStringLiteral("A1"));
    typeInto(control<QLineEdit>("DBEdit4"), QStringLiteral("G"));
    chooseStatus(waiting);
    control<QPushButton>("BitBtn6")->click();
    EXPECT_EQ(world.dialogs.texts(), QStringList{QStringLiteral("Save Complete")});
    const auto rows = storedRows();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0][5], QStringLiteral("2040-12-31"));
}

TEST_F(PendingCarPageTest, ReissueCopiesTheCarLocksItsBoxesAndTakesTheNextSeq)
{
    report(QStringLiteral("12345678"), waiting, QStringLiteral("Mazda"));
    report(QStringLiteral("23456789"), waiting);
    ASSERT_EQ(gridRows(), (QStringList{QStringLiteral("12345678/1"), QStringLiteral("23456789/1")}));

    doubleClickRow(0);
    EXPECT_FALSE(control<QPushButton>("BitBtn5")->isEnabled());
    EXPECT_TRUE(control<QPushButton>("BitBtn6")->isEnabled());
    EXPECT_EQ(control<QLineEdit>("DBEdit1")->text(), QStringLiteral("12345678"));
    EXPECT_EQ(control<QLineEdit>("DBEdit2")->text(), QStringLiteral("Mazda"));
    EXPECT_EQ(control<platform::DateBox>("DBDateEdit2")->date(), today.addDays(-3));
    for (const char* locked : {"DBEdit1", "DBEdit2", "DBEdit3", "DBEdit4", "DBDateEdit2"})
        EXPECT_FALSE(control<QWidget>(locked)->isEnabled()) << locked;
    EXPECT_TRUE(control<QComboBox>("DBLookupComboBox1")->hasFocus());
    EXPECT_EQ(control<QComboBox>("DBLookupComboBox1")->currentIndex(), -1); // status is not copied

    chooseStatus(QStringLiteral("กำลังซ่อม"));
    control<QPushButton>("BitBtn6")->click();
    EXPECT_EQ(world.dialogs.last().text, QStringLiteral("Save Complete"));
    for (const char* unlocked : {"DBEdit1", "DBEdit2", "DBEdit3", "DBEdit4", "DBDateEdit2"})
        EXPECT_TRUE(control<QWidget>(unlocked)->isEnabled()) << unlocked;

    // A third report of the same claim gets 3.
    doubleClickRow(1);
    chooseStatus(QStringLiteral("กำลังซ่อม"));
    control<QPushButton>("BitBtn6")->click();

    const auto rows = storedRows();
    ASSERT_EQ(rows.size(), 4);
    EXPECT_EQ(rows[1].mid(0, 3),
              (QStringList{QStringLiteral("12345678"), QStringLiteral("2"), QStringLiteral("กำลังซ่อม")}));
    EXPECT_EQ(rows[2].mid(0, 2), (QStringList{QStringLiteral("12345678"), QStringLiteral("3")}));
    // The blank TevrakDate arrives as the zero date; the car's details as they were.
    EXPECT_EQ(rows[1][6], QStringLiteral("1899-12-30"));
    EXPECT_EQ(rows[1][5], rows[0][5]);
    EXPECT_EQ(rows[1].mid(7, 3), rows[0].mid(7, 3));
    EXPECT_EQ(rows[1][4], QStringLiteral("0"));
}

TEST_F(PendingCarPageTest, StartingAnotherReportDiscardsThePendingOne)
{
    report(QStringLiteral("12345678"), waiting);
    control<QPushButton>("BitBtn5")->click();
    typeInto(control<QLineEdit>("DBEdit1"), QStringLiteral("99999999"));
    typeInto(control<QLineEdit>("DBEdit2"), QStringLiteral("Ford"));
    doubleClickRow(0); // a re-issue while the new report is pending
    EXPECT_EQ(control<QLineEdit>("DBEdit1")->text(), QStringLiteral("12345678"));
    chooseStatus(waiting);
    control<QPushButton>("BitBtn6")->click();
    const auto rows = storedRows();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0][0], QStringLiteral("12345678"));
    EXPECT_EQ(rows[1][0], QStringLiteral("12345678"));
}

TEST_F(PendingCarPageTest, DoubleClickWithoutARowDoesNothing)
{
    auto* grid = control<QTableView>("DBGrid1");
    test::doubleClick(grid->viewport(), QPoint(20, 20));
    page->DBGrid1DblClick(0); // no search yet: the grid holds no row
    EXPECT_TRUE(control<QPushButton>("BitBtn5")->isEnabled());
    EXPECT_FALSE(control<QPushButton>("BitBtn6")->isEnabled());
    EXPECT_EQ(db().TevrakT.state(), Dataset::State::Browse);
    EXPECT_TRUE(world.dialogs.messages.empty());
}

TEST_F(PendingCarPageTest, PendingCarsLeaveOutEveryRowOfAFinishedClaim)
{
    report(QStringLiteral("11111111"), waiting);
    report(QStringLiteral("22222222"), waiting);
    // Mode C0 with no finished claim lists every row.
    EXPECT_EQ(gridRows(), (QStringList{QStringLiteral("11111111/1"), QStringLiteral("22222222/1")}));

    report(QStringLiteral("22222222"), finished);
    report(QStringLiteral("O'33333"), waiting);
    report(QStringLiteral("O'33333"), finished);
    report(QStringLiteral("44444444"), waiting);
    EXPECT_EQ(gridRows(), (QStringList{QStringLiteral("11111111/1"), QStringLiteral("44444444/1")}));
    EXPECT_EQ(db().TevrakQ2.sql().value(1), QStringLiteral("where claimno not in ('22222222','O''33333')"));
    EXPECT_TRUE(world.dialogs.texts().filter(QStringLiteral("rror")).isEmpty());
}

TEST_F(PendingCarPageTest, SearchByReportDateAndByClaimRefreshAfterEverySave)
{
    today = QDate(2024, 3, 4);
    report(QStringLiteral("11111111"), waiting);
    today = QDate(2024, 3, 5);
    report(QStringLiteral("22222222"), waiting);

    // C1: the reports saved on a day (not the garage date, three days earlier).
    auto* dateBox = control<platform::DateBox>("DateEdit1");
    control<QRadioButton>("C1")->click();
    EXPECT_FALSE(control<QTableView>("DBGrid1")->isEnabled());
    dateBox->setDate(QDate(2024, 3, 4));
    control<QPushButton>("BitBtn9")->click();
    EXPECT_EQ(gridRows(), QStringList{QStringLiteral("11111111/1")});
    dateBox->setDate(QDate(2024, 3, 2));
    control<QPushButton>("BitBtn9")->click();
    EXPECT_TRUE(gridRows().isEmpty());
    dateBox->clear();
    control<QPushButton>("BitBtn9")->click();
    EXPECT_TRUE(gridRows().isEmpty());

    // Saving in mode C1 re-runs the search of today's date; the grid stays disabled.
    dateBox->setDate(today);
    report(QStringLiteral("33333333"), waiting);
    EXPECT_EQ(gridRows(), (QStringList{QStringLiteral("22222222/1"), QStringLiteral("33333333/1")}));
    EXPECT_FALSE(control<QTableView>("DBGrid1")->isEnabled());

    // C2: the reports of one claim, refreshed after a save.
    control<QRadioButton>("C2")->click();
    typeInto(control<QLineEdit>("Edit2"), QStringLiteral("11111111"));
    control<QPushButton>("BitBtn9")->click();
    EXPECT_EQ(gridRows(), QStringList{QStringLiteral("11111111/1")});
    report(QStringLiteral("11111111"), finished);
    EXPECT_EQ(gridRows(), (QStringList{QStringLiteral("11111111/1"), QStringLiteral("11111111/2")}));
    EXPECT_FALSE(control<QTableView>("DBGrid1")->isEnabled());

    // C0 again: the grid is enabled and refreshed after a save.
    control<QRadioButton>("C0")->click();
    EXPECT_TRUE(control<QTableView>("DBGrid1")->isEnabled());
    report(QStringLiteral("55555555"), waiting);
    EXPECT_EQ(gridRows(), (QStringList{QStringLiteral("22222222/1"), QStringLiteral("33333333/1"),
                                       QStringLiteral("55555555/1")}));
}

TEST_F(PendingCarPageTest, TypingChoosesTheSearchMode)
{
    auto* edit2 = control<QLineEdit>("Edit2");
    auto* dateBox = control<platform::DateBox>("DateEdit1");
    typeInto(edit2, QStringLiteral("1"));
    EXPECT_TRUE(control<QRadioButton>("C2")->isChecked());
    EXPECT_TRUE(dateBox->isEmptyDate());
    EXPECT_FALSE(control<QTableView>("DBGrid1")->isEnabled());
    EXPECT_EQ(edit2->text(), QStringLiteral("1"));

    dateBox->lineEdit()->setFocus();
    dateBox->lineEdit()->home(false);
    QTest::keyClick(dateBox->lineEdit(), Qt::Key_0);
    EXPECT_TRUE(control<QRadioButton>("C1")->isChecked());
    EXPECT_TRUE(edit2->text().isEmpty());

    // Backspace counts as typing too.
    typeInto(edit2, QStringLiteral("12"));
    dateBox->setDate(today);
    QTest::keyClick(dateBox->lineEdit(), Qt::Key_Backspace);
    EXPECT_TRUE(control<QRadioButton>("C1")->isChecked());
    EXPECT_TRUE(edit2->text().isEmpty());
    edit2->setFocus();
    QTest::keyClick(edit2, Qt::Key_Backspace);
    EXPECT_TRUE(control<QRadioButton>("C2")->isChecked());
    EXPECT_TRUE(dateBox->isEmptyDate());

    control<QRadioButton>("C0")->click();
    EXPECT_TRUE(control<QTableView>("DBGrid1")->isEnabled());
}

TEST_F(PendingCarPageTest, PastingAClaimNumberChoosesTheClaimSearchAsTypingDoes)
{
    auto* edit2 = control<QLineEdit>("Edit2");
    auto* dateBox = control<platform::DateBox>("DateEdit1");
    QGuiApplication::clipboard()->setText(QStringLiteral("87654321"));
    const auto chooseDateSearch = [&] {
        dateBox->setDate(today);
        QTest::keyClick(dateBox->lineEdit(), Qt::Key_Backspace);
        ASSERT_TRUE(control<QRadioButton>("C1")->isChecked());
    };

    chooseDateSearch();
    edit2->setFocus();
    QTest::keyClick(edit2, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(edit2->text(), QStringLiteral("87654321"));
    EXPECT_TRUE(control<QRadioButton>("C2")->isChecked());
    EXPECT_TRUE(dateBox->isEmptyDate());

    chooseDateSearch();
    const std::unique_ptr<QMenu> menu(edit2->createStandardContextMenu());
    QAction* paste = nullptr;
    for (QAction* action : menu->actions()) {
        if (action->text().startsWith(QLatin1String("&Paste")))
            paste = action;
    }
    ASSERT_NE(paste, nullptr);
    paste->trigger();
    EXPECT_EQ(edit2->text(), QStringLiteral("87654321"));
    EXPECT_TRUE(control<QRadioButton>("C2")->isChecked());
    EXPECT_TRUE(dateBox->isEmptyDate());
}

TEST_F(PendingCarPageTest, BoxesTakeOnlyWhatTheirFieldCanHold)
{
    control<QPushButton>("BitBtn5")->click();
    auto* claim = control<QLineEdit>("DBEdit1");
    typeInto(claim, QStringLiteral("1234567890"));
    EXPECT_EQ(claim->text(), QStringLiteral("12345678"));
    auto* brand = control<QLineEdit>("DBEdit2");
    typeInto(brand, QStringLiteral("ab"));
    typeInto(brand, QStringLiteral("中"));
    EXPECT_EQ(brand->text(), QStringLiteral("ab"));
    ASSERT_FALSE(world.dialogs.messages.empty());
    EXPECT_EQ(world.dialogs.last().caption, QStringLiteral("Error"));
    EXPECT_EQ(db().TevrakT.asText(QStringLiteral("Brand")), QStringLiteral("ab"));
    // Thai text of the field's full length fits.
    auto* garage = control<QLineEdit>("DBEdit4");
    typeInto(garage, QString(30, QChar(0x0E01)));
    EXPECT_EQ(db().TevrakT.asText(QStringLiteral("Garage")).size(), 30);
}

} // namespace
