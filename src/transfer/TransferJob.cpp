#include "transfer/TransferJob.h"

#include "exchange/LoginU.h"
#include "platform/Dialogs.h"
#include "platform/DriveC.h"
#include "platform/Error.h"
#include "platform/InputBlock.h"
#include "platform/ProgramValues.h"
#include "platform/StagedCopy.h"
#include "records/tables/ClaimDatabase.h"
#include "transfer/ServerCopyMerge.h"
#include "transfer/TransferForms.h"
#include "transfer/ZipfU.h"

#include <QFileInfo>
#include <QWidget>
#include <memory>

namespace tevrak::transfer {

namespace {

using records::Query;
using records::RowKey;
using records::Table;

// Opens the unsent rows of a table into its query; their number.
int openUnsent(Query& query, const QString& selectLine)
{
    query.close();
    query.setSql({selectLine, QStringLiteral("where send='0'")});
    query.open();
    return query.recordCount();
}

void copyClaimRow(const Query& from, Table& to)
{
    to.setText(QStringLiteral("Claimno"), from.asText(QStringLiteral("Claimno")));
    to.setInteger(QStringLiteral("Seq"), from.asInteger(QStringLiteral("Seq")));
    for (const char* field : {"Garage", "Brand", "Regno", "Status"})
        to.setText(QLatin1String(field), from.asText(QLatin1String(field)));
    for (const char* field : {"TevrakDate", "GarageDate", "ReportDate"})
        to.setDate(QLatin1String(field), from.asDate(QLatin1String(field)));
    // Send is left blank: the export copy does not carry the flag.
}

enum class Kind { Text, Integer, Float, Date, Boolean };

struct ExportField {
    const char* name;
    Kind kind;
};

// Every field of an expense row, in the order they are copied.
const ExportField expenseFields[] = {
    {"Claimno", Kind::Text},    {"Seq", Kind::Integer},  {"Typ", Kind::Text},
    {"SurvDate", Kind::Date},   {"From1", Kind::Text},   {"To1", Kind::Text},
    {"Distance1", Kind::Float}, {"From2", Kind::Text},   {"To2", Kind::Text},
    {"Distance2", Kind::Float}, {"From3", Kind::Text},   {"To3", Kind::Text},
    {"Distance3", Kind::Float}, {"Rate", Kind::Float},   {"Total_Dis", Kind::Float},
    {"Distance", Kind::Float},  {"Survey", Kind::Float}, {"Copy", Kind::Float},
    {"Pay", Kind::Float},       {"Home", Kind::Float},   {"Ems", Kind::Float},
    {"Fax", Kind::Float},       {"Other", Kind::Float},  {"Total", Kind::Float},
    {"Userid", Kind::Text},     {"Send", Kind::Boolean}, {"Sysdate", Kind::Date},
};

void copyExpenseRow(const Query& from, Table& to)
{
    for (const ExportField& field : expenseFields) {
        const QString name = QLatin1String(field.name);
        switch (field.kind) {
        case Kind::Text:
            to.setText(name, from.asText(name));
            break;
        case Kind::Integer:
            to.setInteger(name, from.asInteger(name));
            break;
        case Kind::Float:
            to.setFloat(name, from.asFloat(name));
            break;
        case Kind::Date:
            to.setDate(name, from.asDate(name));
            break;
        case Kind::Boolean:
            to.setBoolean(name, from.asBoolean(name));
            break;
        }
    }
}

// Replaces the export table's rows by the query's rows, in one transaction;
// the keys of the rows copied.
QList<RowKey> fillExportTable(Query& rows, Table& exportTable, void (*copyRow)(const Query&, Table&))
{
    QList<RowKey> keys;
    exportTable.close();
    exportTable.replaceRows([&] {
        for (rows.first(); !rows.eof(); rows.next()) {
            exportTable.append();
            copyRow(rows, exportTable);
            exportTable.post();
            keys.append({rows.asText(QStringLiteral("Claimno")), rows.asInteger(QStringLiteral("Seq"))});
        }
    });
    return keys;
}

// "Transfer failed", and under it why, when the exchange knows.
QString failedMessage(const QString& reason)
{
    const QString failed = QStringLiteral("Transfer failed");
    return reason.isEmpty() ? failed : failed + QLatin1Char('\n') + reason;
}

void copyIntoOutbox(const QString& localSource)
{
    const QString target =
        platform::localPath(QStringLiteral("C:\\picture\\Transfer\\") + QFileInfo(localSource).fileName());
    platform::StagedCopy copy(localSource, target);
    copy.commit();
}

} // namespace

void copyExportFiles(const Table& table)
{
    copyIntoOutbox(table.filePath());
    copyIntoOutbox(table.indexFilePath());
}

TransferJob::TransferJob(records::ClaimDatabase& database, ProgramValues& values, TransferForms& forms,
                         QWidget* mainWindow)
    : m_database(database), m_values(values), m_forms(forms), m_mainWindow(mainWindow)
{
}

void TransferJob::run()
{
    m_claimRows.clear();
    m_expenseRows.clear();
    m_exchangeOk = false;
    m_failure.clear();

    platform::InputBlock block(m_mainWindow);
    m_log.started();
    try {
        exportTables();
        packPhotographs();
    } catch (const Error& error) {
        m_log.finished(false, error.message());
        throw;
    }
    m_exchangeOk = exchange();
    m_log.finished(m_exchangeOk, m_failure);
    if (m_exchangeOk)
        markSent();
    block.release();

    if (m_exchangeOk)
        platform::dialogs().showMessage({platform::applicationTitle(), QStringLiteral("Transfer Complete"),
                                         platform::MessageIcon::Information});
    else
        platform::dialogs().showMessage(
            {platform::applicationTitle(), failedMessage(m_failure), platform::MessageIcon::Error});
}

void TransferJob::exportTables()
{
    exportClaims();
    exportExpenses();
}

void TransferJob::exportClaims()
{
    Query& rows = m_database.TevrakQ2;
    if (openUnsent(rows, QStringLiteral("select * from tevrak")) == 0)
        return; // nothing to send: the export table and the outbox stay as they are
    m_claimRows = fillExportTable(rows, m_database.Tevrak2T, copyClaimRow);
    m_log.rowsExported(QStringLiteral("Tevrak2"), m_claimRows.size());
    copyExportFiles(m_database.Tevrak2T);
}

void TransferJob::exportExpenses()
{
    Query& rows = m_database.ExpenseQ2;
    if (openUnsent(rows, QStringLiteral("select * from Expense")) == 0)
        return;
    m_expenseRows = fillExportTable(rows, m_database.Expense2T, copyExpenseRow);
    m_log.rowsExported(QStringLiteral("Expense2"), m_expenseRows.size());
    copyExportFiles(m_database.Expense2T);
}

void TransferJob::packPhotographs()
{
    if (m_forms.Zipf) {
        ZipFile(*m_forms.Zipf);
        return;
    }
    TZipf zipf; // a run without the start-up's window (tests, tools)
    ZipFile(zipf);
}

bool TransferJob::exchange()
{
    // The session form lives for this one exchange; releasing it closes a
    // connection that a failure left open.
    auto login = std::make_unique<TLogin>(m_values, m_forms);
    ServerCopyMerge merger;
    login->session().ReadTimeout = ExchangeReadTimeout;
    login->session().Merger = &merger;
    login->session().OnFileSent = [this](const QString& name, quint64 bytes) {
        m_log.fileSent(name, qint64(bytes));
    };
    login->session().OnFileReceived = [this](const QString& name, quint64 bytes) {
        m_log.fileReceived(name, qint64(bytes));
    };
    login->BitBtn1Click();
    m_failure = login->session().failure();
    return TransferOK;
}

void TransferJob::markSent()
{
    // Exactly the rows this run exported: a row saved while the transfer ran
    // was not in the export files and waits for the next transfer.
    if (!m_claimRows.isEmpty()) {
        m_database.TevrakQ3.close();
        m_database.markSent(QStringLiteral("Tevrak"), m_claimRows);
        m_database.TevrakQ2.close();
    }
    if (!m_expenseRows.isEmpty()) {
        m_database.ExpenseQ3.close();
        m_database.markSent(QStringLiteral("Expense"), m_expenseRows);
        m_database.ExpenseQ2.close();
    }
}

} // namespace tevrak::transfer
