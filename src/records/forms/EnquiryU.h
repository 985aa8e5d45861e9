#pragma once

#include "records/forms/DatabaseDialog.h"

class QLineEdit;
class QPushButton;
class QTableView;

namespace tevrak::records {
class DatasetModel;
} // namespace tevrak::records

namespace tevrak {

// The enquiry dialog "Enquiry": lists the saved survey-expense summaries of one
// claim and lets the user choose one. It is created once at start-up and
// lives for the whole run; the database it searches is handed over each time
// it is shown.
class TEnquiry : public records::DatabaseDialog {
    Q_OBJECT
public:
    explicit TEnquiry(QWidget* parent = nullptr);
    ~TEnquiry() override;

    // Shows the dialog modally over `database`'s ExpenseQ2 and returns its
    // result: 1 when a row was chosen (ExpenseQ2 then stands on it), 0 when
    // the user cancelled.
    int showFor(records::ClaimDatabase& database);

    // The result of the last showing (1 chosen, 0 cancelled); not reset when
    // the dialog is shown again.
    int Tag = 0;

    void FormShow();
    void BitBtn1Click(); // search
    void BitBtn2Click(); // cancel
    // Double-click on the grid's row `row` (-1: no row under the mouse).
    void DBGrid1DblClick(int row);

    QLineEdit* Edit1 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;
    QTableView* DBGrid1 = nullptr;

public slots:
    // Escape and the window manager's close act as Cancel.
    void reject() override;

private:
    void attachDatabase(records::ClaimDatabase& database) override;
    void detachDatabase() override;
    QWidget* firstBox() const override;

    records::DatasetModel* m_model = nullptr;
};

} // namespace tevrak
