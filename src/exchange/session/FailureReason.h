#pragma once

#include <QString>
#include <exception>

namespace tevrak::exchange {

// What the exchange was doing: the action in Thai ("ส่งไฟล์"), and what it
// was done to in its own words (a file name, a folder, the server's address).
struct ExchangeStep {
    QString action;
    QString subject;
};

// A failure in words a clerk can act on: one Thai line with what the exchange
// was doing and what went wrong, and under it, indented, the technical detail
// as it came (the subject, the server's reply, the system's or the client's
// own error text).
QString failureReason(const ExchangeStep& step, const std::exception& error, int readTimeoutMs);

} // namespace tevrak::exchange
