#include "records/tables/ExpenseCalculation.h"

#include "platform/core/Error.h"

#include <cmath>

namespace tevrak::records {

ExpenseTotals CalRate(const ExpenseAmounts& a)
{
    ExpenseTotals t;
    t.totalDistance = a.distance1 + a.distance2 + a.distance3;
    t.travelCost = a.rate * t.totalDistance;
    t.total = t.travelCost + a.survey + a.copy + a.pay + a.home + a.ems + a.fax + a.other;
    return t;
}

bool isNumberCharacter(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= '0' && u <= '9') || u == '+' || u == '-' || u == '.' || u == 'e' || u == 'E';
}

std::optional<double> readAmount(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    bool ok = false;
    double value = 0;
    // Only the characters a number is written with; QString::toDouble would
    // also take "inf" and "nan".
    bool plain = true;
    for (const QChar c : trimmed)
        plain = plain && isNumberCharacter(c);
    if (plain)
        value = trimmed.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        throw Error(QStringLiteral("ค่าที่ป้อนไม่ใช่ตัวเลข\n'%1'").arg(text));
    return value;
}

QString formatAmount(double value)
{
    return QString::number(value, 'g', 15);
}

} // namespace tevrak::records
