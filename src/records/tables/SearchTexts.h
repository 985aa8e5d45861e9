#pragma once

#include <QString>
#include <QStringList>

// The query texts the pending-car search and the enquiry dialog put into their
// shared queries, one statement line per entry.
namespace tevrak::records::search {

// The first line of every pending-car search.
QString registerSelect();

// Mode C0, cars not yet repaired: every row of the register when no claim is
// finished, otherwise every row of the claims not in `finishedClaims`
// ("where claimno not in ('12345678','23456789')"). Each claim number is
// quoted with its own quotes doubled, so a quote inside a claim number neither
// breaks the statement nor changes its meaning.
QStringList pendingCars(const QStringList& finishedClaims);

// Mode C1, by the date the report was saved: `prm` is bound as a date.
QStringList byReportDate();

// Mode C2, by claim number: `prm` is bound as text.
QStringList byClaimNumber();

// The enquiry dialog: every expense summary of one claim, `prm` as text.
QStringList expensesOfClaim();

// A text as an SQL string literal: between single quotes, inner quotes doubled.
QString quotedText(const QString& text);

} // namespace tevrak::records::search
