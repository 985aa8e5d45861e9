#include "records/tables/SearchTexts.h"

namespace tevrak::records::search {

QString registerSelect()
{
    return QStringLiteral("select * from tevrak");
}

QString quotedText(const QString& text)
{
    QString doubled = text;
    doubled.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + doubled + QLatin1Char('\'');
}

QStringList pendingCars(const QStringList& finishedClaims)
{
    if (finishedClaims.isEmpty())
        return {registerSelect()};
    QStringList items;
    items.reserve(finishedClaims.size());
    for (const QString& claim : finishedClaims)
        items.append(quotedText(claim));
    return {registerSelect(), QStringLiteral("where claimno not in ") + QLatin1Char('(') +
                                  items.join(QLatin1Char(',')) + QLatin1Char(')')};
}

QStringList byReportDate()
{
    return {registerSelect(), QStringLiteral("where reportdate=:prm")};
}

QStringList byClaimNumber()
{
    return {registerSelect(), QStringLiteral("where Claimno=:prm")};
}

QStringList expensesOfClaim()
{
    return {QStringLiteral("select * from expense"), QStringLiteral("where claimno=:prm")};
}

} // namespace tevrak::records::search
