#include "records/tables/ClaimDatabase.h"

#include "platform/core/Error.h"
#include "records/tables/RecordDates.h"

namespace tevrak::records {

namespace {
QStringList lines(std::initializer_list<const char*> texts)
{
    QStringList result;
    for (const char* text : texts)
        result << QString::fromUtf8(text);
    return result;
}
} // namespace

ClaimDatabase::ClaimDatabase(const QString& folder, QObject* parent)
    : QObject(parent), m_connection(folder),
      TevrakT(m_connection, QStringLiteral("TevrakT"), tables::tevrak()),
      TevrakQ(m_connection, QStringLiteral("TevrakQ"),
              lines({"select max(Seq) from tevrak", "where claimno=:prm"})),
      TevrakQ2(m_connection, QStringLiteral("TevrakQ2"), lines({"select * from tevrak"})),
      TevrakQ3(m_connection, QStringLiteral("TevrakQ3"),
               lines({"update tevrak", "set send='1'", "where send='0'"})),
      TevrakQ4(m_connection, QStringLiteral("TevrakQ4"),
               lines({"select distinct claimno from tevrak", "where status='ซ่อมเสร็จ'"})),
      Tevrak2T(m_connection, QStringLiteral("Tevrak2T"), tables::tevrak2()),
      StatusT(m_connection, QStringLiteral("StatusT"), tables::status()),
      ExpenseT(m_connection, QStringLiteral("ExpenseT"), tables::expense()),
      Expense2T(m_connection, QStringLiteral("Expense2T"), tables::expense2()),
      ExpenseQ(m_connection, QStringLiteral("ExpenseQ"),
               lines({"select max(Seq) from Expense", "where claimno=:prm"})),
      ExpenseQ2(m_connection, QStringLiteral("ExpenseQ2"),
                lines({"select * from expense", "where claimno=:prm"})),
      ExpenseQ3(m_connection, QStringLiteral("ExpenseQ3"),
                lines({"update expense", "set send='1'", "where send='0'"})),
      UserT(m_connection, QStringLiteral("UserT"), tables::user()), TevrakTDs(TevrakT, false),
      TevrakQ2Ds(TevrakQ2, true), StatusTDs(StatusT, true), ExpenseTDs(ExpenseT, false),
      ExpenseQ2Ds(ExpenseQ2, true), UserTDs(UserT, true)
{
}

ClaimDatabase::~ClaimDatabase() = default;

QDate ClaimDatabase::earliestGarageDate(const QString& claimNumber)
{
    Query rows(m_connection, QStringLiteral("GarageDateQ"),
               lines({"select GarageDate from tevrak", "where claimno=:prm"}));
    rows.setParam(claimNumber);
    rows.open();
    QDate earliest;
    for (rows.first(); !rows.eof(); rows.next()) {
        const QDate date = rows.asDate(QStringLiteral("GarageDate"));
        if (date.isValid() && hasChristianEraYear(date) && (!earliest.isValid() || date < earliest))
            earliest = date;
    }
    return earliest;
}

void ClaimDatabase::openForStartUp()
{
    TevrakT.open();
    Tevrak2T.close();
    StatusT.open();
    ExpenseT.open();
    Expense2T.open();
    for (Query* query : {&TevrakQ, &TevrakQ2, &TevrakQ3, &TevrakQ4, &ExpenseQ, &ExpenseQ2, &ExpenseQ3})
        query->close();
}

int ClaimDatabase::markSent(const QString& table, const QList<RowKey>& keys)
{
    const TableSchema* schema = tables::find(table);
    if (!schema || !schema->field(QStringLiteral("Send")) || !schema->field(QStringLiteral("Claimno")))
        throw Error(QStringLiteral("ตารางนี้ไม่มีช่องบอกว่าส่งแล้ว\n%1").arg(table));
    m_connection.attach(*schema);
    const QStringList files{m_connection.filePath(*schema)};
    int changed = 0;
    DatabaseConnection::Transaction transaction(m_connection, files);
    DatabaseConnection::Statement update(
        m_connection,
        QStringLiteral("UPDATE %1 SET \"Send\"=1 WHERE \"Claimno\"=?1 AND \"Seq\"=?2")
            .arg(DatabaseConnection::qualifiedName(*schema)),
        files);
    for (const RowKey& key : keys) {
        update.bind(1, key.claimno);
        update.bind(2, key.seq);
        changed += update.run();
    }
    transaction.commit();
    return changed;
}

} // namespace tevrak::records
