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

// How the line to the server is protected, and the login:
//   Encryption  Required (FTP over TLS or nothing: no user name is sent in
//               clear), IfOffered (the default: TLS when the server accepts
//               it, and then never plain text again), Off (plain FTP);
//   CertificateFile  a PEM file of the insurer's own CA or server certificate,
//               trusted beside the system's;
//   User, Password   the login (default the built-in one), taken together.
// Each from the first place that sets it: TEVRAK_FTP_ENCRYPTION (for the
// stand-in server and tests), then [Server] in the user's registry file, then
// in the workstation's. A password in a user's file that others can read is
// refused (`problem`), as is an unknown Encryption value.
enum class Encryption { Off, IfOffered, Required };

inline const QString builtInFtpUser = QStringLiteral("online");
inline const QString builtInFtpPassword = QStringLiteral("tuvorplex");

struct ServerSecurity {
    Encryption encryption = Encryption::IfOffered;
    QString certificateFile;
    QString user = builtInFtpUser;
    QString password = builtInFtpPassword;
    QString problem; // why the settings cannot be used (in Thai), empty when they can
};

ServerSecurity serverSecurity();
QString ftpHost();
int ftpPort();

}  // namespace tevrak::platform
