#pragma once

#include "exchange/session/ExchangeSession.h"
#include "records/tables/TableSchema.h"
#include "transfer/job/PhotoPackaging.h"
#include "transfer/job/TransferLog.h"

#include <QList>
#include <QSet>
#include <QString>

namespace tevrak {

class TZip;
namespace records {
class ClaimDatabase;
class Table;
} // namespace records

namespace transfer {

// What the clerk's windows show of the packing of the outbox's documents
// (the exchange has its own ExchangeObserver). Every call comes on the job's
// thread while the job runs.
class TransferObserver {
public:
    virtual ~TransferObserver() = default;
    // One document is about to be packed into its claim's archive, and has been.
    virtual void packingStarted() {}
    virtual void packingEnded() {}
    // Where the packing stands (stage Packing), before each document and when
    // the last is done.
    virtual void progress(const exchange::ProgressReport& /*report*/) {}
    // Between two documents: a chance to take the Cancel button.
    virtual void keepAlive() {}
};

// What a Transfer came to: the exchange's outcome, and the documents the
// packing left in the outbox (not sent; the next Transfer packs them again);
// or that the clerk cancelled it, in the packing or in the exchange.
struct TransferOutcome {
    exchange::ExchangeOutcome exchange;
    QList<UnpackedDocument> unpacked;
    bool cancelled = false;
    // Everything went: the exchange succeeded and no document was left.
    bool complete() const { return exchange.succeeded && unpacked.isEmpty() && !cancelled; }
};

// One Transfer, without a window: the register and expense rows never sent
// are copied into the export tables, whose files go into the outbox; the
// outbox's scanned documents are packed into their claims' archives; one
// server exchange sends the outbox and fetches the branch's files; the rows
// this run exported (exactly those, by their keys) are marked sent when their
// export table and its .PX reached the server, even when another file failed
// or a document could not be packed (it is not a row; it waits in the
// outbox). Every step is recorded in the transfer history.
//
// The clerk may cancel it at any step (Cancel): the job stops at its next
// check (between two documents of the packing, or, in the exchange, within
// a tenth of a second), leaves everything as a kill would, and marks no row
// sent; the next Transfer exports those rows again and goes on from there.
class TransferJob {
public:
    TransferJob(records::ClaimDatabase& database, QString garageName);

    // The whole job. A database error or a failed copy of an export file into
    // the outbox raises tevrak::Error before anything is packed or sent, and
    // nothing is marked sent; the exchange's own failures and the documents
    // left unpacked are the outcome.
    TransferOutcome run();
    // The job's first step alone: the unsent rows copied into the export
    // tables and their files into the outbox.
    void exportTables();

    // Bound in milliseconds on every wait for the server during the exchange.
    int ExchangeReadTimeout = 60000;
    // Shown the packing, and the exchange; either may be null.
    TransferObserver* Observer = nullptr;
    exchange::ExchangeObserver* ExchangeWatcher = nullptr;
    // The clerk's Cancel button; null: the job cannot be cancelled.
    const platform::CancelRequest* Cancel = nullptr;
    // The archive writer that packs the documents (a window may show its
    // progress); null: the job packs with a writer of its own.
    TZip* Packer = nullptr;

    // After run(): the keys of the rows this run exported.
    const QList<records::RowKey>& exportedClaimRows() const { return m_claimRows; }
    const QList<records::RowKey>& exportedExpenseRows() const { return m_expenseRows; }

    const QString& garageName() const { return m_garageName; }

    // The transfer history this job appends to (c:\LOAD\transfer.log).
    TransferLog& log() { return m_log; }

private:
    void exportClaims();
    void exportExpenses();
    PackingResult packDocuments();
    // Throws platform::Cancelled when the clerk asked to stop.
    void stopWhenCancelled() const;
    exchange::ExchangeOutcome exchange();
    void markSent();
    bool reachedServer(const records::Table& exportTable) const;

    records::ClaimDatabase& m_database;
    QString m_garageName;
    QList<records::RowKey> m_claimRows;
    QList<records::RowKey> m_expenseRows;
    TransferLog m_log;
    QSet<QString> m_sentNames; // case-folded names of the outbox files this run sent
};

// Copies an export table's .DB and .PX files into the outbox, replacing the
// copies there. Each copy appears complete or not at all; a failure raises
// tevrak::Error naming the file.
void copyExportFiles(const records::Table& table);

} // namespace transfer
} // namespace tevrak
