#pragma once

#include <QString>

// Where the insurer's FTP server is. Host and port are taken together from
// the first place that sets either (what that place leaves out is the
// built-in value), so that a host never meets another place's port:
//   1. the environment, TEVRAK_FTP_HOST and TEVRAK_FTP_PORT (tests, the local
//      stand-in);
//   2. the user's registry file, group [Server], values Host and Port;
//   3. the workstation's registry file, Tevrak/registry.ini in the first of
//      $XDG_CONFIG_DIRS (default /etc/xdg) that has one, written by an
//      administrator for every account;
//   4. the built-in address.
// A port that is not a number from 1 to 65535 is a problem of that place,
// reported naming the place and the key.
namespace tevrak::platform {

inline const QString builtInFtpHost = QStringLiteral("203.0.113.10");
constexpr int builtInFtpPort = 21;

inline const QString serverGroup = QStringLiteral("Server");
inline const QString serverHostValue = QStringLiteral("Host");
inline const QString serverPortValue = QStringLiteral("Port");

struct ServerAddress {
    QString host;
    int port = builtInFtpPort;
    QString source;  // the place it came from: "the environment", a registry file, or "the built-in address"
    QString problem; // why the place's value cannot be used (in Thai), empty when it can
};

ServerAddress serverAddress();
QString ftpHost();
int ftpPort();

}  // namespace tevrak::platform
