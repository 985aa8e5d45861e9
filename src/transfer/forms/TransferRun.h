#pragma once

#include "transfer/job/TransferJob.h"

class QWidget;

namespace tevrak {

struct ProgramValues;
namespace records {
class ClaimDatabase;
}

namespace transfer {

struct TransferForms;

// What the Transfer button does: one TransferJob with its windows. While the
// documents are packed ("Process Zip...") and while the exchange runs
// ("Copying...") the main window takes no input but keeps repainting, so no
// row can be saved and no second Transfer started in the middle of one; the
// Cancel buttons of those two windows stop it. Ends with "Transfer Complete",
// "Transfer failed" with the reasons under it (the exchange's failure, and
// each document left unpacked in the outbox), or that the Transfer was
// cancelled; the box's details list this Transfer's lines of the history.
class TransferRun {
public:
    TransferRun(records::ClaimDatabase& database, const ProgramValues& values, TransferForms& forms,
                QWidget* mainWindow);

    // The whole Transfer. A database error or a failed copy of an export file
    // into the outbox raises tevrak::Error before anything is packed or sent.
    void run();

    // Bound in milliseconds on every wait for the server during the exchange.
    int ExchangeReadTimeout = 60000;
    // After run(): why the exchange failed (empty when it succeeded).
    const QString& exchangeFailure() const { return m_outcome.exchange.failure; }
    const TransferOutcome& outcome() const { return m_outcome; }

private:
    TransferJob m_job;
    TransferForms& m_forms;
    QWidget* m_mainWindow;
    TransferOutcome m_outcome;
};

} // namespace transfer
} // namespace tevrak
