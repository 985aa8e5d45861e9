#pragma once

// The forms the server exchange shows, created at start-up: the progress
// window and the branch registration form (a startup form, reached only as a
// dialog here).
class QDialog;

namespace tevrak {

class TCopyf;

namespace exchange {

struct ExchangeForms {
    TCopyf* Copyf = nullptr;
    QDialog* RegisterF2 = nullptr;
};

} // namespace exchange
} // namespace tevrak
