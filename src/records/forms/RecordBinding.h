#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class QButtonGroup;
class QComboBox;
class QWidget;

namespace tevrak::platform {
class DateBox;
}

namespace tevrak::records {

class DataSource;
class FieldEdit;
class Table;

// Connects a form's entry controls to the fields of a table's current record,
// as a data source does. While the binding is inactive every control is blank
// and nothing typed reaches a record; while it is active the controls show the
// current record, and what the user types into them is assigned to the new
// record (texts, dates and choices at once, numbers when their box is left).
class RecordBinding : public QObject {
    Q_OBJECT
public:
    // `source` is the data source of `table`: its enabled flag is the binding's.
    RecordBinding(Table& table, DataSource& source, QObject* parent);

    void bindText(FieldEdit* edit, const QString& field);
    // A number box (float or small integer). Its text is taken into the field
    // by takeNumber(), when the box is left.
    void bindNumber(FieldEdit* edit, const QString& field);
    void bindDate(platform::DateBox* box, const QString& field);
    // A drop-down list whose chosen text is stored in the field.
    void bindLookup(QComboBox* combo, const QString& field);
    // Radio buttons of a group: the button with id i stores values[i].
    void bindChoice(QButtonGroup* group, const QString& field, const QStringList& values);

    Table& table() const { return m_table; }

    // Enables or disables the binding (the data source); the controls show the
    // current record or go blank.
    void setActive(bool active);
    bool isActive() const;
    // True while a new record is pending and the controls are attached to it.
    bool isEntering() const;

    // Shows the current record in every control (blank when inactive).
    void showRecord();

    // Takes a number box's text into its field: an empty box makes it blank, a
    // text that does not read as a number raises the number-conversion error
    // and leaves the field unchanged.
    void takeNumber(FieldEdit* edit);
    // Takes every control's value into the new record (the number boxes the
    // user changed as takeNumber does). Does nothing unless a record is being
    // entered.
    void takeAll();

    // The number box bound to the field, or nullptr.
    FieldEdit* numberBox(const QString& field) const;

private:
    enum class Kind { Text, Number, Date, Lookup, Choice };
    struct Binding {
        Kind kind;
        QWidget* control = nullptr;
        QButtonGroup* group = nullptr;
        QString field;
        QStringList values;
    };

    void take(const Binding& binding);
    void show(const Binding& binding);
    template <typename Work> void assigning(Work&& work);

    Table& m_table;
    DataSource& m_source;
    QList<Binding> m_bindings;
    bool m_loading = false;
    bool m_assigning = false;
};

// Keeps a page's controls (the widgets on `tab`) and the page itself from
// reaching the datasets again, when the database goes before the window:
// hiding or destroying the window later may still move the focus out of a
// box or click nothing.
void detachControls(QObject& page, QWidget& tab);

} // namespace tevrak::records
