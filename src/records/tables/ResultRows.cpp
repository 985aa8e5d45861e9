#include "records/tables/ResultRows.h"

#include "records/tables/DatabaseConnection.h"

#include <QQueue>

namespace tevrak::records {

namespace {

// Blocks kept at most (16,384 rows); a grid shows far fewer.
constexpr int keptBlocks = 64;
// A run of blocks read in turn is read in growing steps, so that stepping
// through a whole result restarts its statement only a few times.
constexpr int longestStep = 16;
// The first read: a result this small is read whole at once, uncounted.
constexpr int firstBlocks = 8;

} // namespace

struct ResultRows::Pager {
    DatabaseConnection* connection = nullptr;
    // A block's statement: before + " LIMIT n OFFSET m" + after.
    QString before;
    QString after;
    QVariant param;
    QStringList files;
    int count = 0;
    QHash<int, QList<QVector<QVariant>>> blocks; // first block row / blockRows -> rows
    QQueue<int> readOrder;
    int lastBlockRead = -1;
    int step = 1;

    ResultSet read(int firstBlock, int blockCount)
    {
        DatabaseConnection::Statement statement(*connection,
                                                before +
                                                    QStringLiteral(" LIMIT %1 OFFSET %2")
                                                        .arg(qint64(blockCount) * blockRows)
                                                        .arg(qint64(firstBlock) * blockRows) +
                                                    after,
                                                files);
        statement.bindNamed(":prm", param);
        return statement.fetchAll();
    }

    int counted(const QString& count)
    {
        DatabaseConnection::Statement counting(*connection, count, files);
        counting.bindNamed(":prm", param);
        const ResultSet result = counting.fetchAll();
        return result.rows.isEmpty() ? 0 : int(result.rows.first().value(0).toLongLong());
    }

    void keep(int firstBlock, QList<QVector<QVariant>>& rows)
    {
        for (int block = firstBlock; !rows.isEmpty(); ++block) {
            const qsizetype n = qMin<qsizetype>(blockRows, rows.size());
            if (!blocks.contains(block))
                readOrder.enqueue(block);
            blocks.insert(block, rows.mid(0, n));
            rows.remove(0, n);
            lastBlockRead = block;
        }
        while (readOrder.size() > keptBlocks)
            blocks.remove(readOrder.dequeue());
    }

    const QList<QVector<QVariant>>& block(int index)
    {
        const auto found = blocks.constFind(index);
        if (found != blocks.constEnd())
            return *found;
        step = index == lastBlockRead + 1 ? qMin(step * 2, longestStep) : 1;
        QList<QVector<QVariant>> rows = read(index, step).rows;
        keep(index, rows);
        static const QList<QVector<QVariant>> none;
        const auto kept = blocks.constFind(index);
        return kept == blocks.constEnd() ? none : *kept;
    }
};

ResultRows::ResultRows(QList<QVector<QVariant>> rows) : m_whole(std::move(rows)) {}

ResultRows ResultRows::paged(DatabaseConnection& connection, const QString& select, const QString& count,
                             const QVariant& param, const QStringList& files, QList<FieldDef>* columns)
{
    auto pager = std::make_shared<Pager>();
    pager->connection = &connection;
    pager->before = QStringLiteral("SELECT * FROM (\n%1\n)").arg(select);
    pager->param = param;
    pager->files = files;
    // A small result is read whole with its first read; a larger one is counted.
    ResultSet first = pager->read(0, firstBlocks);
    if (columns)
        *columns = first.columns;
    pager->count =
        first.rows.size() < firstBlocks * blockRows ? int(first.rows.size()) : pager->counted(count);
    pager->keep(0, first.rows);
    pager->lastBlockRead = -1; // the next read starts small wherever it is
    ResultRows result;
    result.m_pager = std::move(pager);
    return result;
}

ResultRows ResultRows::pagedTable(DatabaseConnection& connection, const QString& table,
                                  const QString& columns, const QString& order, int count,
                                  const QStringList& files)
{
    auto pager = std::make_shared<Pager>();
    pager->connection = &connection;
    // The block's rowids are found in the index alone; only its own rows are read.
    pager->before = QStringLiteral("SELECT %1 FROM %2 WHERE rowid IN (SELECT rowid FROM %2 %3")
                        .arg(columns, table, order);
    pager->after = QStringLiteral(") %1").arg(order);
    pager->files = files;
    pager->count = count;
    ResultRows result;
    result.m_pager = std::move(pager);
    return result;
}

int ResultRows::size() const
{
    return m_pager ? m_pager->count : int(m_whole.size());
}

const QVector<QVariant>& ResultRows::at(int row) const
{
    if (!m_pager)
        return m_whole.at(row);
    const QList<QVector<QVariant>>& block = m_pager->block(row / blockRows);
    static const QVector<QVariant> blank;
    const int inBlock = row % blockRows;
    // Rows removed since the count read as blank.
    return inBlock < block.size() ? block.at(inBlock) : blank;
}

} // namespace tevrak::records
