// The enquiry and requester dialogs on their own, shown as the survey tab
// shows them.

#include "RecordFormsTestUtil.h"

#include "records/forms/EnquiryU.h"
#include "records/forms/FieldControls.h"
#include "records/forms/FormUserU.h"

#include <QPushButton>
#include <QScreen>
#include <QTableView>

using namespace tevrak;
using namespace tevrak::records;
using tevrak::test::rowsInFile;
using tevrak::test::typeInto;

namespace {

class EnquiryDialogTest : public ::testing::Test {
protected:
    EnquiryDialogTest()
    {
        for (int seq = 1; seq <= 3; ++seq)
            addSummary(QStringLiteral("12345678"), seq, 100.0 * seq);
        addSummary(QStringLiteral("99999999"), 1, 5);
    }

    ClaimDatabase& db() { return *world.database; }

    void addSummary(const QString& claim, int seq, double total)
    {
        Table& t = db().ExpenseT;
        t.append();
        t.setText(QStringLiteral("Claimno"), claim);
        t.setInteger(QStringLiteral("Seq"), seq);
        t.setText(QStringLiteral("Typ"), QStringLiteral("1"));
        t.setText(QStringLiteral("Userid"), QStringLiteral("somchai"));
        t.setFloat(QStringLiteral("Total"), total);
        t.setDate(QStringLiteral("SurvDate"), QDate(2024, 3, seq));
        t.setDate(QStringLiteral("Sysdate"), QDate(2024, 3, 5));
        t.post();
    }

    test::FormsWorld world;
    TEnquiry enquiry;
};

TEST_F(EnquiryDialogTest, SecondShowingStartsEmptyAndAChosenRowIsReturned)
{
    EXPECT_EQ(enquiry.windowTitle(), QStringLiteral("Enquiry"));
    EXPECT_FALSE(enquiry.windowFlags() & Qt::WindowCloseButtonHint);

    // First showing: search, then cancel.
    world.dialogs.answerNextModal([](QWidget& form) {
        auto& dialog = static_cast<TEnquiry&>(form);
        EXPECT_TRUE(dialog.Edit1->text().isEmpty());
        typeInto(dialog.Edit1, QStringLiteral("12345678"));
        dialog.BitBtn1->click();
        auto* model = dialog.DBGrid1->model();
        EXPECT_EQ(model->rowCount(), 3);
        EXPECT_EQ(model->columnCount(), 6);
        EXPECT_EQ(model->headerData(3, Qt::Horizontal).toString(), QStringLiteral("จำนวนเงิน"));
        EXPECT_EQ(model->index(2, 3).data().toString(), QStringLiteral("300"));
        dialog.BitBtn2->click();
        return 0;
    });
    EXPECT_EQ(enquiry.showFor(db()), 0);
    EXPECT_EQ(enquiry.Tag, 0);

    // Second showing: empty box, empty grid; a search that finds nothing
    // keeps the dialog open; then the second of three rows is chosen.
    world.dialogs.answerNextModal([this](QWidget& form) {
        auto& dialog = static_cast<TEnquiry&>(form);
        dialog.show();
        EXPECT_TRUE(dialog.Edit1->text().isEmpty());
        EXPECT_EQ(dialog.DBGrid1->model()->rowCount(), 0);
        EXPECT_FALSE(db().ExpenseQ2.isOpen());

        typeInto(dialog.Edit1, QStringLiteral("00000000"));
        dialog.BitBtn1->click();
        EXPECT_EQ(world.dialogs.last().text, QStringLiteral("Record not found"));
        EXPECT_EQ(world.dialogs.last().icon, platform::MessageIcon::Error);
        EXPECT_EQ(dialog.Tag, 0);
        // A double-click on a grid with no row does nothing.
        test::doubleClick(dialog.DBGrid1->viewport(), QPoint(30, 10));
        dialog.DBGrid1DblClick(0);
        EXPECT_EQ(dialog.Tag, 0);

        test::retype(dialog.Edit1, QStringLiteral("12345678"));
        dialog.BitBtn1->click();
        const QRect cell = dialog.DBGrid1->visualRect(dialog.DBGrid1->model()->index(1, 2));
        test::doubleClick(dialog.DBGrid1->viewport(), cell.center());
        EXPECT_FALSE(dialog.isVisible());
        return dialog.result();
    });
    EXPECT_EQ(enquiry.showFor(db()), 1);
    EXPECT_EQ(enquiry.Tag, 1);
    EXPECT_EQ(enquiry.result(), 1);
    ASSERT_TRUE(db().ExpenseQ2.isOpen());
    EXPECT_EQ(db().ExpenseQ2.asText(QStringLiteral("Claimno")), QStringLiteral("12345678"));
    EXPECT_EQ(db().ExpenseQ2.asInteger(QStringLiteral("Seq")), 2);

    // The result is not reset by a showing; Escape acts as Cancel.
    world.dialogs.answerNextModal([](QWidget& form) {
        EXPECT_EQ(static_cast<TEnquiry&>(form).Tag, 1);
        static_cast<TEnquiry&>(form).reject();
        return 0;
    });
    EXPECT_EQ(enquiry.showFor(db()), 0);
}

TEST_F(EnquiryDialogTest, RequesterDialogRefusesABlankOrRepeatedId)
{
    TFormUser formUser;
    EXPECT_TRUE(formUser.windowTitle().isEmpty());
    const QString users = QStringLiteral("select USERID from USER");
    world.dialogs.answerNextModal([this](QWidget& form) {
        auto& dialog = static_cast<TFormUser&>(form);
        dialog.Button1->click(); // nothing typed
        EXPECT_EQ(world.dialogs.last().text, QStringLiteral("กรุณาป้อนผู้ขออนุมัติ"));
        typeInto(dialog.DBEdit1, QStringLiteral("somchai"));
        dialog.Button1->click();
        return dialog.result();
    });
    EXPECT_EQ(formUser.showFor(db()), 1);
    EXPECT_EQ(rowsInFile(QStringLiteral("USER.db"), users),
              (QList<QStringList>{{QStringLiteral("somchai")}}));

    world.dialogs.messages.clear();
    world.dialogs.answerNextModal([this](QWidget& form) {
        auto& dialog = static_cast<TFormUser&>(form);
        typeInto(dialog.DBEdit1, QStringLiteral("somchai"));
        dialog.Button1->click();
        EXPECT_EQ(world.dialogs.texts(),
                  QStringList{QStringLiteral("มีชื่อผู้ขออนุมัตินี้ในรายการแล้ว")});
        dialog.reject(); // Escape: cancel
        return 0;
    });
    EXPECT_EQ(formUser.showFor(db()), 0);
    EXPECT_EQ(db().UserT.state(), Dataset::State::Browse);
    EXPECT_EQ(rowsInFile(QStringLiteral("USER.db"), users).size(), 1);
}

// The main window, and with it the database, may close before the dialogs do.
TEST_F(EnquiryDialogTest, BothDialogsLetGoOfADatabaseThatGoesAndTakeTheNextOne)
{
    TFormUser formUser;
    world.dialogs.answerNextModal([](QWidget&) { return 0; });
    world.dialogs.answerNextModal([](QWidget&) { return 0; });
    EXPECT_EQ(enquiry.showFor(db()), 0);
    EXPECT_EQ(formUser.showFor(db()), 0);
    ASSERT_NE(enquiry.DBGrid1->model(), nullptr);

    world.database.reset();
    EXPECT_EQ(enquiry.DBGrid1->model(), nullptr);
    formUser.DBEdit1->setText(QStringLiteral("left over")); // no binding may carry this anywhere
    formUser.Button1->click();
    enquiry.BitBtn1->click();
    EXPECT_TRUE(world.dialogs.texts().isEmpty()) << world.dialogs.texts().join('|').toStdString();

    world.database = std::make_unique<ClaimDatabase>();
    db().openForStartUp();
    db().UserT.open();
    world.dialogs.answerNextModal([](QWidget& form) {
        auto& dialog = static_cast<TFormUser&>(form);
        EXPECT_TRUE(dialog.DBEdit1->text().isEmpty());
        typeInto(dialog.DBEdit1, QStringLiteral("somchai"));
        dialog.Button1->click();
        return dialog.result();
    });
    EXPECT_EQ(formUser.showFor(db()), 1);
    EXPECT_EQ(rowsInFile(QStringLiteral("USER.db"), QStringLiteral("select USERID from USER")),
              (QList<QStringList>{{QStringLiteral("somchai")}}));
    world.dialogs.answerNextModal([](QWidget& form) {
        auto& dialog = static_cast<TEnquiry&>(form);
        typeInto(dialog.Edit1, QStringLiteral("12345678"));
        dialog.BitBtn1->click();
        EXPECT_EQ(dialog.DBGrid1->model()->rowCount(), 3);
        return 0;
    });
    EXPECT_EQ(enquiry.showFor(db()), 0);
}

TEST_F(EnquiryDialogTest, BothDialogsOpenInTheMiddleOfTheScreenWithTheFocusInTheirBox)
{
    TFormUser formUser;
    const QList<std::pair<QDialog*, QWidget*>> dialogs{{&enquiry, enquiry.Edit1},
                                                       {&formUser, formUser.DBEdit1}};
    for (const auto& [dialog, box] : dialogs) {
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
        const QPoint middle = dialog->screen()->availableGeometry().center();
        EXPECT_LE((dialog->frameGeometry().center() - middle).manhattanLength(), 8) // frame and rounding
            << dialog->objectName().toStdString();
        EXPECT_EQ(dialog->focusWidget(), box) << dialog->objectName().toStdString();
        dialog->hide();
    }
}

} // namespace
