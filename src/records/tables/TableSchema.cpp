#include "records/tables/TableSchema.h"

#include <QRegularExpression>

namespace tevrak::records {

namespace {

FieldDef str(const char* name, int size)
{
    return {QString::fromLatin1(name), FieldType::String, size};
}
FieldDef smallint(const char* name)
{
    return {QString::fromLatin1(name), FieldType::SmallInt, 0};
}
FieldDef date(const char* name)
{
    return {QString::fromLatin1(name), FieldType::Date, 0};
}
FieldDef boolean(const char* name)
{
    return {QString::fromLatin1(name), FieldType::Boolean, 0};
}
FieldDef flt(const char* name)
{
    return {QString::fromLatin1(name), FieldType::Float, 0};
}

const QStringList claimKey{QStringLiteral("Claimno"), QStringLiteral("Seq")};

QList<FieldDef> tevrakFields()
{
    return {str("Claimno", 8), smallint("Seq"),    str("Garage", 30),  str("Brand", 20),   str("Regno", 10),
            str("Status", 30), date("TevrakDate"), date("GarageDate"), date("ReportDate"), boolean("Send")};
}

QList<FieldDef> expenseFields()
{
    return {str("Claimno", 8), smallint("Seq"),  str("Typ", 1),    date("SurvDate"),  str("From1", 30),
            str("To1", 30),    flt("Distance1"), str("From2", 30), str("To2", 30),    flt("Distance2"),
            str("From3", 30),  str("To3", 30),   flt("Distance3"), flt("Total_Dis"),  flt("Distance"),
            flt("Survey"),     flt("Copy"),      flt("Pay"),       flt("Home"),       flt("Ems"),
            flt("Fax"),        flt("Other"),     flt("Total"),     str("Userid", 20), boolean("Send"),
            date("Sysdate"),   flt("Rate")};
}


} // namespace

QString TableSchema::indexFileName() const
{
    if (!hasPrimaryIndex())
        return {};
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return fileName.left(dot) + QStringLiteral(".PX");
}

const FieldDef* TableSchema::field(const QString& fieldName) const
{
    for (const FieldDef& f : fields) {
        if (f.name.compare(fieldName, Qt::CaseInsensitive) == 0)
            return &f;
    }
    return nullptr;
}

QStringList TableSchema::createStatements() const
{
    QStringList columns;
    for (const FieldDef& f : fields) {
        QString column = quotedName(f.name) + QLatin1Char(' ') + declaredType(f);
        if (primaryKey.contains(f.name))
            column += QStringLiteral(" NOT NULL");
        columns << column;
    }
    if (hasPrimaryIndex()) {
        QStringList key;
        for (const QString& k : primaryKey)
            key << quotedName(k);
        columns << QStringLiteral("PRIMARY KEY (%1)").arg(key.join(QLatin1Char(',')));
    }
    QStringList statements{
        QStringLiteral("CREATE TABLE %1 (%2)").arg(quotedName(name), columns.join(QStringLiteral(", ")))};
    if (!hasPrimaryIndex() && !orderFields.isEmpty()) {
        QStringList order;
        for (const QString& k : orderFields)
            order << quotedName(k);
        statements << QStringLiteral("CREATE INDEX %1 ON %2 (%3)")
                          .arg(quotedName(name + QStringLiteral("_Order")), quotedName(name),
                               order.join(QLatin1Char(',')));
    }
    if (!searchFields.isEmpty())
        statements << searchIndexStatement({});
    return statements;
}

QString TableSchema::searchIndexName() const
{
    return searchFields.isEmpty() ? QString() : name + QLatin1Char('_') + searchFields.first();
}

QString TableSchema::searchIndexStatement(const QString& schema) const
{
    QStringList fields;
    for (const QString& field : searchFields)
        fields << quotedName(field);
    return QStringLiteral("CREATE INDEX %1%2 ON %3 (%4)")
        .arg(schema.isEmpty() ? QString() : schema + QLatin1Char('.'), quotedName(searchIndexName()),
             quotedName(name), fields.join(QLatin1Char(',')));
}

namespace tables {

const TableSchema& tevrak()
{
    static const TableSchema schema{
        QStringLiteral("Tevrak"), QStringLiteral("Tevrak.DB"), tevrakFields(), {}, claimKey,
        // The finished claims that the pending-car search leaves out.
        {QStringLiteral("Status"), QStringLiteral("Claimno")}};
    return schema;
}

const TableSchema& tevrak2()
{
    static const TableSchema schema{QStringLiteral("Tevrak2"), QStringLiteral("Tevrak2.DB"), tevrakFields(),
                                    claimKey, claimKey, {}};
    return schema;
}

const TableSchema& expense()
{
    static const TableSchema schema{QStringLiteral("Expense"), QStringLiteral("Expense.DB"), expenseFields(),
                                    claimKey, claimKey, {}};
    return schema;
}

const TableSchema& expense2()
{
    static const TableSchema schema{QStringLiteral("Expense2"), QStringLiteral("Expense2.DB"),
                                    expenseFields(), claimKey, claimKey, {}};
    return schema;
}

const TableSchema& status()
{
    static const TableSchema schema{
        QStringLiteral("Status"), QStringLiteral("Status.DB"), {str("Code", 1), str("Status", 50)}, {}, {}, {}};
    return schema;
}

const TableSchema& user()
{
    static const TableSchema schema{
        QStringLiteral("USER"), QStringLiteral("USER.db"), {str("USERID", 20)}, {}, {}, {}};
    return schema;
}

const QList<const TableSchema*>& all()
{
    static const QList<const TableSchema*> list{&tevrak(),   &tevrak2(), &expense(),
                                                &expense2(), &status(),  &user()};
    return list;
}

const TableSchema* find(const QString& tableName)
{
    for (const TableSchema* schema : all()) {
        if (schema->name.compare(tableName, Qt::CaseInsensitive) == 0)
            return schema;
    }
    return nullptr;
}

} // namespace tables

QString declaredType(const FieldDef& field)
{
    switch (field.type) {
    case FieldType::String:
        return QStringLiteral("VARCHAR(%1)").arg(field.size);
    case FieldType::SmallInt:
        return QStringLiteral("SMALLINT");
    case FieldType::Date:
        return QStringLiteral("DATE");
    case FieldType::Boolean:
        return QStringLiteral("BOOLEAN");
    case FieldType::Float:
        return QStringLiteral("FLOAT");
    case FieldType::Unknown:
        break;
    }
    return {};
}

FieldDef fieldFromDeclaredType(const QString& name, const char* declared)
{
    FieldDef field{name, FieldType::Unknown, 0};
    if (!declared)
        return field;
    const QString type = QString::fromLatin1(declared).trimmed().toUpper();
    static const QRegularExpression sized(QStringLiteral("^(?:VAR)?CHAR\\s*\\(\\s*(\\d+)\\s*\\)$"));
    if (const auto match = sized.match(type); match.hasMatch()) {
        field.type = FieldType::String;
        field.size = match.captured(1).toInt();
    } else if (type == QLatin1String("TEXT") || type.startsWith(QLatin1String("VARCHAR"))) {
        field.type = FieldType::String;
    } else if (type == QLatin1String("SMALLINT") || type == QLatin1String("INTEGER") ||
               type == QLatin1String("INT")) {
        field.type = FieldType::SmallInt;
    } else if (type == QLatin1String("DATE")) {
        field.type = FieldType::Date;
    } else if (type == QLatin1String("BOOLEAN")) {
        field.type = FieldType::Boolean;
    } else if (type == QLatin1String("FLOAT") || type == QLatin1String("REAL") ||
               type == QLatin1String("DOUBLE")) {
        field.type = FieldType::Float;
    }
    return field;
}

QString quotedName(const QString& identifier)
{
    return QLatin1Char('"') + identifier + QLatin1Char('"');
}

} // namespace tevrak::records
