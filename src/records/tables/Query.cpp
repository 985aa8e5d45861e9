#include "records/tables/Query.h"

#include "platform/core/Error.h"
#include "records/tables/DatabaseConnection.h"
#include "records/tables/RecordDates.h"

#include <QRegularExpression>
#include <sqlite3.h>

namespace tevrak::records {

namespace {

// The text without its string literals, for looking at its words.
QString withoutLiterals(const QString& sql)
{
    static const QRegularExpression literal(QStringLiteral("'(?:[^']|'')*'"));
    QString text = sql;
    text.replace(literal, QStringLiteral("''"));
    return text;
}

bool hasOrderBy(const QString& sql)
{
    static const QRegularExpression orderBy(QStringLiteral("\\border\\s+by\\b"),
                                            QRegularExpression::CaseInsensitiveOption);
    return orderBy.match(withoutLiterals(sql)).hasMatch();
}

bool mentions(const QString& sql, const QString& word)
{
    const QRegularExpression pattern(QStringLiteral("(?<![\\w.])%1\\b").arg(QRegularExpression::escape(word)),
                                     QRegularExpression::CaseInsensitiveOption);
    return pattern.match(sql).hasMatch();
}

const FieldDef* findColumn(const QList<FieldDef>& columns, const char* name)
{
    for (const FieldDef& column : columns) {
        if (column.name.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
            return &column;
    }
    return nullptr;
}

} // namespace

Query::Query(DatabaseConnection& connection, const QString& name, const QStringList& sql)
    : Dataset(connection, name), m_sql(sql)
{
}

void Query::setSql(const QStringList& lines)
{
    close();
    m_sql = lines;
    m_param = QVariant();
}

void Query::setParam(const QString& text)
{
    m_param = text;
}

void Query::setParam(const QDate& date)
{
    m_param = date.isValid() ? date : zeroDate();
}

QList<const TableSchema*> Query::mentionedTables() const
{
    const QString text = withoutLiterals(joined());
    QList<const TableSchema*> found;
    for (const TableSchema* table : tables::all()) {
        if (mentions(text, table->name))
            found << table;
    }
    return found;
}

QStringList Query::referencedFiles() const
{
    QStringList files;
    for (const TableSchema* table : mentionedTables())
        files << m_connection.filePath(*table);
    if (files.isEmpty())
        files << m_connection.folder();
    return files;
}

void Query::open()
{
    if (isOpen())
        return;
    m_connection.attachIfPossible(mentionedTables());
    const QString text = joined();
    const QStringList files = referencedFiles();
    QList<FieldDef> columns;
    {
        DatabaseConnection::Statement plain(m_connection, text, files);
        if (sqlite3_column_count(plain.handle()) == 0)
            fail(QStringLiteral("คำสั่งนี้ไม่ได้ให้แถวข้อมูลมาเปิด: ต้องสั่งทำงานแทน"));
        if (plain.hasParameter(":prm") && !m_param.isValid())
            fail(QStringLiteral("ยังไม่ได้กำหนดค่าให้พารามิเตอร์\nprm"));
        // Only the column names are needed here.
        for (int i = 0; i < sqlite3_column_count(plain.handle()); ++i)
            columns << FieldDef{QString::fromUtf8(sqlite3_column_name(plain.handle(), i)), FieldType::Unknown,
                                0};
    }
    QString ordered = text;
    if (!hasOrderBy(text)) {
        QStringList order;
        if (const FieldDef* claim = findColumn(columns, "Claimno")) {
            order << quotedName(claim->name);
            if (const FieldDef* seq = findColumn(columns, "Seq"))
                order << quotedName(seq->name);
        }
        if (!order.isEmpty())
            ordered =
                QStringLiteral("SELECT * FROM (\n%1\n) ORDER BY %2").arg(text, order.join(QLatin1Char(',')));
    }
    // Read a page at a time when the text can stand inside another select;
    // otherwise (a closing semicolon, say) it runs as written, in the
    // engine's order, and is read whole.
    const auto standsInside = [&](const QString& select) {
        try {
            DatabaseConnection::Statement probe(m_connection,
                                                QStringLiteral("SELECT * FROM (\n%1\n)").arg(select), files);
            return true;
        } catch (const Error&) {
            return false;
        }
    };
    ResultRows rows;
    QList<FieldDef> resultColumns;
    // Counting the rows needs no order.
    const QString count = QStringLiteral("SELECT count(*) FROM (\n%1\n)").arg(text);
    if (standsInside(ordered) && standsInside(text)) {
        rows = ResultRows::paged(m_connection, ordered, count, m_param, files, &resultColumns);
    } else if (standsInside(text)) {
        rows = ResultRows::paged(m_connection, text, count, m_param, files, &resultColumns);
    } else {
        DatabaseConnection::Statement statement(m_connection, text, files);
        statement.bindNamed(":prm", m_param);
        ResultSet result = statement.fetchAll();
        resultColumns = result.columns;
        rows = ResultRows(std::move(result.rows));
    }
    setState(State::Browse);
    setResult(resultColumns, std::move(rows), 0);
}

int Query::execute()
{
    m_connection.attachIfPossible(mentionedTables());
    const QStringList files = referencedFiles();
    int changed = 0;
    // A statement that changes keyed rows keeps their index files in step,
    // in the same transaction.
    const auto updates = m_connection.commitInStep(files, [&] {
        QList<DatabaseConnection::IndexFileUpdate> indexes;
        bool readOnly = true;
        {
            DatabaseConnection::Statement statement(m_connection, joined(), files);
            if (statement.hasParameter(":prm") && !m_param.isValid())
                fail(QStringLiteral("ยังไม่ได้กำหนดค่าให้พารามิเตอร์\nprm"));
            statement.bindNamed(":prm", m_param);
            readOnly = sqlite3_stmt_readonly(statement.handle()) != 0;
            changed = statement.run();
        }
        if (readOnly) {
            changed = 0;
            return indexes;
        }
        for (const TableSchema* table : mentionedTables()) {
            if (changed > 0 && table->hasPrimaryIndex())
                indexes.append({table, m_connection.indexFileContents(*table), std::nullopt});
        }
        return indexes;
    });
    m_connection.writeIndexFiles(updates);
    return changed;
}

} // namespace tevrak::records
