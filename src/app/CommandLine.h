#pragma once

#include <QStringList>
#include <cstdio>
#include <optional>

namespace tevrak {

// The program's arguments, handled before any window exists: "--version" and
// "--help" print to `out` and end the run; any other argument is refused with
// the usage line on `err`. Returns the exit code when the run ends here, and
// nothing when the program starts as usual (no arguments).
std::optional<int> handleCommandLine(const QStringList& arguments, std::FILE* out, std::FILE* err);

} // namespace tevrak
