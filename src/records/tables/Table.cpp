#include "records/tables/Table.h"

#include "platform/Cp874.h"
#include "platform/Error.h"
#include "records/tables/DatabaseConnection.h"

#include <QDir>
#include <QFileInfo>
#include <cmath>
#include <sqlite3.h>

namespace tevrak::records {

namespace {

QString quoted(const QString& identifier)
{
    return QLatin1Char('"') + identifier + QLatin1Char('"');
}

QString orderClause(const TableSchema& schema)
{
    QStringList order;
    for (const QString& field : schema.orderFields)
        order << quoted(field);
    order << QStringLiteral("rowid");
    return QStringLiteral(" ORDER BY ") + order.join(QLatin1Char(','));
}

void checkSmallint(const FieldDef& def, qint64 value)
{
    if (value < -32768 || value > 32767)
        throw Error(QStringLiteral("%1 is not a valid value for field %2 (-32768 to 32767)")
                        .arg(value)
                        .arg(def.name));
}

void checkString(const FieldDef& def, const QString& text)
{
    const auto bytes = platform::cp874::encode(text);
    if (!bytes)
        throw Error(QStringLiteral(
                        "Field %1 cannot hold \"%2\": it has characters that the Thai code page cannot write")
                        .arg(def.name, text));
    if (def.size > 0 && bytes->size() > def.size)
        throw Error(QStringLiteral("Field %1 holds at most %2 characters; \"%3\" has %4")
                        .arg(def.name)
                        .arg(def.size)
                        .arg(text)
                        .arg(bytes->size()));
}

bool blankDateText(const QString& text)
{
    for (const QChar c : text) {
        if (c != QLatin1Char(' ') && c != QLatin1Char('/') && c != QLatin1Char('-'))
            return false;
    }
    return true;
}

} // namespace

Table::Table(DatabaseConnection& connection, const QString& name, const TableSchema& schema)
    : Dataset(connection, name), m_schema(schema)
{
    setResult(m_schema.fields, {}, -1);
}

QString Table::filePath() const
{
    return m_connection.filePath(m_schema);
}

QString Table::indexFilePath() const
{
    return m_connection.indexFilePath(m_schema);
}

void Table::load(qint64 currentRowid)
{
    m_connection.attach(m_schema);
    QStringList columns{QStringLiteral("rowid")};
    for (const FieldDef& field : m_schema.fields)
        columns << quoted(field.name);
    DatabaseConnection::Statement select(m_connection,
                                         QStringLiteral("SELECT %1 FROM %2%3")
                                             .arg(columns.join(QLatin1Char(',')),
                                                  DatabaseConnection::qualifiedName(m_schema),
                                                  orderClause(m_schema)),
                                         {filePath()});
    ResultSet result = select.fetchAll();
    QVector<qint64> rowids;
    rowids.reserve(result.rows.size());
    int current = 0;
    for (QVector<QVariant>& row : result.rows) {
        const qint64 rowid = row.takeFirst().toLongLong();
        if (rowid == currentRowid)
            current = int(rowids.size());
        rowids << rowid;
    }
    m_rowids = rowids;
    if (state() == State::Inactive)
        setState(State::Browse);
    setResult(m_schema.fields, std::move(result.rows), current);
}

void Table::open()
{
    if (isOpen())
        return;
    try {
        load(-1);
    } catch (...) {
        setState(State::Inactive);
        throw;
    }
}

void Table::refresh()
{
    requireOpen();
    if (state() == State::Insert)
        return;
    load(m_row >= 0 && m_row < m_rowids.size() ? m_rowids[m_row] : -1);
}

void Table::append()
{
    requireOpen();
    if (state() == State::Insert)
        fail(QStringLiteral("A new record is already pending: save or cancel it first"));
    m_pending = QVector<QVariant>(m_schema.fields.size());
    setState(State::Insert);
    emit currentChanged();
}

void Table::requireInsert(const QString& field) const
{
    if (state() != State::Insert)
        fail(QStringLiteral("Dataset not in edit or insert mode (field %1)").arg(field));
}

void Table::assign(int column, const QVariant& stored)
{
    m_pending[column] = stored;
    emit currentChanged();
}

void Table::setBlank(const QString& field)
{
    requireInsert(field);
    assign(requireColumn(field), QVariant());
}

void Table::setText(const QString& field, const QString& text)
{
    requireInsert(field);
    const int column = requireColumn(field);
    const FieldDef& def = m_schema.fields[column];
    const QString trimmed = text.trimmed();
    switch (def.type) {
    case FieldType::String:
        if (text.isEmpty()) {
            assign(column, QVariant());
        } else {
            checkString(def, text);
            assign(column, text);
        }
        return;
    case FieldType::SmallInt: {
        if (trimmed.isEmpty()) {
            assign(column, QVariant());
            return;
        }
        bool ok = false;
        const qint64 value = trimmed.toLongLong(&ok);
        if (!ok)
            throw Error(QStringLiteral("'%1' is not a valid integer value for field %2").arg(text, def.name));
        checkSmallint(def, value);
        assign(column, value);
        return;
    }
    case FieldType::Float: {
        if (trimmed.isEmpty()) {
            assign(column, QVariant());
            return;
        }
        bool ok = false;
        const double value = trimmed.toDouble(&ok);
        if (!ok || !std::isfinite(value))
            throw Error(
                QStringLiteral("'%1' is not a valid floating point value for field %2").arg(text, def.name));
        assign(column, value);
        return;
    }
    case FieldType::Date: {
        if (blankDateText(trimmed)) {
            assign(column, QVariant());
            return;
        }
        QDate date = QDate::fromString(trimmed, QStringLiteral("d/M/yyyy"));
        if (!date.isValid())
            date = QDate::fromString(trimmed, Qt::ISODate);
        if (!date.isValid())
            throw Error(QStringLiteral("'%1' is not a valid date for field %2").arg(text, def.name));
        assign(column, date.toString(Qt::ISODate));
        return;
    }
    case FieldType::Boolean:
        try {
            assign(column, qint64(values::toBoolean(text, def.name) ? 1 : 0));
        } catch (const Error&) {
            throw Error(QStringLiteral("'%1' is not a valid boolean value for field %2").arg(text, def.name));
        }
        return;
    case FieldType::Unknown:
        break;
    }
    assign(column, text);
}

void Table::setInteger(const QString& field, int value)
{
    requireInsert(field);
    const int column = requireColumn(field);
    const FieldDef& def = m_schema.fields[column];
    switch (def.type) {
    case FieldType::SmallInt:
        checkSmallint(def, value);
        assign(column, qint64(value));
        return;
    case FieldType::Float:
        assign(column, double(value));
        return;
    case FieldType::Boolean:
        assign(column, qint64(value != 0 ? 1 : 0));
        return;
    case FieldType::String:
        setText(field, QString::number(value));
        return;
    default:
        throw Error(QStringLiteral("Field %1 cannot hold the number %2").arg(def.name).arg(value));
    }
}

void Table::setFloat(const QString& field, double value)
{
    requireInsert(field);
    const int column = requireColumn(field);
    const FieldDef& def = m_schema.fields[column];
    if (!std::isfinite(value))
        throw Error(QStringLiteral("Field %1 cannot hold the value %2").arg(def.name).arg(value));
    switch (def.type) {
    case FieldType::Float:
        assign(column, value);
        return;
    case FieldType::SmallInt: {
        const double rounded = std::round(value);
        if (std::fabs(rounded) > 32768.0)
            throw Error(QStringLiteral("%1 is not a valid value for field %2 (-32768 to 32767)")
                            .arg(value)
                            .arg(def.name));
        checkSmallint(def, qint64(rounded));
        assign(column, qint64(rounded));
        return;
    }
    case FieldType::Boolean:
        assign(column, qint64(value != 0.0 ? 1 : 0));
        return;
    case FieldType::String:
        setText(field, QString::number(value, 'g', 15));
        return;
    default:
        throw Error(QStringLiteral("Field %1 cannot hold the number %2").arg(def.name).arg(value));
    }
}

void Table::setDate(const QString& field, const QDate& date)
{
    requireInsert(field);
    const int column = requireColumn(field);
    const FieldDef& def = m_schema.fields[column];
    switch (def.type) {
    case FieldType::Date:
        assign(column, date.isValid() ? QVariant(date.toString(Qt::ISODate)) : QVariant());
        return;
    case FieldType::String:
        setText(field, date.isValid() ? date.toString(QStringLiteral("dd/MM/yyyy")) : QString());
        return;
    default:
        throw Error(QStringLiteral("Field %1 cannot hold a date").arg(def.name));
    }
}

void Table::setBoolean(const QString& field, bool value)
{
    requireInsert(field);
    const int column = requireColumn(field);
    const FieldDef& def = m_schema.fields[column];
    switch (def.type) {
    case FieldType::Boolean:
    case FieldType::SmallInt:
        assign(column, qint64(value ? 1 : 0));
        return;
    case FieldType::Float:
        assign(column, value ? 1.0 : 0.0);
        return;
    case FieldType::String:
        setText(field, value ? QStringLiteral("True") : QStringLiteral("False"));
        return;
    default:
        throw Error(QStringLiteral("Field %1 cannot hold a boolean").arg(def.name));
    }
}

void Table::post()
{
    if (state() != State::Insert)
        fail(QStringLiteral("Dataset not in insert mode: there is no new record to save"));
    const QString path = filePath();
    m_connection.attach(m_schema);
    QStringList names;
    QStringList marks;
    for (const FieldDef& field : m_schema.fields) {
        names << quoted(field.name);
        marks << QStringLiteral("?");
    }
    qint64 rowid = -1;
    {
        DatabaseConnection::Statement insert(m_connection,
                                             QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                                 .arg(DatabaseConnection::qualifiedName(m_schema),
                                                      names.join(QLatin1Char(',')),
                                                      marks.join(QLatin1Char(','))),
                                             {path});
        for (int i = 0; i < m_pending.size(); ++i)
            insert.bind(i + 1, m_pending[i]);
        insert.run(); // committed to the file on return (synchronous=FULL)
        rowid = sqlite3_last_insert_rowid(m_connection.handle());
    }
    m_pending.clear();
    setState(State::Browse);
    // The row is stored from here on: a failure of what follows must not read
    // as a refused record.
    const auto savedBut = [&path](const Error& error) {
        return Error(QStringLiteral("The record was saved in %1, but then this failed: %2")
                         .arg(path, error.message()));
    };
    try {
        writeIndexFile();
    } catch (const Error& error) {
        try {
            load(rowid);
        } catch (const Error&) {
            // The index file's failure is the one reported.
        }
        throw savedBut(error);
    }
    try {
        load(rowid);
    } catch (const Error& error) {
        throw savedBut(error);
    }
}

void Table::post(const std::function<void()>& afterStored)
{
    try {
        post();
    } catch (...) {
        if (state() != State::Insert)
            afterStored();
        throw;
    }
    afterStored();
}

void Table::cancel()
{
    if (state() != State::Insert)
        return;
    m_pending.clear();
    setState(State::Browse);
    emit currentChanged();
}

bool Table::locate(const QString& claimno, int seq)
{
    requireOpen();
    if (state() == State::Insert)
        fail(QStringLiteral("A new record is pending: save or cancel it first"));
    const int claimColumn = requireColumn(QStringLiteral("Claimno"));
    const int seqColumn = requireColumn(QStringLiteral("Seq"));
    refresh();
    for (int row = 0; row < m_rows.size(); ++row) {
        if (m_rows[row].value(claimColumn).toString() == claimno &&
            values::toInteger(m_rows[row].value(seqColumn), QStringLiteral("Seq")) == seq &&
            !m_rows[row].value(seqColumn).isNull()) {
            m_row = -1; // always report the move
            moveTo(row);
            return true;
        }
    }
    return false;
}

void Table::empty()
{
    if (state() == State::Insert)
        fail(QStringLiteral("A new record is pending: save or cancel it first"));
    m_connection.attach(m_schema);
    m_connection.exec(QStringLiteral("DELETE FROM %1").arg(DatabaseConnection::qualifiedName(m_schema)),
                      {filePath()});
    writeIndexFile();
    if (isOpen())
        load(-1);
}

void Table::writeIndexFile()
{
    m_connection.rewriteIndexFile(m_schema);
}

} // namespace tevrak::records
