#pragma once

#include <QDate>
#include <QList>
#include <QObject>
#include <QPointer>
#include <functional>

class QButtonGroup;
class QComboBox;
class QFrame;
class QGridLayout;
class QGroupBox;
class QLabel;
class QLayout;
class QPushButton;
class QRadioButton;
class QVBoxLayout;
class QWidget;

namespace tevrak::platform {
class DateBox;
}

namespace tevrak::records {

class ClaimDatabase;
class FieldEdit;
class RecordBinding;
struct RecordForms;

// Tab 4, the survey expense summary: what one survey trip for a claim cost
// (three travel legs, the travel cost at a rate per km, the fees and the
// total) and who asks approval of it. Create starts a summary, Save checks and
// stores it with the claim's next summary number; Search shows a stored
// summary, chosen in the enquiry dialog, with every box locked.
class ExpensePage : public QObject {
    Q_OBJECT
public:
    // Builds every control of the tab as a child of `tab`. The long-lived
    // dialogs are taken from `forms` when they are needed.
    ExpensePage(QWidget* tab, ClaimDatabase& database, const RecordForms& forms);
    ~ExpensePage() override;

    // Handlers (each runs inside the error guard).
    void BitBtn10Click(); // create
    void BitBtn11Click(); // save
    void BitBtn12Click(); // search
    void Button1Click();  // add a requester
    void DBEdit6Exit();   // the claim number was left: the summary's Seq
    // An amount, distance or rate box was left: takes its number and runs CalRate.
    void amountExit(FieldEdit* box);
    // Computes Total_Dis, Distance and Total of the summary being entered.
    void CalRate();

    // The workstation's today; tests may replace it.
    std::function<QDate()> today = [] { return QDate::currentDate(); };

    QPushButton* BitBtn10 = nullptr;
    QPushButton* BitBtn11 = nullptr;
    QPushButton* BitBtn12 = nullptr;
    QFrame* Panel32 = nullptr;
    QLabel* Label32 = nullptr; // the panel's title
    QComboBox* DBLookupComboBox2 = nullptr;
    QPushButton* Button1 = nullptr;
    QGroupBox* DBRadioGroup1 = nullptr;
    QRadioButton* DBRadioGroup1First = nullptr;    // "1", first survey
    QRadioButton* DBRadioGroup1FollowUp = nullptr; // "2", follow-up
    FieldEdit* DBEdit6 = nullptr;                  // Claimno
    FieldEdit* DBEdit7 = nullptr;                  // Seq
    platform::DateBox* DBDateEdit1 = nullptr;      // SurvDate
    FieldEdit* DBEdit8 = nullptr;                  // From1
    FieldEdit* DBEdit9 = nullptr;                  // To1
    FieldEdit* DBEdit10 = nullptr;                 // Distance1
    FieldEdit* DBEdit11 = nullptr;                 // From2
    FieldEdit* DBEdit12 = nullptr;                 // To2
    FieldEdit* DBEdit13 = nullptr;                 // Distance2
    FieldEdit* DBEdit14 = nullptr;                 // From3
    FieldEdit* DBEdit15 = nullptr;                 // To3
    FieldEdit* DBEdit16 = nullptr;                 // Distance3
    FieldEdit* DBEdit27 = nullptr;                 // Rate
    FieldEdit* DBEdit18 = nullptr;                 // Total_Dis
    FieldEdit* DBEdit17 = nullptr;                 // Distance (travel cost in baht)
    FieldEdit* DBEdit19 = nullptr;                 // Survey
    FieldEdit* DBEdit20 = nullptr;                 // Copy
    FieldEdit* DBEdit21 = nullptr;                 // Pay
    FieldEdit* DBEdit25 = nullptr;                 // Other
    FieldEdit* DBEdit26 = nullptr;                 // Total

private:
    // The tab's controls, built in steps: the buttons, then the panel's grid
    // line by line (`row` is the grid's next free row).
    void buildControls(QWidget* tab);
    QVBoxLayout* buildButtons(QWidget* tab);
    void addTitle(QGridLayout* grid, int& row);
    void addRequesterLine(QGridLayout* grid, int& row);
    void addTypeLine(QGridLayout* grid, int& row);
    void addClaimLine(QGridLayout* grid, int& row);
    void addDateLine(QGridLayout* grid, int& row);
    void addLegs(QGridLayout* grid, int& row);
    void addTravelCost(QGridLayout* grid, int& row);
    void addAmounts(QGridLayout* grid, int& row);
    void orderTabStops();
    // A caption in the first column and `line` across the others.
    void addCaptionedLine(QGridLayout* grid, int& row, const QString& caption, QWidget* buddy, QLayout* line);
    FieldEdit* newTextBox(const char* name, int size);
    FieldEdit* newNumberBox(const char* name);
    void connectHandlers();
    void fillRequesterList();
    bool checkEntry();
    // Takes the number boxes the user changed; false (the error shown, or
    // already shown by the box's exit, and the focus in the box) when one
    // does not read as a number.
    bool takeChangedNumbers();
    void refuseNumber(FieldEdit* box, const QString& message, bool deferred);
    QList<FieldEdit*> amountBoxes() const;

    // Called when the database goes (the main window's members go before its
    // child controls): the controls stop reaching it.
    void detachFromDatabase();

    ClaimDatabase& m_db;
    QWidget* m_tab = nullptr;
    const RecordForms& m_forms;
    QButtonGroup* m_typeGroup = nullptr;
    RecordBinding* m_binding = nullptr;
    // The box whose text was last refused and that text: a Save that follows
    // the refusal at once does not show the same message twice.
    QPointer<FieldEdit> m_refusedBox;
    QString m_refusedText;
    bool m_refusalPending = false;
};

} // namespace tevrak::records
