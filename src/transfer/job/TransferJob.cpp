#include "transfer/job/TransferJob.h"

#include "platform/core/DriveC.h"
#include "platform/core/Error.h"
#include "platform/core/StagedCopy.h"
#include "records/tables/ClaimDatabase.h"
#include "transfer/job/PhotoPackaging.h"
#include "transfer/job/ServerCopyMerge.h"
#include "zip/Zip.h"

#include <QFileInfo>

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

// The outcome's failure in the history's last line of the Transfer: the
// exchange's, and the documents left in the outbox.
QString failureForHistory(const TransferOutcome& outcome)
{
    QStringList failures;
    if (!outcome.exchange.succeeded)
        failures << outcome.exchange.failure;
    if (!outcome.unpacked.isEmpty()) {
        QStringList names;
        for (const UnpackedDocument& document : outcome.unpacked)
            names << document.name;
        failures << QStringLiteral("not packed: %1").arg(names.join(QStringLiteral(", ")));
    }
    return failures.join(QStringLiteral("; "));
}

void copyIntoOutbox(const QString& localSource)
{
    const QString target =
        platform::localPath(platform::paths::outbox + QLatin1Char('\\') + QFileInfo(localSource).fileName());
    platform::StagedCopy copy(localSource, target);
    copy.commit();
}

} // namespace

void copyExportFiles(const Table& table)
{
    copyIntoOutbox(table.filePath());
    copyIntoOutbox(table.indexFilePath());
}

TransferJob::TransferJob(records::ClaimDatabase& database, QString garageName)
    : m_database(database), m_garageName(std::move(garageName))
{
}

TransferOutcome TransferJob::run()
{
    m_claimRows.clear();
    m_expenseRows.clear();

    m_log.started();
    TransferOutcome outcome;
    try {
        exportTables();
        stopWhenCancelled();
        outcome.unpacked = packDocuments().unpacked;
        stopWhenCancelled();
    } catch (const platform::Cancelled&) {
        outcome.cancelled = true;
        m_log.cancelled();
        return outcome;
    } catch (const Error& error) {
        m_log.finished(false, error.message());
        throw;
    }
    outcome.exchange = exchange();
    if (outcome.exchange.cancelled) {
        // As after a kill: the rows wait for the next Transfer, whose export
        // holds them again (the server's copy takes ours over theirs by key).
        outcome.cancelled = true;
        m_log.cancelled();
        return outcome;
    }
    m_log.finished(outcome.complete(), failureForHistory(outcome));
    markSent();
    return outcome;
}

void TransferJob::stopWhenCancelled() const
{
    if (Cancel && Cancel->requested())
        throw platform::Cancelled();
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

PackingResult TransferJob::packDocuments()
{
    TZip ownPacker;
    TZip& packer = Packer ? *Packer : ownPacker;
    if (!Packer)
        applyPackagingSettings(packer);
    TransferObserver silent;
    TransferObserver& shown = Observer ? *Observer : silent;
    const QStringList documents = outboxGifs();
    // A document's size is read again as its run begins: it may have been
    // renamed to the archive's next free number by then.
    const auto sizeOf = [](const QString& name) { return quint64(QFileInfo(platform::localPath(fileSpec(name))).size()); };
    quint64 total = 0;
    for (const QString& name : documents)
        total += sizeOf(name);
    exchange::ProgressMeter meter(exchange::ProgressStage::Packing, int(documents.size()), total);
    const PackingResult result = packOutboxGifs(
        packer, m_log, documents,
        [&](const QString& name) {
            meter.startFile(name, sizeOf(name));
            shown.progress(meter.takeReport());
            shown.keepAlive();
            stopWhenCancelled(); // between two documents, as a kill there would
            shown.packingStarted();
        },
        [&shown] { shown.packingEnded(); });
    meter.finishFile();
    if (!documents.isEmpty())
        shown.progress(meter.takeReport());
    return result;
}

exchange::ExchangeOutcome TransferJob::exchange()
{
    exchange::ExchangeSession session(m_garageName);
    ServerCopyMerge merger;
    merger.OnNote = [this](const QString& event) { m_log.serverNote(event); };
    session.ReadTimeout = ExchangeReadTimeout;
    session.Observer = ExchangeWatcher;
    session.Cancel = Cancel;
    session.Merger = &merger;
    m_sentNames.clear();
    session.OnFileSent = [this](const QString& name, quint64 bytes) {
        m_sentNames.insert(name.toCaseFolded());
        m_log.fileSent(name, qint64(bytes));
    };
    session.OnFileFailed = [this](const QString& name, const QString& reason) { m_log.fileFailed(name, reason); };
    session.OnFileLeft = [this](const QString& name, const QString& reason) {
        m_log.fileLeftOnServer(name, reason);
    };
    session.OnFileReceived = [this](const QString& name, quint64 bytes) {
        m_log.fileReceived(name, qint64(bytes));
    };
    // The session closes a connection that a failure left open when it ends.
    return session.run();
}

bool TransferJob::reachedServer(const records::Table& exportTable) const
{
    const auto sent = [this](const QString& path) {
        return m_sentNames.contains(QFileInfo(path).fileName().toCaseFolded());
    };
    return sent(exportTable.filePath()) && sent(exportTable.indexFilePath());
}

void TransferJob::markSent()
{
    // Exactly the rows this run exported, and only those whose export table
    // (with its .PX) reached the server: a row saved while the transfer ran
    // was not in the export files and waits for the next transfer, and so do
    // the rows of a table that could not be sent.
    if (!m_claimRows.isEmpty() && reachedServer(m_database.Tevrak2T)) {
        m_database.TevrakQ3.close();
        m_database.markSent(QStringLiteral("Tevrak"), m_claimRows);
        m_database.TevrakQ2.close();
    }
    if (!m_expenseRows.isEmpty() && reachedServer(m_database.Expense2T)) {
        m_database.ExpenseQ3.close();
        m_database.markSent(QStringLiteral("Expense"), m_expenseRows);
        m_database.ExpenseQ2.close();
    }
}

} // namespace tevrak::transfer
