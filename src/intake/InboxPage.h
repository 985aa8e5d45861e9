#pragma once

#include "platform/widgets/Controls.h"
#include "platform/widgets/ThumbnailSlots.h"

#include <QObject>
#include <QStringList>
#include <array>
#include <functional>

class QImage;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QWidget;

namespace tevrak {
struct ProgramValues;
}

namespace tevrak::intake {

using ThumbnailSlot = platform::ThumbnailSlot;

// A category target of tab 1: the caption panel and the folder picture that
// thumbnails are dropped on.
struct CategoryTarget {
    platform::PanelControl* caption = nullptr;
    platform::ImageControl* image = nullptr;
};

// The local path of the inbox picture `name` (a bare name of the inbox list).
QString inboxFile(const QString& name);

// Tab 1, "new pictures": the picture inbox shown as pages of nine thumbnails,
// the category targets and claim-number box used for filing, and the Next,
// Refresh, Transfer and Close buttons.
class InboxPage : public QObject {
    Q_OBJECT
public:
    // Builds the tab's controls on `tab`. `refresh` runs the main window's whole
    // initialisation (Refresh repeats it after re-reading the inbox).
    InboxPage(QWidget* tab, ProgramValues& values, std::function<void()> refresh);

    // The inbox list: bare names of the inbox's JPEG and GIF files, sorted
    // without regard to case; read on first use and re-read only by Refresh.
    QStringList& inboxList();
    void readInboxList();

    void Hide();
    // The first page: slots 1 to 9 from inbox entries 0 to 8.
    void buildFirstPage();
    void BitBtn2Click();  // Next
    void BitBtn4Click();  // Refresh

    const platform::ThumbnailSlots& thumbnailSlots() const { return m_slots; }

    // Controls, named as the form names them.
    QScrollArea* ScrollBox1 = nullptr;
    QWidget* Panel10 = nullptr;
    QPushButton* BitBtn1 = nullptr;  // Close
    QPushButton* BitBtn2 = nullptr;  // Next
    QPushButton* BitBtn3 = nullptr;  // Transfer
    QPushButton* BitBtn4 = nullptr;  // Refresh
    platform::PanelControl* Panel14 = nullptr;
    QLineEdit* Edit1 = nullptr;      // claim number
    CategoryTarget beforeRepair;     // Panel11, Image10
    CategoryTarget duringRepair;     // Panel13, Image21
    CategoryTarget afterRepair;      // Panel15, Image22
    CategoryTarget documents;        // Panel12, Image11

signals:
    // A slot's caption was double-clicked: enlarge that inbox picture.
    void zoomRequested(platform::PanelControl* caption);
    // A page was shown: the local paths of the pictures now in its slots, in slot order.
    void pageShown(const QStringList& localFiles);

private:
    // Fills slots from the given inbox entries (index -1 leaves the slot out),
    // decoding the page's pictures together and showing them in slot order;
    // the first picture that fails ends the page with the error box.
    void fillSlots(const std::array<int, 9>& entries);
    void buildControls(QWidget* tab);
    void showInSlot(const ThumbnailSlot& slot, const QImage& picture);

    ProgramValues& m_values;
    std::function<void()> m_refresh;
    platform::ThumbnailSlots m_slots;
    QStringList m_inbox;
    bool m_inboxRead = false;
};

}  // namespace tevrak::intake
