#pragma once

// The prints of the filed pictures and the clerk's answers to the filing guard's questions, in their own
// SQLite file under the database folder (claim\db\FilingPrints.db). The file is the workstation's own: it
// is not one of the export tables and nothing sends it.
//
// Tables:
//   Prints(Id, FileName unique without regard to case, Claim, Category, FiledAt, Sha256, PerceptualHash,
//          CroppedHash, Detail, CaptureTime)  one row per filed picture (the hashes and the detail for a
//                                photo only); Id grows, so a reader can take the rows added after the
//                                last one it saw
//   Acknowledgements(Id, At, Garage, Claim, FiledName, InboxName, Warning, OtherClaim, OtherFile,
//          Shown)                each question the clerk answered Yes, written once the picture was filed
//
// Every connection runs in WAL mode with a busy wait, so the back-fill's connection and the window's
// write in turn without failing each other.

#include "intake/guard/PhotoPrint.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

struct sqlite3;

namespace tevrak::intake::guard {

// One answered question.
struct Acknowledgement {
    QDateTime at;
    QString garage;
    QString claim;
    QString filedName;
    QString inboxName;
    QString warning;    // "same-bytes", "near-picture", "old-photo"
    QString otherClaim; // where the other picture is filed (the first two warnings)
    QString otherFile;
    QString shown;      // the question's text as the clerk saw it
};

class PrintTable {
public:
    // C:\claim\db\FilingPrints.db on drive C:.
    static QString defaultFile();

    // Opens the file, creating it and its tables when missing; the folder must exist. Throws Error naming
    // the file.
    explicit PrintTable(const QString& localFile);
    ~PrintTable();
    PrintTable(const PrintTable&) = delete;
    PrintTable& operator=(const PrintTable&) = delete;

    const QString& file() const { return m_file; }

    // Adds the prints in one transaction; a file name already printed keeps its first print.
    void add(const std::vector<PhotoPrint>& prints);
    // The file names printed for a claim.
    QStringList printedNamesOf(const QString& claim);
    // A print of exactly these bytes, if any (the earliest).
    std::optional<PhotoPrint> findBytes(const QByteArray& sha256);
    // The print of row `id`.
    std::optional<PhotoPrint> byId(qint64 id);
    // Calls `visit(id, claim, picture)` for every print with a perceptual hash whose Id is above `afterId`,
    // in Id order (the picture holds the upright hash in every version, the cropped hash and the detail);
    // returns the highest Id seen (afterId when none).
    qint64 readHashesAfter(qint64 afterId,
                           const std::function<void(qint64, const QString&, const imaging::HashedPicture&)>& visit);

    void record(const Acknowledgement& answer);

private:
    void exec(const char* sql);
    [[noreturn]] void fail(const QString& what);

    QString m_file;
    sqlite3* m_db = nullptr;
};

} // namespace tevrak::intake::guard
