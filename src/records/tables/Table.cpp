#include "records/tables/Table.h"

#include "platform/core/Cp874.h"
#include "platform/core/Error.h"
#include "records/tables/DatabaseConnection.h"
#include "records/tables/PrimaryIndexFile.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <optional>
#include <sqlite3.h>

namespace tevrak::records {

namespace {

QString orderClause(const TableSchema& schema)
{
    QStringList order;
    for (const QString& field : schema.orderFields)
        order << quotedName(field);
    order << QStringLiteral("rowid");
    return QStringLiteral(" ORDER BY ") + order.join(QLatin1Char(','));
}

void checkSmallint(const FieldDef& def, qint64 value)
{
    if (value < -32768 || value > 32767)
        throw Error(QStringLiteral("ช่อง %2 รับได้เฉพาะตัวเลข -32768 ถึง 32767\n%1")
                        .arg(value)
                        .arg(def.name));
}

void checkString(const FieldDef& def, const QString& text)
{
    const auto bytes = platform::cp874::encode(text);
    if (!bytes)
        throw Error(QStringLiteral("ช่อง %1 มีอักขระที่ไม่อยู่ในรหัสภาษาไทย: บันทึกไม่ได้\n\"%2\"")
                        .arg(def.name, text));
    if (def.size > 0 && bytes->size() > def.size)
        throw Error(QStringLiteral("ช่อง %1 เก็บได้ไม่เกิน %2 ตัวอักษร\n\"%3\": %4")
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

QString Table::rowColumns() const
{
    QStringList columns;
    for (const FieldDef& field : m_schema.fields)
        columns << quotedName(field.name);
    // The rowid comes last, after the fields the dataset shows.
    columns << QStringLiteral("rowid");
    return columns.join(QLatin1Char(','));
}

int Table::positionOf(qint64 rowid)
{
    if (rowid < 0)
        return 0;
    const QString table = DatabaseConnection::qualifiedName(m_schema);
    const QStringList files{filePath()};
    QStringList order;
    for (const QString& field : m_schema.orderFields)
        order << quotedName(field);
    QVector<QVariant> values;
    if (!order.isEmpty()) {
        DatabaseConnection::Statement read(
            m_connection,
            QStringLiteral("SELECT %1 FROM %2 WHERE rowid=?1").arg(order.join(QLatin1Char(',')), table),
            files);
        read.bind(1, rowid);
        const ResultSet found = read.fetchAll();
        if (found.rows.isEmpty())
            return 0;
        values = found.rows.first();
    }
    const bool anyBlank = std::any_of(values.cbegin(), values.cend(), [](const QVariant& value) {
        return !value.isValid() || value.isNull();
    });
    QString sql;
    if (anyBlank) {
        // Rare (a key field left blank by another program): counted the slow way.
        sql = QStringLiteral("SELECT n - 1 FROM (SELECT rowid AS r, row_number() OVER (%1) AS n FROM %2) "
                             "WHERE r=?%3")
                  .arg(orderClause(m_schema).trimmed(), table)
                  .arg(values.size() + 1);
    } else {
        // The rows before it in the order: a smaller key, and those whose
        // first differing field is blank (blanks sort first).
        QStringList marks;
        for (int i = 0; i < values.size(); ++i)
            marks << QStringLiteral("?%1").arg(i + 1);
        order << QStringLiteral("rowid");
        marks << QStringLiteral("?%1").arg(values.size() + 1);
        QStringList counts{QStringLiteral("(SELECT count(*) FROM %1 WHERE (%2) < (%3))")
                               .arg(table, order.join(QLatin1Char(',')), marks.join(QLatin1Char(',')))};
        for (int k = 0; k < values.size(); ++k) {
            QStringList same;
            for (int i = 0; i < k; ++i)
                same << QStringLiteral("%1=?%2").arg(order[i]).arg(i + 1);
            same << QStringLiteral("%1 IS NULL").arg(order[k]);
            counts << QStringLiteral("(SELECT count(*) FROM %1 WHERE %2)")
                          .arg(table, same.join(QStringLiteral(" AND ")));
        }
        sql = QStringLiteral("SELECT ") + counts.join(QStringLiteral(" + "));
    }
    DatabaseConnection::Statement count(m_connection, sql, files);
    for (int i = 0; i < values.size(); ++i)
        count.bind(i + 1, values[i]);
    count.bind(int(values.size()) + 1, rowid);
    const ResultSet counted = count.fetchAll();
    return counted.rows.isEmpty() ? 0 : int(counted.rows.first().value(0).toLongLong());
}

int Table::countRows(int addedHere)
{
    // Counting 100,000 rows reads the whole index: after a post of ours, with
    // no other connection's change and the same file since the last count,
    // the count is known.
    const QString schema = DatabaseConnection::schemaName(m_schema);
    DatabaseConnection::Statement version(m_connection, QStringLiteral("PRAGMA %1.data_version").arg(schema),
                                          {filePath()});
    const ResultSet read = version.fetchAll();
    const CountStamp stamp{read.rows.isEmpty() ? -1 : read.rows.first().value(0).toLongLong(),
                           m_connection.attachments()};
    if (addedHere < 0 || m_countStamp.dataVersion < 0 || !(stamp == m_countStamp)) {
        DatabaseConnection::Statement count(
            m_connection,
            QStringLiteral("SELECT count(*) FROM %1").arg(DatabaseConnection::qualifiedName(m_schema)),
            {filePath()});
        const ResultSet counted = count.fetchAll();
        m_count = counted.rows.isEmpty() ? 0 : int(counted.rows.first().value(0).toLongLong());
    } else {
        m_count += addedHere;
    }
    m_countStamp = stamp;
    return m_count;
}

void Table::load(qint64 currentRowid, qint64 knownRowsAfter, int addedHere)
{
    m_connection.attach(m_schema);
    const int count = countRows(addedHere);
    ResultRows rows =
        ResultRows::pagedTable(m_connection, DatabaseConnection::qualifiedName(m_schema), rowColumns(),
                               orderClause(m_schema).trimmed(), count, {filePath()});
    if (state() == State::Inactive)
        setState(State::Browse);
    QVector<QVariant> current;
    if (currentRowid >= 0) {
        DatabaseConnection::Statement read(
            m_connection,
            QStringLiteral("SELECT %1 FROM %2 WHERE rowid=?1")
                .arg(rowColumns(), DatabaseConnection::qualifiedName(m_schema)),
            {filePath()});
        read.bind(1, currentRowid);
        const ResultSet found = read.fetchAll();
        if (!found.rows.isEmpty())
            current = found.rows.first();
    }
    if (current.isEmpty()) {
        setResult(m_schema.fields, std::move(rows), 0);
        return;
    }
    // The row is shown from its values; its index is looked for only when asked.
    const int position = knownRowsAfter >= 0 ? int(qMax<qint64>(0, count - 1 - knownRowsAfter)) : -1;
    setResult(m_schema.fields, std::move(rows), std::move(current), [this, currentRowid, position] {
        return position >= 0 ? position : positionOf(currentRowid);
    });
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
    const QVariant rowid = hasCurrentRow() ? currentValue(int(m_schema.fields.size())) : QVariant();
    load(rowid.isValid() ? rowid.toLongLong() : -1);
}

void Table::append()
{
    requireOpen();
    if (state() == State::Insert)
        fail(QStringLiteral("มีระเบียนใหม่ที่ยังไม่ได้บันทึก: กรุณาบันทึกหรือยกเลิกก่อน"));
    m_pending = QVector<QVariant>(m_schema.fields.size());
    setState(State::Insert);
    emit currentChanged();
}

void Table::requireInsert(const QString& field) const
{
    if (state() != State::Insert)
        fail(QStringLiteral("ตารางไม่ได้อยู่ระหว่างแก้ไขหรือเพิ่มระเบียน\n%1").arg(field));
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
            throw Error(QStringLiteral("ค่าที่ป้อนในช่อง %2 ไม่ใช่จำนวนเต็ม\n'%1'").arg(text, def.name));
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
                QStringLiteral("ค่าที่ป้อนในช่อง %2 ไม่ใช่ตัวเลข\n'%1'").arg(text, def.name));
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
            throw Error(QStringLiteral("ค่าที่ป้อนในช่อง %2 ไม่ใช่วันที่\n'%1'").arg(text, def.name));
        assign(column, date.toString(Qt::ISODate));
        return;
    }
    case FieldType::Boolean:
        try {
            assign(column, qint64(values::toBoolean(text, def.name) ? 1 : 0));
        } catch (const Error&) {
            throw Error(QStringLiteral("ค่าในช่อง %2 ไม่ใช่จริงหรือเท็จ\n'%1'").arg(text, def.name));
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
        throw Error(QStringLiteral("ช่อง %1 เก็บตัวเลขไม่ได้\n%2").arg(def.name).arg(value));
    }
}

void Table::setFloat(const QString& field, double value)
{
    requireInsert(field);
    const int column = requireColumn(field);
    const FieldDef& def = m_schema.fields[column];
    if (!std::isfinite(value))
        throw Error(QStringLiteral("ช่อง %1 เก็บค่านี้ไม่ได้\n%2").arg(def.name).arg(value));
    switch (def.type) {
    case FieldType::Float:
        assign(column, value);
        return;
    case FieldType::SmallInt: {
        const double rounded = std::round(value);
        if (std::fabs(rounded) > 32768.0)
            throw Error(QStringLiteral("ช่อง %2 รับได้เฉพาะตัวเลข -32768 ถึง 32767\n%1")
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
        throw Error(QStringLiteral("ช่อง %1 เก็บตัวเลขไม่ได้\n%2").arg(def.name).arg(value));
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
        throw Error(QStringLiteral("ช่อง %1 เก็บวันที่ไม่ได้").arg(def.name));
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
        throw Error(QStringLiteral("ช่อง %1 เก็บค่าจริงหรือเท็จไม่ได้").arg(def.name));
    }
}

std::unique_ptr<DatabaseConnection::Statement> Table::insertStatement()
{
    QStringList names;
    QStringList marks;
    for (const FieldDef& field : m_schema.fields) {
        names << quotedName(field.name);
        marks << QStringLiteral("?");
    }
    return std::make_unique<DatabaseConnection::Statement>(
        m_connection,
        QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
            .arg(DatabaseConnection::qualifiedName(m_schema), names.join(QLatin1Char(',')),
                 marks.join(QLatin1Char(','))),
        QStringList{filePath()});
}

qint64 Table::insertPending()
{
    std::unique_ptr<DatabaseConnection::Statement> single;
    DatabaseConnection::Statement* insert = m_insert.get();
    if (!insert) {
        single = insertStatement();
        insert = single.get();
    }
    for (int i = 0; i < m_pending.size(); ++i)
        insert->bind(i + 1, m_pending[i]);
    insert->run();
    return sqlite3_last_insert_rowid(m_connection.handle());
}

DatabaseConnection::IndexFileUpdate Table::indexUpdateWithRow(qint64 rowid, qint64& rowsAfter)
{
    // A .PX in step gets the new key's line at its place; otherwise it is
    // made anew from the rows.
    if (const std::optional<qint32> fingerprint = m_connection.inStepIndexFingerprint(m_schema)) {
        QStringList key;
        for (const QString& field : m_schema.primaryKey)
            key << quotedName(field);
        DatabaseConnection::Statement read(
            m_connection,
            QStringLiteral("SELECT %1 FROM %2 WHERE rowid=?1")
                .arg(key.join(QLatin1Char(',')), DatabaseConnection::qualifiedName(m_schema)),
            {filePath()});
        read.bind(1, rowid);
        const ResultSet found = read.fetchAll();
        // The line of a key unlike the others makes the file anew.
        if (!found.rows.isEmpty()) {
            if (auto insertion = PrimaryIndexFile::insertion(indexFilePath(), *fingerprint, found.rows.first())) {
                // The table is listed in key order: the rows after the new one too.
                if (m_schema.orderFields == m_schema.primaryKey)
                    rowsAfter = insertion->keysAfter;
                return {&m_schema, {}, std::move(insertion)};
            }
        }
    }
    return {&m_schema, m_connection.indexFileContents(m_schema), std::nullopt};
}

void Table::post()
{
    if (state() != State::Insert)
        fail(QStringLiteral("ไม่มีระเบียนใหม่ให้บันทึก"));
    if (m_replacing) {
        // One row of replaceRows(): its transaction, index file and reading follow.
        insertPending();
        m_pending.clear();
        setState(State::Browse);
        return;
    }
    const QString path = filePath();
    m_connection.attach(m_schema);
    qint64 rowid = -1;
    qint64 rowsAfter = -1;
    const auto updates = m_connection.commitInStep({path}, [&] {
        rowid = insertPending();
        QList<DatabaseConnection::IndexFileUpdate> indexes;
        if (m_schema.hasPrimaryIndex())
            indexes.append(indexUpdateWithRow(rowid, rowsAfter));
        return indexes;
    }); // committed to the file on return (synchronous=FULL)
    m_pending.clear();
    setState(State::Browse);
    // The row is stored from here on: a failure of what follows must not read
    // as a refused record.
    const auto savedBut = [&path](const Error& error) {
        return Error(QStringLiteral("บันทึกระเบียนแล้ว แต่ขั้นต่อไปทำไม่สำเร็จ\n%1\n%2")
                         .arg(path, error.message()));
    };
    try {
        m_connection.writeIndexFiles(updates);
    } catch (const Error& error) {
        try {
            load(rowid);
        } catch (const Error&) {
            // The index file's failure is the one reported.
        }
        throw savedBut(error);
    }
    try {
        load(rowid, rowsAfter, 1);
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
        fail(QStringLiteral("มีระเบียนใหม่ที่ยังไม่ได้บันทึก: กรุณาบันทึกหรือยกเลิกก่อน"));
    requireColumn(QStringLiteral("Claimno"));
    requireColumn(QStringLiteral("Seq"));
    m_connection.attach(m_schema);
    DatabaseConnection::Statement find(
        m_connection,
        QStringLiteral("SELECT rowid FROM %1 WHERE \"Claimno\"=?1 AND \"Seq\"=?2%3")
            .arg(DatabaseConnection::qualifiedName(m_schema), orderClause(m_schema)),
        {filePath()});
    find.bind(1, claimno);
    find.bind(2, seq);
    const ResultSet found = find.fetchAll();
    if (found.rows.isEmpty()) {
        refresh();
        return false;
    }
    load(found.rows.first().value(0).toLongLong());
    return true;
}

void Table::empty()
{
    if (state() == State::Insert)
        fail(QStringLiteral("มีระเบียนใหม่ที่ยังไม่ได้บันทึก: กรุณาบันทึกหรือยกเลิกก่อน"));
    replaceRows([] {});
}

void Table::replaceRows(const std::function<void()>& fill)
{
    if (state() == State::Insert)
        fail(QStringLiteral("มีระเบียนใหม่ที่ยังไม่ได้บันทึก: กรุณาบันทึกหรือยกเลิกก่อน"));
    const bool wasOpen = isOpen();
    m_connection.attach(m_schema);
    open();
    struct Replacing {
        Table& table;
        explicit Replacing(Table& t) : table(t)
        {
            table.m_replacing = true;
            table.m_insert = table.insertStatement();
        }
        ~Replacing()
        {
            table.m_replacing = false;
            table.m_insert.reset();
            if (table.state() == State::Insert)
                table.cancel();
        }
    };
    const auto leaveAsItWas = [&] {
        if (wasOpen)
            load(-1);
        else
            close();
    };
    QList<DatabaseConnection::IndexFileUpdate> updates;
    try {
        updates = m_connection.commitInStep({filePath()}, [&] {
            const Replacing replacing(*this);
            m_connection.exec(
                QStringLiteral("DELETE FROM %1").arg(DatabaseConnection::qualifiedName(m_schema)),
                {filePath()});
            fill();
            QList<DatabaseConnection::IndexFileUpdate> indexes;
            if (m_schema.hasPrimaryIndex())
                indexes.append({&m_schema, m_connection.indexFileContents(m_schema), std::nullopt});
            return indexes;
        });
    } catch (...) {
        leaveAsItWas();
        throw;
    }
    m_connection.writeIndexFiles(updates);
    leaveAsItWas();
}

} // namespace tevrak::records
