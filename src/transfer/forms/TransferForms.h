#pragma once

#include "exchange/forms/ExchangeForms.h"

// The forms the transfer job uses: the packaging window, and those of the
// server exchange it runs.
namespace tevrak {

class TZipf;

namespace transfer {

struct TransferForms : exchange::ExchangeForms {
    TZipf* Zipf = nullptr;
};

} // namespace transfer
} // namespace tevrak
