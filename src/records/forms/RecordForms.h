#pragma once

// The record dialogs created at start-up after the main window; the expense
// tab takes them from here when it needs them, as they exist by then.
namespace tevrak {

class TEnquiry;
class TFormUser;

namespace records {

struct RecordForms {
    TEnquiry* Enquiry = nullptr;
    TFormUser* FormUser = nullptr;
};

} // namespace records
} // namespace tevrak
