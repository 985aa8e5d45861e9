#pragma once

#include "records/forms/RecordForms.h"
#include "transfer/forms/TransferForms.h"

// The long-lived forms created at start-up after the main window (in this
// order: TCopyf, TZipf, TRegisterF2, TEnquiry, TFormUser). They live for the
// whole run; the start-up fills this directory in as it creates them, and
// each part of the program is handed the share it uses: the expense tab its
// RecordForms, the transfer job its TransferForms, which it hands on to the
// server exchange as ExchangeForms.
namespace tevrak {

struct SharedForms : records::RecordForms, transfer::TransferForms {};

} // namespace tevrak
