#pragma once

#include "platform/core/ProgramValues.h"

#include <QWidget>
#include <memory>

class QTabWidget;

namespace tevrak {

struct SharedForms;
namespace platform {
class PanelControl;
}
namespace records {
class ClaimDatabase;
class PendingCarPage;
class ExpensePage;
}  // namespace records
namespace intake {
class InboxPage;
class Filing;
namespace guard {
class PrintBackfillThread;
}
}  // namespace intake
namespace archive {
class ArchivePage;
}

// The main window: four tabs (new pictures, old pictures, pending-car report,
// survey expense summary), the dataset objects of the local tables and the
// program-wide values. Closing it ends the program.
class TPicture : public QWidget {
    Q_OBJECT
public:
    // Builds the window and runs its initialisation (FormCreate); a failure of
    // the initialisation is shown in the error box and the window still opens.
    explicit TPicture(SharedForms& forms, QWidget* parent = nullptr);
    ~TPicture() override;

    // The window's initialisation; Refresh runs it again, whole.
    void FormCreate();

    // The Transfer button: exports, packs, exchanges with the server.
    void BitBtn3Click();

    // Reads the filing guard's prints and starts printing the claim folders'
    // pictures that have no print yet, on a thread of the lowest priority;
    // called once the window is shown. A second call does nothing.
    void startPrintBackfill();

    // Enlarges an inbox picture (tab 1) or an archive picture (tab 2).
    void Zoom(platform::PanelControl* caption);
    void Zoom2(platform::PanelControl* caption);

    ProgramValues& values() { return m_values; }
    records::ClaimDatabase& database() { return *m_database; }
    intake::InboxPage& inbox() { return *m_inbox; }
    intake::Filing& filing() { return *m_filing; }
    archive::ArchivePage& archivePage() { return *m_archive; }
    records::PendingCarPage& pendingCars() { return *m_pendingCars; }
    records::ExpensePage& expenses() { return *m_expenses; }
    SharedForms& forms() { return m_forms; }

    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet2 = nullptr;
    QWidget* TabSheet3 = nullptr;
    QWidget* TabSheet4 = nullptr;

    // The window's caption, with the address of the insurer's server in use.
    static QString caption();

private:
    void initialise();

    SharedForms& m_forms;
    ProgramValues m_values;
    std::unique_ptr<records::ClaimDatabase> m_database;
    intake::InboxPage* m_inbox = nullptr;
    std::unique_ptr<intake::Filing> m_filing;
    archive::ArchivePage* m_archive = nullptr;
    records::PendingCarPage* m_pendingCars = nullptr;
    records::ExpensePage* m_expenses = nullptr;
    std::unique_ptr<intake::guard::PrintBackfillThread> m_backfill;
};

}  // namespace tevrak
