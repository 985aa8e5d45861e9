#include "records/tables/RecordDates.h"

#include <QString>

namespace tevrak::records {

QDate zeroDate()
{
    return QDate(1899, 12, 30);
}

QDate effectiveDate(const QDate& date)
{
    return date.isValid() ? date : zeroDate();
}

bool hasChristianEraYear(const QDate& date)
{
    // The year written with four digits, as the date format "yyyy" gives it.
    const QString year = QString::number(effectiveDate(date).year()).rightJustified(4, QLatin1Char('0'));
    return year.mid(2, 2).toInt() <= 40;
}

bool isNotInFuture(const QDate& date, const QDate& today)
{
    return effectiveDate(date) <= today;
}

} // namespace tevrak::records
