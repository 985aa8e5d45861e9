#pragma once

// The long-lived forms created at start-up after the main window (in this
// order: TCopyf, TZipf, TRegisterF2, TEnquiry, TFormUser). They live for the
// whole run; the main window's operations reach them through this directory,
// which the start-up fills in as it creates them.
namespace tevrak {

class TCopyf;
class TZipf;
class TRegisterF2;
class TEnquiry;
class TFormUser;

struct SharedForms {
    TCopyf* Copyf = nullptr;
    TZipf* Zipf = nullptr;
    TRegisterF2* RegisterF2 = nullptr;
    TEnquiry* Enquiry = nullptr;
    TFormUser* FormUser = nullptr;
};

}  // namespace tevrak
