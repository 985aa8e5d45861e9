#pragma once

#include <QString>

// Where the insurer's FTP server is. Host and port are each taken from the
// first place that sets them:
//   1. the environment, TEVRAK_FTP_HOST and TEVRAK_FTP_PORT (tests, the local
//      stand-in);
//   2. the user's registry file, group [Server], values Host and Port;
//   3. the workstation's registry file, Tevrak/registry.ini in the first of
//      $XDG_CONFIG_DIRS (default /etc/xdg) that has one, written by an
//      administrator for every account;
//   4. the built-in address.
// A port that is not a number from 1 to 65535 counts as not set.
namespace tevrak::platform {

inline const QString builtInFtpHost = QStringLiteral("203.0.113.10");
constexpr int builtInFtpPort = 21;

inline const QString serverGroup = QStringLiteral("Server");
inline const QString serverHostValue = QStringLiteral("Host");
inline const QString serverPortValue = QStringLiteral("Port");

QString ftpHost();
int ftpPort();

}  // namespace tevrak::platform
