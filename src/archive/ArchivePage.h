#pragma once

#include "platform/widgets/ThumbnailSlots.h"

#include "archive/ArchivePaging.h"

#include <QObject>
#include <QStringList>
#include <array>

class QEvent;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QScrollArea;
class QWidget;

namespace tevrak::platform {
class ImageControl;
class PanelControl;
} // namespace tevrak::platform

namespace tevrak::archive {

// One picture slot of the archive page: the picture and the caption bar below it.
using ArchiveSlot = platform::ThumbnailSlot;

// Tab 2, "old pictures": the claim folders under c:\picture (the outbox
// included), the pictures of one folder nine at a time with their file names,
// Previous and Next, and the claim-number box that opens a folder directly.
// The tab only reads; it never changes a file.
class ArchivePage : public QObject {
    Q_OBJECT
public:
    // Builds the tab's controls on `tab`, slots and caption bars hidden.
    explicit ArchivePage(QWidget* tab);

    // Each time the tab becomes visible: empties the folder list and refills
    // it, hides the slots, disables Previous and Next, and makes c:\picture the
    // current folder. The claim-number box keeps its text.
    void TabSheet2Show();
    // A folder chosen in the list: page 0 of that folder.
    void ListBox2Click();
    // At every change of the claim-number box: eight characters open the
    // claim's folder, or tell that there is none.
    void Edit6Change();
    void BitBtn7Click(); // Previous
    void BitBtn8Click(); // Next

    // Shows the current page; the first picture that cannot be shown ends the
    // page at its slot with an error naming the file.
    void PageShow();
    void PageHide();

    // Opens the sub-folder `name` of c:\picture: file list, page 0, buttons.
    // A folder that cannot be read raises an error and changes nothing.
    void openFolder(const QString& name);

    // The folder whose pictures are shown, as a Windows path without a
    // trailing backslash ("c:\picture\12345678").
    const QString& currentFolder() const { return m_currentFolder; }
    // The picture a slot's caption names: current folder, "\", caption text.
    QString picturePath(const platform::PanelControl* caption) const;
    // The current folder's file list: ordinary files, sorted ignoring case.
    const QStringList& fileList() const { return m_files; }
    const ArchivePaging& paging() const { return m_paging; }
    const platform::ThumbnailSlots& pictureSlots() const { return m_slots; }

    // Controls, named as the form names them.
    QWidget* Panel26 = nullptr;                // the folder-list panel
    platform::PanelControl* Panel25 = nullptr; // heading "old claim numbers"
    QListWidget* ListBox2 = nullptr;
    platform::PanelControl* Panel27 = nullptr; // heading "claim number"
    QLineEdit* Edit6 = nullptr;
    QPushButton* BitBtn7 = nullptr; // Previous
    QPushButton* BitBtn8 = nullptr; // Next
    QScrollArea* ScrollBox2 = nullptr;

signals:
    // A shown slot's picture or caption bar was double-clicked: enlarge the
    // picture named by the caption (see picturePath).
    void zoomRequested(platform::PanelControl* caption);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls(QWidget* tab);
    void fillFolderList();
    void setButtons(PagingButtons buttons);
    PagingButtons buttons() const;

    platform::ThumbnailSlots m_slots;
    ArchivePaging m_paging;
    QString m_currentFolder;
    QStringList m_files;
    bool m_fillingList = false;
    int m_rowBeforePress = -1;
};

} // namespace tevrak::archive
