#pragma once

#include "records/forms/DatabaseDialog.h"

class QPushButton;

namespace tevrak::records {
class FieldEdit;
class RecordBinding;
} // namespace tevrak::records

namespace tevrak {

// The requester entry dialog: adds one user id to the list of people who ask
// approval of survey expenses (table USER). Created once at start-up; the
// database is handed over each time it is shown.
class TFormUser : public records::DatabaseDialog {
    Q_OBJECT
public:
    explicit TFormUser(QWidget* parent = nullptr);
    ~TFormUser() override;

    // Starts a new requester record in `database`'s UserT and shows the dialog
    // modally; returns 1 when the id was added, 0 when the entry was cancelled
    // (the new record is then discarded).
    int showFor(records::ClaimDatabase& database);

    void Button1Click(); // add
    void Button2Click(); // cancel

    records::FieldEdit* DBEdit1 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;

public slots:
    // Escape and the window manager's close act as Cancel.
    void reject() override;

private:
    void attachDatabase(records::ClaimDatabase& database) override;
    void detachDatabase() override;
    QWidget* firstBox() const override;

    records::RecordBinding* m_binding = nullptr;
    bool m_added = false;
};

} // namespace tevrak
