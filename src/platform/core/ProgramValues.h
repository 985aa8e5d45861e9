#pragma once

#include <QString>

namespace tevrak {

// The values the main window's operations share for the whole run: the photo
// pages, filing and the server exchange read and write them.
struct ProgramValues {
    QString GarageName;       // the registered garage name, as of the latest initialisation
    QString CurrentFileName;  // name (without folder) of the file being handled
    int PageOffset = 0;       // inbox-list index of the current page's first entry, minus photos filed since
    QString SequenceText;     // three-digit sequence of the photo being filed
    QString ExtensionText;    // last four characters of CurrentFileName
};

}  // namespace tevrak
