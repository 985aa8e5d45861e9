#pragma once

#include <QString>
#include <stdexcept>

namespace tevrak {

// A failure carrying the message the user sees in the standard error box.
// what() holds the message in UTF-8.
class Error : public std::runtime_error {
public:
    explicit Error(const QString& message) : std::runtime_error(message.toStdString()) {}
    explicit Error(const std::string& message) : std::runtime_error(message) {}

    QString message() const { return QString::fromUtf8(what()); }
};

}  // namespace tevrak
