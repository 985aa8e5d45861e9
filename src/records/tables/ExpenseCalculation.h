#pragma once

#include <QString>
#include <optional>

// The money arithmetic of a survey expense summary.
namespace tevrak::records {

// The amounts CalRate reads; a blank field is 0.
struct ExpenseAmounts {
    double distance1 = 0; // km
    double distance2 = 0;
    double distance3 = 0;
    double rate = 0; // baht per km
    double survey = 0;
    double copy = 0;
    double pay = 0;
    double home = 0;
    double ems = 0;
    double fax = 0;
    double other = 0;
};

// What CalRate stores: `Total_Dis`, `Distance` and `Total`.
struct ExpenseTotals {
    double totalDistance = 0; // km
    double travelCost = 0;    // baht: rate times total distance
    double total = 0;         // baht
};

// Total distance, travel cost at the rate, and the grand total, each from the
// value just computed, summed in the fields' order; nothing is rounded.
ExpenseTotals CalRate(const ExpenseAmounts& amounts);

// Reads an amount box's text as a number. An empty (or blank) text is a blank
// field (nothing); a text that is not a number raises the number-conversion
// error "'<text>' is not a valid floating point value".
std::optional<double> readAmount(const QString& text);

// True for a character that can be part of a number (digits, sign, decimal
// point, exponent): the only characters an amount box takes.
bool isNumberCharacter(QChar c);

// An amount as a box shows it: shortest form, no thousands separators, no
// trailing zeros ("15.5", "486", "1e+20").
QString formatAmount(double value);

} // namespace tevrak::records
