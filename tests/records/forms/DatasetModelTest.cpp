#include "records/forms/DatasetModel.h"
#include "records/tables/ClaimDatabase.h"
#include "support/TestDatabase.h"

#include <gtest/gtest.h>

using tevrak::records::ClaimDatabase;
using tevrak::records::DatasetModel;

namespace {

TEST(DatasetModelTest, ShowsTheOpenResultAndFollowsReopeningAndTheDataSource)
{
    tevrak::test::freshTestDatabase();
    ClaimDatabase db;
    db.openForStartUp();
    for (int seq : {1, 2}) {
        db.ExpenseT.append();
        db.ExpenseT.setText("Claimno", "12345678");
        db.ExpenseT.setInteger("Seq", seq);
        db.ExpenseT.setText("Userid", QStringLiteral("สมชาย"));
        db.ExpenseT.setFloat("Total", seq == 1 ? 46.5 : 486);
        db.ExpenseT.setDate("SurvDate", QDate(2024, 3, seq));
        db.ExpenseT.post();
    }

    DatasetModel model(db.ExpenseQ2Ds, {{"Claimno", QStringLiteral("เลขรับแจ้ง")},
                                        {"Seq", QStringLiteral("ครั้งที่")},
                                        {"Total", QStringLiteral("จำนวนเงิน")},
                                        {"SurvDate", QStringLiteral("วันที่ออกปฎิบัติงาน")},
                                        {"Sysdate", QStringLiteral("วันที่ป้อนข้อมูล")}});
    EXPECT_EQ(model.rowCount(), 0); // the query is closed
    EXPECT_EQ(model.columnCount(), 5);
    EXPECT_EQ(model.headerData(2, Qt::Horizontal).toString(), QStringLiteral("จำนวนเงิน"));
    EXPECT_EQ(model.headerData(2, Qt::Horizontal, Qt::TextAlignmentRole).toInt(), int(Qt::AlignCenter));

    int resets = 0;
    QObject::connect(&model, &QAbstractItemModel::modelReset, [&resets] { ++resets; });
    db.ExpenseQ2.close();
    db.ExpenseQ2.setSql({"select * from expense", "where claimno=:prm"});
    db.ExpenseQ2.setParam(QStringLiteral("12345678"));
    db.ExpenseQ2.open();
    EXPECT_GE(resets, 1);
    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.data(model.index(0, 0)).toString(), QStringLiteral("12345678"));
    EXPECT_EQ(model.data(model.index(1, 1)).toString(), QStringLiteral("2"));
    EXPECT_EQ(model.data(model.index(0, 2)).toString(), QStringLiteral("46.5"));
    EXPECT_EQ(model.data(model.index(1, 2)).toString(), QStringLiteral("486"));
    EXPECT_EQ(model.data(model.index(0, 3)).toString(), QStringLiteral("01/03/2024"));
    EXPECT_EQ(model.data(model.index(0, 4)).toString(), QString()); // blank date shows nothing

    // A grid row chosen by the user becomes the dataset's current row.
    db.ExpenseQ2.moveTo(1);
    EXPECT_EQ(db.ExpenseQ2.asInteger("Seq"), 2);

    db.ExpenseQ2Ds.setEnabled(false);
    EXPECT_EQ(model.rowCount(), 0);
    db.ExpenseQ2Ds.setEnabled(true);
    EXPECT_EQ(model.rowCount(), 2);

    db.ExpenseQ2.close();
    db.ExpenseQ2.setParam(QStringLiteral("99999999"));
    db.ExpenseQ2.open();
    EXPECT_EQ(model.rowCount(), 0);
    db.ExpenseQ2.close();
    EXPECT_EQ(model.rowCount(), 0);
}

} // namespace
