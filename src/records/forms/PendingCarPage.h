#pragma once

#include <QDate>
#include <QObject>
#include <functional>

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QTableView;
class QWidget;

namespace tevrak::platform {
class DateBox;
}

namespace tevrak::records {

class ClaimDatabase;
class DatasetModel;
class FieldEdit;
class RecordBinding;

// Tab 3, the pending-car register: the entry panel where a status report on a
// car is started (Create, or a double-click on a grid row to re-issue a car's
// report), checked and stored with the claim's next report number; and the
// search panel listing the cars not yet repaired, the reports of a day or the
// reports of one claim.
class PendingCarPage : public QObject {
    Q_OBJECT
public:
    // Builds every control of the tab as a child of `tab`.
    PendingCarPage(QWidget* tab, ClaimDatabase& database);
    ~PendingCarPage() override;

    // The heading's date and the search date box set to today (main window
    // initialisation).
    void resetToToday();

    // Handlers (each runs inside the error guard).
    void BitBtn5Click(); // create
    void BitBtn6Click(); // save
    void BitBtn9Click(); // search
    void C0Click();
    void C1Click();
    void C2Click();
    void Edit2KeyPress();
    void DateEdit1KeyPress();
    // Double-click on the grid's row `row` (-1: no row under the mouse).
    void DBGrid1DblClick(int row);

    // The workstation's today; tests may replace it.
    std::function<QDate()> today = [] { return QDate::currentDate(); };

    // Entry panel
    QLabel* Label8 = nullptr;
    FieldEdit* DBEdit1 = nullptr;
    platform::DateBox* DBDateEdit2 = nullptr;
    FieldEdit* DBEdit2 = nullptr;
    FieldEdit* DBEdit3 = nullptr;
    FieldEdit* DBEdit4 = nullptr;
    QComboBox* DBLookupComboBox1 = nullptr;
    QPushButton* BitBtn5 = nullptr;
    QPushButton* BitBtn6 = nullptr;
    // Search panel
    QGroupBox* GroupBox1 = nullptr;
    QRadioButton* C0 = nullptr;
    QRadioButton* C1 = nullptr;
    platform::DateBox* DateEdit1 = nullptr;
    QRadioButton* C2 = nullptr;
    FieldEdit* Edit2 = nullptr;
    QPushButton* BitBtn9 = nullptr;
    QTableView* DBGrid1 = nullptr;

private:
    void buildControls(QWidget* tab);
    void connectHandlers();
    void fillStatusList();
    // Starts a new report; a report still pending is discarded first.
    void startReport();
    void setDetailsLocked(bool locked);
    bool checkEntry();
    void setGridEnabled(bool enabled);

    // Called when the database goes (the main window's members go before its
    // child controls): the controls stop reaching it.
    void detachFromDatabase();

    ClaimDatabase& m_db;
    QWidget* m_tab = nullptr;
    RecordBinding* m_binding = nullptr;
    DatasetModel* m_gridModel = nullptr;
};

} // namespace tevrak::records
