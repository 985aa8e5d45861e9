#pragma once

#include <QString>
#include <exception>

namespace tevrak::exchange {

// A failure in words a clerk can act on: what the exchange was doing (`step`,
// such as "Sending 12345678001.jpg") and what went wrong, from the server's
// reply, the connection or the local file system.
QString failureReason(const QString& step, const std::exception& error, int readTimeoutMs);

} // namespace tevrak::exchange
