#pragma once

#include "platform/core/ClaimFileName.h"
#include "platform/widgets/ThumbnailSlots.h"

#include <QString>
#include <QStringList>

class QObject;

namespace tevrak {
struct ProgramValues;
}

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
class Filing {
public:
    Filing(InboxPage& page, ProgramValues& values);

    // Accepts a drag only when it comes from an image control.
    bool Image10DragOver(QObject* source) const;
    // A thumbnail dropped on one of the four category targets.
    void Image10DragDrop(QObject* target, QObject* source);

    // Names of the claim folder last read (JPEG and GIF files, sorted).
    const QStringList& FileListBox2() const { return m_claimFiles; }

private:
    void Drop(const platform::ThumbnailSlot& slot, const Category& category);
    void Batch(const platform::ThumbnailSlot& slot, const Category& category);
    QString RepairGroup(int low, int high, const QString& caption) const;
    const Category* categoryOf(QObject* target) const;

    InboxPage& m_page;
    ProgramValues& m_values;
    QString m_claimNumber;
    QStringList m_claimFiles;
};

}  // namespace tevrak::intake
