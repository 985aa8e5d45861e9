#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace tevrak {
class TZip;
}

// Photo packaging: every GIF photograph of the outbox travels inside the ZIP
// archive of its claim, <outbox>\<first 8 characters>.Zip. No widget
// here: the "Process Zip..." window (TZipf) drives it and shows its progress.
namespace tevrak::transfer {

// The GIF photographs waiting in the outbox: bare names matching "*.gif"
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
// photograph moved to the desktop trash.
void applyPackagingSettings(TZip& zip);

// Packs the outbox's GIF photographs, one writer run per photograph in list
// order (the list is taken once, at the start). `beforeRun` and `afterRun`
// are called around each run (the progress window shows and hides there).
// Nothing is reported: a photograph that cannot be packed stays in the outbox
// for the next transfer. Returns the number of photographs stored.
int packOutboxGifs(TZip& zip, const std::function<void()>& beforeRun = {},
                   const std::function<void()>& afterRun = {});

} // namespace tevrak::transfer
