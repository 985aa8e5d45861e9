#pragma once

#include <string>

namespace tevrak::test {

// Gives the test process a private drive C: (TEVRAK_ROOT), registry and trash
// (XDG_CONFIG_HOME, XDG_DATA_HOME) under a fresh temporary folder, so no test
// touches the user's home. It also pins the FTP server (TEVRAK_FTP_HOST and
// TEVRAK_FTP_PORT) to a loopback port where nothing listens, before every
// test that has not named its own server, so no test can reach the insurer's
// built-in address. Called by both test mains before any test runs.
void useTemporaryWorkstation();

// The address and port the FTP server is pinned to while a test names none.
inline constexpr const char* loopbackNowhere = "127.0.0.1";
int closedFtpPort();

// The temporary folder the process was given (parent of the drive C: folder).
std::string temporaryBase();

// The folder that stands for drive C: in this test process.
std::string driveCFolder();

}  // namespace tevrak::test
