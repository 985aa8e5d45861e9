#pragma once

#include "records/tables/Dataset.h"

#include <QStringList>

namespace tevrak::records {

// A dataset over an SQL text (TevrakQ2, ExpenseQ, ...). The text is a list of
// lines, given to the engine joined by line breaks; the tables are named
// without prefix ("select * from tevrak"). Its one parameter `:prm` is bound,
// never pasted into the text.
//
// Rows of a query without ORDER BY come in the order of the tables' index:
// by Claimno, then Seq, when the result has those columns. An aggregate
// column such as max(Seq) is read under the name "MAX OF Seq".
class Query : public Dataset {
    Q_OBJECT
public:
    Query(DatabaseConnection& connection, const QString& name, const QStringList& sql);

    // Replaces the text (closing the query first) and forgets the parameter's value.
    void setSql(const QStringList& lines);
    QStringList sql() const { return m_sql; }

    // The value of `:prm`: a text (claim numbers) or a date.
    void setParam(const QString& text);
    void setParam(const QDate& date);

    // Runs the text and reads its rows. A text that returns no rows, or that
    // uses `:prm` without a value, is an error; so is a missing or locked
    // table file (the message names the file).
    void open() override;

    // Runs an update text (TevrakQ3, ExpenseQ3) and returns the number of
    // rows it changed; changes are on the disk when it returns. The query's
    // open or closed state is not changed.
    int execute();

private:
    QString joined() const { return m_sql.join(QLatin1Char('\n')); }
    // The tables whose names the text mentions (outside its literals).
    QList<const TableSchema*> mentionedTables() const;
    QStringList referencedFiles() const;

    QStringList m_sql;
    QVariant m_param; // invalid: not set
};

} // namespace tevrak::records
