#pragma once

#include <string>

namespace tevrak::test {

// Gives the test process a private drive C: (TEVRAK_ROOT), registry and trash
// (XDG_CONFIG_HOME, XDG_DATA_HOME) under a fresh temporary folder, so no test
// touches the user's home. Called by both test mains before any test runs.
void useTemporaryWorkstation();

// The temporary folder the process was given (parent of the drive C: folder).
std::string temporaryBase();

// The folder that stands for drive C: in this test process.
std::string driveCFolder();

}  // namespace tevrak::test
