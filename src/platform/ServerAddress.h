#pragma once

#include <QString>

// Where the insurer's FTP server is. The address is built in; TEVRAK_FTP_HOST
// and TEVRAK_FTP_PORT override it (tests, the local stand-in, and sites whose
// server has moved).
namespace tevrak::platform {

inline const QString builtInFtpHost = QStringLiteral("203.0.113.10");
constexpr int builtInFtpPort = 21;

QString ftpHost();
int ftpPort();

}  // namespace tevrak::platform
