#pragma once

#include <QDialog>

namespace tevrak::records {

class ClaimDatabase;

// A modal dialog created once at start-up that works on the claim database
// handed over each time it is shown. It lets go of the database when that
// goes first (the main window may close before the dialog does), and it opens
// in the middle of its screen with the focus in its first box.
class DatabaseDialog : public QDialog {
    Q_OBJECT
protected:
    explicit DatabaseDialog(QWidget* parent);

    // Takes `database` as the one to work on; attachDatabase() runs when it
    // differs from the present one, after the present one is dropped.
    void useDatabase(ClaimDatabase& database);
    void dropDatabase();

    // What the dialog builds on a database (models, bindings) and takes down again.
    virtual void attachDatabase(ClaimDatabase& database) = 0;
    virtual void detachDatabase() = 0;
    // The box that has the focus when the dialog opens.
    virtual QWidget* firstBox() const = 0;

    void showEvent(QShowEvent* event) override;

    ClaimDatabase* m_db = nullptr;
};

} // namespace tevrak::records
