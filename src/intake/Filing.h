#pragma once

#include "platform/core/ClaimFileName.h"
#include "platform/widgets/ThumbnailSlots.h"

#include <QDate>
#include <QMetaObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class QObject;

namespace tevrak {
struct ProgramValues;
}

namespace tevrak::intake::guard {
class FilingGuard;
class PrintReadAhead;
class PrintTable;
struct Acknowledgement;
struct PictureFacts;
}  // namespace tevrak::intake::guard

namespace tevrak::intake {

class InboxPage;
struct CategoryTarget;

// A filing category of tab 1: which one (its sequence numbers) and its caption.
struct Category {
    platform::FilingCategory kind;
    QString caption;
};

// The four categories, in the order of their targets on the tab.
const Category& beforeRepairCategory();
const Category& duringRepairCategory();
const Category& afterRepairCategory();
const Category& documentsCategory();
// The category of a filing category.
const Category& categoryOf(platform::FilingCategory kind);

// The next sequence text of a category among the names of a claim folder:
// one more than the highest number found at characters 9 to 11 within the
// range, zero-padded to three digits; the range's first number when the claim
// has none in it yet. Raises Error for a name without a number there, and
// when the category is full.
QString nextSequence(const QStringList& claimFolderNames, int low, int high, const QString& claimNumber,
                     const QString& categoryCaption);

// Filing a thumbnail of tab 1 under the typed claim number and a category:
// the photo gets its permanent name, is copied into the claim's folder and
// into the outbox, leaves the inbox, and its slot is cleared.
//
// Before anything is copied the filing guard is asked about the picture (the
// same bytes filed already, a near picture under another claim, a photo older
// than the claim); each warning is a question whose No files nothing. The
// guard's prints are in claim\db\FilingPrints.db; when that file cannot be
// opened the picture is filed unguarded and the reason goes to standard error.
// The pictures of the page shown are read for the guard while the clerk looks
// at them, so that a drop does not wait for their decoding.
class Filing {
public:
    Filing(InboxPage& page, ProgramValues& values);
    ~Filing();

    // Where the guard finds a claim's garage date: the earliest in the
    // register, a null date for a claim not in it. Without it every claim
    // counts as not in the register.
    void setGarageDates(std::function<QDate(const QString& claimNumber)> garageDateOf);
    // Opens the guard's prints and reads the hashes printed so far, so that
    // the first drop does not wait for them (the main window calls it once it
    // is shown). A prints file that cannot be opened is reported on standard
    // error and tried again at the next drop.
    void prepareGuard();

    // Accepts a drag only when it comes from an image control.
    bool Image10DragOver(QObject* source) const;
    // A thumbnail dropped on one of the four category targets.
    void Image10DragDrop(QObject* target, QObject* source);

    // Names of the claim folder last read (JPEG and GIF files, sorted).
    const QStringList& FileListBox2() const { return m_claimFiles; }

private:
    // What the guard's questions left: whether to file, the picture's print
    // facts (none when the guard could not run) and the Yes answers to record.
    struct GuardAnswers;
    GuardAnswers askGuard(const QString& inboxPicture);
    void afterFiling(const GuardAnswers& answers, const Category& category, const QString& filedName);
    bool openGuard();

    QString Drop(const platform::ThumbnailSlot& slot, const Category& category);
    QString Batch(const platform::ThumbnailSlot& slot, const Category& category);
    QString RepairGroup(int low, int high, const QString& caption) const;
    const Category* categoryOf(QObject* target) const;

    InboxPage& m_page;
    ProgramValues& m_values;
    QString m_claimNumber;
    QStringList m_claimFiles;
    std::function<QDate(const QString&)> m_garageDateOf;
    std::unique_ptr<guard::PrintTable> m_prints;
    std::unique_ptr<guard::FilingGuard> m_guard;
    std::unique_ptr<guard::PrintReadAhead> m_readAhead;
    QMetaObject::Connection m_pageShown;
};

}  // namespace tevrak::intake
