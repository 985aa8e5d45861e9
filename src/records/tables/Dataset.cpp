#include "records/tables/Dataset.h"

#include "platform/core/Error.h"
#include "records/tables/DatabaseConnection.h"
#include "records/tables/RecordDates.h"

#include <cmath>
#include <limits>

namespace tevrak::records {

namespace values {

QString toText(const QVariant& value, FieldType type)
{
    if (!value.isValid() || value.isNull())
        return {};
    switch (type) {
    case FieldType::Date: {
        try {
            return toDate(value, {}).toString(QStringLiteral("dd/MM/yyyy"));
        } catch (const Error&) {
            return value.toString();
        }
    }
    case FieldType::Boolean:
        try {
            return toBoolean(value, {}) ? QStringLiteral("True") : QStringLiteral("False");
        } catch (const Error&) {
            return value.toString();
        }
    default:
        break;
    }
    if (value.typeId() == QMetaType::Double)
        return QString::number(value.toDouble(), 'g', 15);
    return value.toString();
}

int toInteger(const QVariant& value, const QString& field)
{
    if (!value.isValid() || value.isNull())
        return 0;
    switch (value.typeId()) {
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::Bool:
        return int(value.toLongLong());
    case QMetaType::Double: {
        const double number = std::round(value.toDouble());
        if (!(std::fabs(number) <= double(std::numeric_limits<int>::max())))
            throw Error(QStringLiteral("ค่าในช่อง %1 ใหญ่เกินจำนวนเต็ม").arg(field));
        return int(number);
    }
    default:
        break;
    }
    const QString text = value.toString().trimmed();
    if (text.isEmpty())
        return 0;
    bool ok = false;
    const int number = text.toInt(&ok);
    if (ok)
        return number;
    const double real = text.toDouble(&ok);
    if (ok && std::fabs(real) <= double(std::numeric_limits<int>::max()))
        return int(std::round(real));
    throw Error(QStringLiteral("ค่าที่ป้อนไม่ใช่จำนวนเต็ม\n'%1'").arg(text));
}

double toFloat(const QVariant& value, const QString&)
{
    if (!value.isValid() || value.isNull())
        return 0.0;
    switch (value.typeId()) {
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::Bool:
    case QMetaType::Double:
        return value.toDouble();
    default:
        break;
    }
    const QString text = value.toString().trimmed();
    if (text.isEmpty())
        return 0.0;
    bool ok = false;
    const double number = text.toDouble(&ok);
    if (!ok)
        throw Error(QStringLiteral("ค่าที่ป้อนไม่ใช่ตัวเลข\n'%1'").arg(text));
    return number;
}

QDate toDate(const QVariant& value, const QString&)
{
    if (!value.isValid() || value.isNull())
        return zeroDate();
    switch (value.typeId()) {
    case QMetaType::QDate:
        return value.toDate().isValid() ? value.toDate() : zeroDate();
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::Double:
        // a day number counted from the zero date
        return zeroDate().addDays(qint64(std::floor(value.toDouble())));
    default:
        break;
    }
    const QString text = value.toString().trimmed();
    if (text.isEmpty())
        return zeroDate();
    QDate date = QDate::fromString(text, Qt::ISODate);
    if (!date.isValid())
        date = QDate::fromString(text, QStringLiteral("d/M/yyyy"));
    if (!date.isValid())
        throw Error(QStringLiteral("ค่าที่ป้อนไม่ใช่วันที่\n'%1'").arg(text));
    return date;
}

bool toBoolean(const QVariant& value, const QString&)
{
    if (!value.isValid() || value.isNull())
        return false;
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::Double:
        return value.toDouble() != 0.0;
    default:
        break;
    }
    const QString text = value.toString().trimmed().toLower();
    if (text.isEmpty() || text == QLatin1String("0") || text == QLatin1String("false") ||
        text == QLatin1String("f"))
        return false;
    if (text == QLatin1String("1") || text == QLatin1String("true") || text == QLatin1String("t"))
        return true;
    throw Error(QStringLiteral("ค่าไม่ใช่จริงหรือเท็จ\n'%1'").arg(value.toString()));
}

} // namespace values

Dataset::Dataset(DatabaseConnection& connection, const QString& name) : m_connection(connection), m_name(name)
{
}

void Dataset::close()
{
    if (!isOpen())
        return;
    m_state = State::Inactive;
    m_rows = ResultRows();
    m_pending.clear();
    placeCurrent(-1);
    m_eof = true;
    emit reset();
    emit currentChanged();
}

void Dataset::setColumns(const QList<FieldDef>& columns)
{
    m_columns = columns;
    m_columnIndex.clear();
    m_exactColumnIndex.clear();
    for (int i = 0; i < m_columns.size(); ++i) {
        const QString key = m_columns[i].name.toLower();
        if (!m_columnIndex.contains(key)) {
            m_columnIndex.insert(key, i);
            m_exactColumnIndex.insert(m_columns[i].name, i);
        }
    }
}

void Dataset::placeCurrent(int row)
{
    m_row = row;
    m_currentValues.clear();
    m_placeOfCurrent = nullptr;
}

void Dataset::setResult(const QList<FieldDef>& columns, ResultRows rows, int current)
{
    setColumns(columns);
    m_rows = std::move(rows);
    placeCurrent(m_rows.isEmpty() ? -1 : qBound(0, current, int(m_rows.size()) - 1));
    m_eof = m_rows.isEmpty();
    emit reset();
    emit currentChanged();
}

void Dataset::setResult(const QList<FieldDef>& columns, ResultRows rows, QVector<QVariant> currentValues,
                        std::function<int()> placeOfCurrent)
{
    setColumns(columns);
    m_rows = std::move(rows);
    placeCurrent(-1);
    if (!m_rows.isEmpty()) {
        m_currentValues = std::move(currentValues);
        m_placeOfCurrent = std::move(placeOfCurrent);
    }
    m_eof = m_rows.isEmpty();
    emit reset();
    emit currentChanged();
}

int Dataset::currentIndex() const
{
    if (m_placeOfCurrent) {
        // A failure to find it leaves the row current, to be looked for again.
        const int found = m_placeOfCurrent();
        // From here on the row is read from the result, as any other.
        m_row = qBound(0, found, int(m_rows.size()) - 1);
        m_placeOfCurrent = nullptr;
    }
    return m_row;
}

void Dataset::fail(const QString& message) const
{
    throw Error(QStringLiteral("%1\n%2").arg(message, m_name));
}

void Dataset::requireOpen() const
{
    if (!isOpen())
        fail(QStringLiteral("ทำไม่ได้ขณะที่ตารางปิดอยู่"));
}

void Dataset::first()
{
    requireOpen();
    if (m_state == State::Insert)
        fail(QStringLiteral("มีระเบียนใหม่ที่ยังไม่ได้บันทึก: กรุณาบันทึกหรือยกเลิกก่อน"));
    placeCurrent(m_rows.isEmpty() ? -1 : 0);
    m_eof = m_rows.isEmpty();
    emit currentChanged();
}

void Dataset::next()
{
    requireOpen();
    if (m_state == State::Insert)
        fail(QStringLiteral("มีระเบียนใหม่ที่ยังไม่ได้บันทึก: กรุณาบันทึกหรือยกเลิกก่อน"));
    if (currentIndex() + 1 < m_rows.size()) {
        placeCurrent(m_row + 1);
        m_eof = false;
        emit currentChanged();
    } else {
        m_eof = true;
    }
}

bool Dataset::eof() const
{
    return !isOpen() || m_eof;
}

void Dataset::moveTo(int row)
{
    if (!isOpen() || m_state == State::Insert || row < 0 || row >= m_rows.size() || row == currentIndex())
        return;
    placeCurrent(row);
    m_eof = false;
    emit currentChanged();
}

QStringList Dataset::fieldNames() const
{
    QStringList names;
    for (const FieldDef& column : m_columns)
        names << column.name;
    return names;
}

int Dataset::columnIndex(const QString& field) const
{
    // Fields are mostly named as the table names them: found without a
    // lower-case copy of the name (a copy per field per row adds up in an export).
    const auto exact = m_exactColumnIndex.constFind(field);
    if (exact != m_exactColumnIndex.constEnd())
        return *exact;
    return m_columnIndex.value(field.toLower(), -1);
}

bool Dataset::hasField(const QString& field) const
{
    return columnIndex(field) >= 0;
}

FieldType Dataset::fieldType(const QString& field) const
{
    const int column = columnIndex(field);
    return column < 0 ? FieldType::Unknown : m_columns[column].type;
}

int Dataset::requireColumn(const QString& field) const
{
    const int column = columnIndex(field);
    if (column < 0)
        fail(QStringLiteral("ไม่พบช่องข้อมูล\n%1").arg(field));
    return column;
}

QVariant Dataset::currentValue(int column) const
{
    if (m_state == State::Insert)
        return m_pending.value(column);
    if (m_placeOfCurrent)
        return m_currentValues.value(column);
    if (m_row < 0 || m_row >= m_rows.size())
        return {};
    return m_rows.at(m_row).value(column);
}

bool Dataset::isBlank(const QString& field) const
{
    if (!isOpen())
        return true;
    const QVariant value = currentValue(requireColumn(field));
    return !value.isValid() || value.isNull();
}

QString Dataset::asText(const QString& field) const
{
    if (!isOpen())
        return {};
    const int column = requireColumn(field);
    return values::toText(currentValue(column), m_columns[column].type);
}

int Dataset::asInteger(const QString& field) const
{
    if (!isOpen())
        return 0;
    return values::toInteger(currentValue(requireColumn(field)), field);
}

double Dataset::asFloat(const QString& field) const
{
    if (!isOpen())
        return 0.0;
    return values::toFloat(currentValue(requireColumn(field)), field);
}

QDate Dataset::asDate(const QString& field) const
{
    if (!isOpen())
        return zeroDate();
    return values::toDate(currentValue(requireColumn(field)), field);
}

bool Dataset::asBoolean(const QString& field) const
{
    if (!isOpen())
        return false;
    return values::toBoolean(currentValue(requireColumn(field)), field);
}

QString Dataset::displayText(int row, const QString& field) const
{
    const int column = columnIndex(field);
    if (!isOpen() || column < 0 || row < 0 || row >= m_rows.size())
        return {};
    return values::toText(m_rows.at(row).value(column), m_columns[column].type);
}

} // namespace tevrak::records
