#pragma once

#include "records/tables/DatabaseConnection.h"
#include "records/tables/Dataset.h"

#include <functional>
#include <memory>

namespace tevrak::records {

// A dataset over one whole table file (TevrakT, ExpenseT, ...). Its rows are
// listed in the order of the table's index (claim number, then Seq) or, for a
// table without one, in the order they were stored.
//
// New rows: append() starts a blank record (not stored), the set...() calls
// assign its fields by name, post() stores it or cancel() discards it. Every
// post is on the disk when post() returns: the .DB file alone holds every
// posted row, and a keyed table's .PX file is rewritten at once.
class Table : public Dataset {
    Q_OBJECT
public:
    Table(DatabaseConnection& connection, const QString& name, const TableSchema& schema);

    const TableSchema& schema() const { return m_schema; }
    // The table's .DB file and, for a keyed table, its .PX file.
    QString filePath() const;
    QString indexFilePath() const;

    // Reads the table's rows. A missing or locked table file raises an error
    // naming the file; a missing file is never created.
    void open() override;
    // Reads the rows of an open table again (after other datasets changed it).
    void refresh();

    // --- new records ----------------------------------------------------------
    // Starts a new record with every field blank (state Insert).
    void append();
    // Assign a field of the new record. A text is checked against the field's
    // size counted in Thai code-page characters, and must be writable in that
    // code page; an empty text makes the field blank. A text assigned to a
    // number or date field is converted ("dd/mm/yyyy" for dates). Assigning
    // without a new record, or a value the field cannot hold, raises an error
    // that names the field.
    void setText(const QString& field, const QString& text);
    void setInteger(const QString& field, int value);
    void setFloat(const QString& field, double value);
    void setDate(const QString& field, const QDate& date); // an invalid date makes it blank
    void setBoolean(const QString& field, bool value);
    void setBlank(const QString& field);
    // Stores the new record as one row. When the engine refuses it (a key
    // already present, a locked or missing file) the error is raised and the
    // record stays pending, to be corrected and posted again or cancelled.
    // Afterwards the stored row is the current row. Once the row is stored
    // the table is in browse state; should rewriting the .PX file or reading
    // the rows again fail after that, the error raised says the record was saved.
    void post();
    // Discards the new record.
    void cancel();

    // Makes the row with this claim number and Seq the current row; false (and
    // the current row unchanged) when the table has no such row.
    bool locate(const QString& claimno, int seq);

    // Deletes every row (the table may be open or closed) and rewrites the .PX file.
    void empty();
    // Replaces every row by those that `fill` posts (append, set..., post),
    // all in one transaction: the table file holds either its old rows or all
    // the new ones. The .PX file is written once, after it. Should `fill`
    // raise an error, the old rows stay and the error passes on. The table is
    // left open or closed as it was.
    void replaceRows(const std::function<void()>& fill);

    // post(), then `afterStored` as soon as the row is stored: also when
    // post() fails after storing it, before that error passes on.
    void post(const std::function<void()>& afterStored);

private:
    void requireInsert(const QString& field) const;
    void assign(int column, const QVariant& stored);
    // Reads the rows again; `currentRowid` becomes the current row, with
    // `knownRowsAfter` rows after it when the caller knows its place (-1:
    // looked for when asked). `addedHere`: the rows this connection added
    // since the last reading (-1: unknown).
    void load(qint64 currentRowid, qint64 knownRowsAfter = -1, int addedHere = -1);
    int countRows(int addedHere);
    QString rowColumns() const;
    // The place of the row in the table's order.
    int positionOf(qint64 rowid);
    std::unique_ptr<DatabaseConnection::Statement> insertStatement();
    qint64 insertPending();
    // The .PX update that adds the stored row's key; `rowsAfter` gets the
    // number of rows after it in the table's order when that is found on the way.
    DatabaseConnection::IndexFileUpdate indexUpdateWithRow(qint64 rowid, qint64& rowsAfter);

    const TableSchema& m_schema;
    std::unique_ptr<DatabaseConnection::Statement> m_insert; // while replacing rows
    bool m_replacing = false;
    struct CountStamp {
        qint64 dataVersion = -1;
        quint64 attachment = 0;
        bool operator==(const CountStamp&) const = default;
    };
    CountStamp m_countStamp;
    int m_count = 0;
};

} // namespace tevrak::records
