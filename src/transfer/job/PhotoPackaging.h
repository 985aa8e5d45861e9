#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

namespace tevrak {
class TZip;
}

// Photo packaging: every GIF document of the outbox travels inside the ZIP
// archive of its claim, <outbox>\<first 8 characters>.Zip. No widget
// here: the "Process Zip..." window (TZipf) drives it and shows its progress.
namespace tevrak::transfer {

class TransferLog;

// The GIF documents waiting in the outbox: bare names matching "*.gif"
// without regard to case, hidden files left out, sorted without regard to case.
QStringList outboxGifs();

// The first 8 characters of the name; the whole name when it is shorter.
QString claimPart(const QString& gifName);
// The outbox + claim part + ".Zip".
QString archivePath(const QString& gifName);
// The outbox + name: the one file of the writer run.
QString fileSpec(const QString& gifName);

// The writer settings of the packaging form: deflated ZIP members at normal
// strength, member names relative and in the Thai code page, the stored
// document moved to the desktop trash.
void applyPackagingSettings(TZip& zip);

// A document still in the outbox after the packing: it is in no archive, so
// this Transfer does not send it.
struct UnpackedDocument {
    QString name;    // its name in the outbox
    QString archive; // the claim's archive it belongs in, "12345678.Zip"
    QString cause;   // what the writer or the file system reported
};

// What became of the outbox's documents.
struct PackingResult {
    int stored = 0;                   // documents the writer stored
    QList<UnpackedDocument> unpacked; // documents left in the outbox
};

// Packs the outbox's GIF documents, one writer run per document in list
// order (the list is taken once, at the start). `beforeRun` (with the
// document's name) and `afterRun` are called around each run (the progress
// window shows and hides there; what beforeRun throws stops the packing
// before that run).
// A document whose name the claim's archive already holds (without regard to
// case) is never left out for it:
// - the same contents (CRC-32 and size): the archive has it; the outbox copy
//   goes to the trash without a run;
// - other contents: the outbox file is renamed to the claim's next free
//   document number (among the claim folder, the outbox and the archive's
//   members) before its run, so that the archive keeps both.
// Renamed documents, documents already packed and documents left in the
// outbox go into `log` as they happen; the ones left are returned too.
PackingResult packOutboxGifs(TZip& zip, TransferLog& log,
                             const std::function<void(const QString& name)>& beforeRun = {},
                             const std::function<void()>& afterRun = {});
// The same for `documents`, the outbox's GIFs as outboxGifs() listed them.
PackingResult packOutboxGifs(TZip& zip, TransferLog& log, const QStringList& documents,
                             const std::function<void(const QString& name)>& beforeRun,
                             const std::function<void()>& afterRun);

} // namespace tevrak::transfer
