// The arithmetic, date checks, search texts and the date box of the claim
// record forms, without a database.

#include "platform/widgets/DateBox.h"
#include "platform/core/Error.h"
#include "records/tables/ExpenseCalculation.h"
#include "records/tables/RecordDates.h"
#include "records/tables/SearchTexts.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace tevrak;
using namespace tevrak::records;

TEST(CalRate, LegsRateAndTotalFollowTheFields)
{
    // Legs of 10, 5.5 and 0 km at 3 baht: 15.5 km, 46.5 baht, total 46.5.
    ExpenseAmounts a;
    a.distance1 = 10;
    a.distance2 = 5.5;
    a.rate = 3;
    ExpenseTotals t = CalRate(a);
    EXPECT_DOUBLE_EQ(t.totalDistance, 15.5);
    EXPECT_DOUBLE_EQ(t.travelCost, 46.5);
    EXPECT_DOUBLE_EQ(t.total, 46.5);

    // 12 km at 3 baht, survey fee 300, allowance 150: 486.
    ExpenseAmounts b;
    b.distance1 = 12;
    b.rate = 3;
    b.survey = 300;
    b.pay = 150;
    EXPECT_DOUBLE_EQ(CalRate(b).total, 486);

    // Home, Ems and Fax have no box but count; nothing is rounded.
    ExpenseAmounts c;
    c.distance3 = 0.1;
    c.rate = 0.5;
    c.home = 1;
    c.ems = 2;
    c.fax = 4;
    c.copy = 0.25;
    c.other = -3;
    t = CalRate(c);
    EXPECT_DOUBLE_EQ(t.travelCost, 0.05);
    EXPECT_DOUBLE_EQ(t.total, 0.05 + 0.25 + 1 + 2 + 4 - 3);
}

TEST(AmountText, ReadsNumbersAndRefusesTheRest)
{
    EXPECT_FALSE(readAmount(QString()).has_value());
    EXPECT_FALSE(readAmount(QStringLiteral("   ")).has_value());
    EXPECT_DOUBLE_EQ(*readAmount(QStringLiteral("15.5")), 15.5);
    EXPECT_DOUBLE_EQ(*readAmount(QStringLiteral("-2")), -2);
    EXPECT_DOUBLE_EQ(*readAmount(QStringLiteral("1e3")), 1000);
    for (const char* bad : {"1.2.3", "--1", "e", "12abc", "inf", "nan", "1,5"}) {
        try {
            readAmount(QString::fromLatin1(bad));
            ADD_FAILURE() << bad << " was read as a number";
        } catch (const Error& e) {
            EXPECT_EQ(e.message(),
                      QStringLiteral("ค่าที่ป้อนไม่ใช่ตัวเลข\n'%1'").arg(QLatin1String(bad)));
        }
    }
    EXPECT_EQ(formatAmount(486), QStringLiteral("486"));
    EXPECT_EQ(formatAmount(46.5), QStringLiteral("46.5"));
    EXPECT_TRUE(isNumberCharacter(QLatin1Char('E')));
    EXPECT_FALSE(isNumberCharacter(QLatin1Char(',')));
    EXPECT_FALSE(isNumberCharacter(QChar(0x0E51))); // Thai digit one
}

TEST(RecordDateChecks, ChristianEraYearAndFuture)
{
    EXPECT_TRUE(hasChristianEraYear(QDate(2040, 12, 31)));
    EXPECT_TRUE(hasChristianEraYear(QDate(2000, 1, 1)));
    EXPECT_TRUE(hasChristianEraYear(QDate(1940, 6, 1)));
    EXPECT_FALSE(hasChristianEraYear(QDate(2041, 1, 1)));
    EXPECT_FALSE(hasChristianEraYear(QDate(2548, 1, 1))); // Buddhist era typed for 2005
    EXPECT_FALSE(hasChristianEraYear(QDate()));           // empty box: 30/12/1899

    const QDate today(2024, 3, 5);
    EXPECT_TRUE(isNotInFuture(today, today));
    EXPECT_TRUE(isNotInFuture(today.addDays(-1), today));
    EXPECT_FALSE(isNotInFuture(today.addDays(1), today));
    EXPECT_EQ(effectiveDate(QDate()), QDate(1899, 12, 30));
}

TEST(SearchTexts, PendingCarsAndTheOtherModes)
{
    EXPECT_EQ(search::pendingCars({}), QStringList{QStringLiteral("select * from tevrak")});
    EXPECT_EQ(search::pendingCars({QStringLiteral("12345678"), QStringLiteral("23456789")}),
              (QStringList{QStringLiteral("select * from tevrak"),
                           QStringLiteral("where claimno not in ('12345678','23456789')")}));
    // A quote in a claim number stays inside its literal.
    EXPECT_EQ(search::pendingCars({QStringLiteral("AB'1) or (1=1")}).at(1),
              QStringLiteral("where claimno not in ('AB''1) or (1=1')"));
    EXPECT_EQ(search::byReportDate().at(1), QStringLiteral("where reportdate=:prm"));
    EXPECT_EQ(search::byClaimNumber().at(1), QStringLiteral("where Claimno=:prm"));
    EXPECT_EQ(search::expensesOfClaim(),
              (QStringList{QStringLiteral("select * from expense"), QStringLiteral("where claimno=:prm")}));
}

TEST(DateBox, EmptyTypedAndInvalidDates)
{
    platform::DateBox box;
    EXPECT_EQ(box.displayText(), QStringLiteral("  /  /    "));
    EXPECT_TRUE(box.isEmptyDate());
    EXPECT_FALSE(box.date().isValid());

    box.setDate(QDate(2024, 3, 5));
    EXPECT_EQ(box.displayText(), QStringLiteral("05/03/2024"));
    EXPECT_EQ(box.date(), QDate(2024, 3, 5));

    box.setText(QStringLiteral("  /  /  "));
    EXPECT_TRUE(box.isEmptyDate());
    EXPECT_EQ(box.displayText(), QStringLiteral("  /  /    "));

    box.setText(QStringLiteral("31/02/2024"));
    EXPECT_FALSE(box.isEmptyDate());
    EXPECT_FALSE(box.date().isValid());
    box.setText(QStringLiteral("12/03/20")); // half typed
    EXPECT_FALSE(box.date().isValid());

    // Typing goes through the mask: only digits, separators skipped.
    box.clear();
    QSignalSpy typed(&box, &platform::DateBox::keyTyped);
    box.lineEdit()->setCursorPosition(0);
    QTest::keyClicks(box.lineEdit(), QStringLiteral("0x1012548"));
    EXPECT_EQ(box.displayText(), QStringLiteral("01/01/2548"));
    EXPECT_EQ(box.date(), QDate(2548, 1, 1));
    EXPECT_EQ(typed.count(), 9);
    QTest::keyClick(box.lineEdit(), Qt::Key_Backspace);
    EXPECT_EQ(typed.count(), 10);

    QSignalSpy calendar(&box, &platform::DateBox::calendarClicked);
    box.calendarButton()->click();
    EXPECT_EQ(calendar.count(), 1);
}
