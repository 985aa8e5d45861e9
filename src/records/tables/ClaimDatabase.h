#pragma once

#include "records/tables/DataSource.h"
#include "records/tables/DatabaseConnection.h"
#include "records/tables/Query.h"
#include "records/tables/Table.h"

#include <QObject>

namespace tevrak::records {

// The local claim database: one dataset object per table and query, with the
// data sources the forms bind to. The main window owns one; the tabs, the
// enquiry and requester dialogs and the transfer job use its members by name.
//
// Each table is its own SQLite file in the database folder C:\claim\db
// (Tevrak.DB, Tevrak2.DB, Expense.DB, Expense2.DB, Status.DB, USER.db),
// attached to one connection, so the query texts name the tables plainly. The
// program never creates a table file: a missing one is an error naming the
// file (tools/tevrak-init and createEmptyTables() make them).
//
// Typical uses:
//   db.TevrakQ.close(); db.TevrakQ.setParam(claimno); db.TevrakQ.open();
//   const int seq = db.TevrakQ.asInteger("MAX OF Seq") + 1;   // blank is 0
//
//   db.ExpenseT.append(); db.ExpenseT.setText("Claimno", claimno);
//   db.ExpenseT.setInteger("Seq", seq); ...; db.ExpenseT.post();
//
//   db.TevrakQ2.close(); db.TevrakQ2.setSql({"select * from tevrak", "where send='0'"});
//   db.TevrakQ2.open(); for (db.TevrakQ2.first(); !db.TevrakQ2.eof(); db.TevrakQ2.next()) ...
//
// Every dataset starts closed with its standard text; every data source
// starts enabled except TevrakTDs and ExpenseTDs.
class ClaimDatabase : public QObject {
    Q_OBJECT

    DatabaseConnection m_connection; // first: the datasets below use it

public:
    // `folder` empty: the database folder C:\claim\db of drive C:.
    explicit ClaimDatabase(const QString& folder = {}, QObject* parent = nullptr);
    ~ClaimDatabase() override;

    // The folder holding the table files.
    QString folder() const { return m_connection.folder(); }

    // The main window's initialisation: opens TevrakT, StatusT, ExpenseT and
    // Expense2T, closes Tevrak2T and every query. It stops at the first
    // table that cannot be opened, raising that error. UserT is opened by the
    // main window itself when it is created.
    void openForStartUp();

    // Sets Send true on exactly the rows of `table` ("Tevrak" or "Expense")
    // with these keys, all in one transaction; the number of rows changed.
    int markSent(const QString& table, const QList<RowKey>& keys);

    // The earliest GarageDate ("the day the car came in") among the claim's
    // rows of the register; a null date when the claim has no row with a real
    // date (blank dates are left out).
    QDate earliestGarageDate(const QString& claimNumber);

    // Tables and queries
    Table TevrakT;   // Tevrak.DB
    Query TevrakQ;   // select max(Seq) from tevrak / where claimno=:prm
    Query TevrakQ2;  // select * from tevrak (text rebuilt by its users)
    Query TevrakQ3;  // update tevrak / set send='1' / where send='0'
    Query TevrakQ4;  // select distinct claimno from tevrak / where status='ซ่อมเสร็จ'
    Table Tevrak2T;  // Tevrak2.DB (export copy)
    Table StatusT;   // Status.DB
    Table ExpenseT;  // Expense.DB
    Table Expense2T; // Expense2.DB (export copy)
    Query ExpenseQ;  // select max(Seq) from Expense / where claimno=:prm
    Query ExpenseQ2; // select * from expense / where claimno=:prm (text rebuilt by its users)
    Query ExpenseQ3; // update expense / set send='1' / where send='0'
    Table UserT;     // USER.db

    // Data sources
    DataSource TevrakTDs; // disabled until a new report is started
    DataSource TevrakQ2Ds;
    DataSource StatusTDs;
    DataSource ExpenseTDs; // disabled until a summary is started or found
    DataSource ExpenseQ2Ds;
    DataSource UserTDs;
};

} // namespace tevrak::records
