#pragma once

#include "records/tables/TableSchema.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <memory>

namespace tevrak::records {

class DatabaseConnection;

// The rows of an open result. A result read whole is held as it is; a paged
// result is read from the engine a block of rows at a time, when a row of the
// block is first asked for, and only the blocks used last are kept. Opening a
// paged result costs its count and its first block, whatever its size, so a
// grid over 100,000 rows reads only the rows it shows. Nothing stays locked
// between reads.
class ResultRows {
public:
    ResultRows() = default;
    explicit ResultRows(QList<QVector<QVariant>> rows);

    // A paged result over `select` (a SELECT that can stand inside another;
    // `:prm`, when it has it, bound to `param`); `count` is a statement that
    // counts its rows without ordering them. `columns` receives its columns.
    // Raises the engine's error naming `files`.
    static ResultRows paged(DatabaseConnection& connection, const QString& select, const QString& count,
                            const QVariant& param, const QStringList& files, QList<FieldDef>* columns);
    // A paged result of `count` rows: `columns` of `table` in `order` (an
    // ORDER BY clause that ends with the rowid); its rows are read when first
    // asked for.
    static ResultRows pagedTable(DatabaseConnection& connection, const QString& table, const QString& columns,
                                 const QString& order, int count, const QStringList& files);

    int size() const;
    bool isEmpty() const { return size() == 0; }
    // The row `row` (0 <= row < size()); valid until the next call.
    const QVector<QVariant>& at(int row) const;

    static constexpr int blockRows = 256;

private:
    struct Pager;
    QList<QVector<QVariant>> m_whole;
    std::shared_ptr<Pager> m_pager;
};

} // namespace tevrak::records
