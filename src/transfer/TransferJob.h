#pragma once

#include "records/tables/TableSchema.h"
#include "transfer/TransferLog.h"

#include <QList>
#include <QString>

class QWidget;

namespace tevrak {

struct ProgramValues;
namespace records {
class ClaimDatabase;
class Query;
class Table;
} // namespace records

namespace transfer {
struct TransferForms;

// What the Transfer button does: the register and expense rows never sent
// are copied into the export tables, whose files go into the outbox; the
// outbox's GIF photographs are packed into their claims' archives; one server
// exchange sends the outbox and fetches the branch's files; when it succeeds
// the rows this run exported (exactly those, by their keys) are marked sent.
// Ends with "Transfer Complete" or "Transfer failed".
//
// While photographs are packed and while the exchange runs the main window
// takes no input but keeps repainting, so no row can be saved and no second
// transfer started in the middle of one.
class TransferJob {
public:
    TransferJob(records::ClaimDatabase& database, ProgramValues& values, TransferForms& forms,
                QWidget* mainWindow);

    // The whole job. A database error or a failed copy of an export file into
    // the outbox raises tevrak::Error before anything is packed or sent, and
    // nothing is marked sent.
    void run();
    // The job's first step alone: the unsent rows copied into the export
    // tables and their files into the outbox.
    void exportTables();

    // Bound in milliseconds on every wait for the server during the exchange.
    int ExchangeReadTimeout = 60000;

    // After run(): the keys of the rows this run exported, and whether the
    // exchange succeeded (and why not).
    const QList<records::RowKey>& exportedClaimRows() const { return m_claimRows; }
    const QList<records::RowKey>& exportedExpenseRows() const { return m_expenseRows; }
    bool exchangeSucceeded() const { return m_exchangeOk; }
    const QString& exchangeFailure() const { return m_failure; }

    // The transfer history this job appends to (c:\LOAD\transfer.log).
    TransferLog& log() { return m_log; }

private:
    void exportClaims();
    void exportExpenses();
    void packPhotographs();
    bool exchange();
    void markSent();

    records::ClaimDatabase& m_database;
    ProgramValues& m_values;
    TransferForms& m_forms;
    QWidget* m_mainWindow;
    QList<records::RowKey> m_claimRows;
    QList<records::RowKey> m_expenseRows;
    bool m_exchangeOk = false;
    QString m_failure;
    TransferLog m_log;
};

// Copies an export table's .DB and .PX files into the outbox, replacing the
// copies there. Each copy appears complete or not at all; a failure raises
// tevrak::Error naming the file.
void copyExportFiles(const records::Table& table);

} // namespace transfer
} // namespace tevrak
