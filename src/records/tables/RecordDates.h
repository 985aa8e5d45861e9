#pragma once

#include <QDate>

// The checks every date typed into the claim records passes before a row is
// stored: a Christian-era year and no date in the future.
namespace tevrak::records {

// The date a blank or unreadable date stands for: 30 December 1899.
QDate zeroDate();

// The date as the checks see it: a null date (empty or unreadable box) is the
// zero date.
QDate effectiveDate(const QDate& date);

// Christian-era year check: the third and fourth digits of the four-digit
// year, read as a number, are at most 40 (so 2000-2040 pass, and 1900-1940;
// Buddhist-era years such as 2548 and the zero date's 1899 fail).
bool hasChristianEraYear(const QDate& date);

// The date is not later than `today`; today itself passes.
bool isNotInFuture(const QDate& date, const QDate& today);

} // namespace tevrak::records
