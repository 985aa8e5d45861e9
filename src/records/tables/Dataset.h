#pragma once

#include "records/tables/ResultRows.h"
#include "records/tables/TableSchema.h"

#include <QDate>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>
#include <QVector>
#include <functional>

namespace tevrak::records {

class DatabaseConnection;

// What every dataset of the claim database offers: open and close, moving
// through the rows of its open result, and reading fields by name.
//
// A dataset reads the rows of its result as they are asked for (see
// ResultRows); nothing stays locked between calls, so the table files can be
// copied at any time. Field names are matched without regard to case.
//
// Blank (null) fields read as 0, 0.0, "", false and the zero date
// 30 December 1899. Reading a closed dataset, or one without a current row,
// gives blanks. Every failure raises tevrak::Error with the message the user
// sees.
class Dataset : public QObject {
    Q_OBJECT
public:
    enum class State { Inactive, Browse, Insert };

    QString name() const { return m_name; } // "TevrakT", "ExpenseQ2", ...
    State state() const { return m_state; }
    bool isOpen() const { return m_state != State::Inactive; }

    // Opening an open dataset, or closing a closed one, does nothing.
    virtual void open() = 0;
    // Closes the dataset; a pending new record is discarded.
    void close();

    // --- rows of the open result --------------------------------------------
    int recordCount() const { return isOpen() ? int(m_rows.size()) : 0; }
    // Goes to the first row (eof() is then true only for an empty result).
    void first();
    // Goes to the next row; past the last row eof() becomes true and the last
    // row stays current.
    void next();
    // True when closed, when the result is empty or after next() passed the last row.
    bool eof() const;
    // The current row's index, -1 when there is none.
    int currentRow() const { return isOpen() ? currentIndex() : -1; }
    // True when there is a current row (its index is not looked for).
    bool hasCurrentRow() const { return isOpen() && (m_placeOfCurrent || m_row >= 0); }
    // Makes `row` the current row (a grid's selection); out of range does nothing.
    void moveTo(int row);

    // --- fields ---------------------------------------------------------------
    // The fields of the open result in their order (a table's fields also when closed).
    QStringList fieldNames() const;
    bool hasField(const QString& field) const;
    FieldType fieldType(const QString& field) const;

    // Reads of the current record: the pending new record in the Insert state,
    // otherwise the current row. A field the open result does not have is an error.
    bool isBlank(const QString& field) const;
    QString asText(const QString& field) const; // dates as "dd/mm/yyyy", booleans "True"/"False"
    int asInteger(const QString& field) const;
    double asFloat(const QString& field) const;
    QDate asDate(const QString& field) const;
    bool asBoolean(const QString& field) const;

    // The text a grid shows for a field of any row (blank: empty).
    QString displayText(int row, const QString& field) const;

signals:
    // The rows changed as a whole: opened, closed, reloaded after a post or emptying.
    void reset();
    // The current record changed: moved to another row, a new record started,
    // a field of it assigned, posted or cancelled.
    void currentChanged();

protected:
    Dataset(DatabaseConnection& connection, const QString& name);

    // Replaces the open result and makes `current` the current row.
    void setResult(const QList<FieldDef>& columns, ResultRows rows, int current);
    // Replaces the open result with `currentValues` as its current row, whose
    // index `placeOfCurrent` finds when it is first asked for: in a large
    // table finding it is a walk over the index, which showing and saving a
    // record never need.
    void setResult(const QList<FieldDef>& columns, ResultRows rows, QVector<QVariant> currentValues,
                   std::function<int()> placeOfCurrent);
    // The current row's index (-1: none), found now if it was not yet.
    int currentIndex() const;
    void setState(State state) { m_state = state; }
    int columnIndex(const QString& field) const; // -1 when unknown
    int requireColumn(const QString& field) const;
    // The value of the current record's field (pending record or current row).
    QVariant currentValue(int column) const;
    [[noreturn]] void fail(const QString& message) const;
    void requireOpen() const;

    DatabaseConnection& m_connection;
    QList<FieldDef> m_columns;
    ResultRows m_rows;
    QVector<QVariant> m_pending; // the new record in the Insert state
    bool m_eof = true;

private:
    void setColumns(const QList<FieldDef>& columns);
    // Makes `row` current (-1: none), its index known.
    void placeCurrent(int row);

    mutable int m_row = -1;
    // A current row not yet placed: its values, and how to find its index.
    QVector<QVariant> m_currentValues;
    mutable std::function<int()> m_placeOfCurrent;
    QString m_name;
    State m_state = State::Inactive;
    QHash<QString, int> m_columnIndex;      // lower-case name -> column
    QHash<QString, int> m_exactColumnIndex; // the name as the result gives it -> column
};

// Conversions of stored values under the blank conventions.
namespace values {
QString toText(const QVariant& value, FieldType type);
int toInteger(const QVariant& value, const QString& field);
double toFloat(const QVariant& value, const QString& field);
QDate toDate(const QVariant& value, const QString& field);
bool toBoolean(const QVariant& value, const QString& field);
} // namespace values

} // namespace tevrak::records
