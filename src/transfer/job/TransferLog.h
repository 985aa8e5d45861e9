#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace tevrak::transfer {

// The transfer history beside the downloads, c:\LOAD\transfer.log: one UTF-8
// line per event ("2026-12-09 14:03:11 sent 12345678001.jpg (52311 bytes)"),
// only ever appended to. Each line goes to the file in one write; a line that
// a killed program or a full disk left without its line end is kept as it is
// and the next event starts on a line of its own. When the file has reached
// the rotation size it becomes transfer.log.1 (replacing the older one) and a
// new file is started.
//
// Writing the history never interrupts a transfer: an event that cannot be
// written is left out.
class TransferLog {
public:
    static constexpr qint64 defaultRotationSize = 1024 * 1024;

    // The workstation's log, c:\LOAD\transfer.log.
    TransferLog();
    explicit TransferLog(const QString& filePath, qint64 rotationSize = defaultRotationSize);

    void started();
    void fileSent(const QString& name, qint64 size);
    void fileReceived(const QString& name, qint64 size);
    void rowsExported(const QString& table, qsizetype count);
    // A file that could not be sent or fetched this time, and why.
    void fileFailed(const QString& name, const QString& reason);
    // A listed download that stays on the server on purpose, and why.
    void fileLeftOnServer(const QString& name, const QString& reason);
    // Any other event of the Transfer, in words.
    void note(const QString& event);
    // The packing of the outbox's documents into their claims' archives: a
    // document given the claim's next free document number because the
    // archive holds a different one of its name; one whose contents the
    // archive already holds (moved to the trash, or with the reason it could
    // not be); one that stays in the outbox unpacked, with the cause.
    void documentRenamed(const QString& from, const QString& to);
    void documentAlreadyPacked(const QString& name, const QString& archive, const QString& trashFailure = {});
    void documentNotPacked(const QString& name, const QString& archive, const QString& cause);
    // What the exchange found on the server and did about it (a server copy
    // kept aside, rows skipped, documents renumbered), on one line.
    void serverNote(const QString& event);
    // The outcome; a failure with its reason.
    void finished(bool ok, const QString& failureReason = {});
    // The clerk stopped the Transfer.
    void cancelled();

    // The events since started(), as written (for the clerk's result box),
    // also those that could not be written to the file.
    const QStringList& linesOfThisRun() const { return m_thisRun; }

    const QString& filePath() const { return m_filePath; }
    QString oldFilePath() const { return m_filePath + QStringLiteral(".1"); }

private:
    void append(const QString& event);

    QString m_filePath;
    qint64 m_rotationSize;
    QStringList m_thisRun;
};

} // namespace tevrak::transfer
