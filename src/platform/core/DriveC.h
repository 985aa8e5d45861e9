#pragma once

#include <QString>
#include <string>

namespace tevrak::platform {

// Drive C: is a folder: $TEVRAK_ROOT when set, otherwise ~/Tevrak.
QString driveCRoot();

// Turns a Windows path such as "c:\picture\transfer" into the local path under
// drive C:. Each component is matched without regard to letter case against what
// exists ("C:\Picture" and "c:\picture" are one folder); components that do not
// exist yet keep the spelling given. A path without a drive letter is taken as
// it is (only its backslashes become slashes).
QString localPath(const QString& windowsPath);

// A local path as the bytes the system calls (and the FTP and ZIP libraries,
// which know no Qt) take: the file system's encoding of it.
std::string nativePath(const QString& localPath);

// The workstation's fixed folders and files, named once for the whole program.
namespace paths {
inline const QString inbox = QStringLiteral("c:\\picture");
inline const QString outbox = QStringLiteral("c:\\picture\\transfer");
inline const QString database = QStringLiteral("C:\\claim\\db");
inline const QString load = QStringLiteral("c:\\LOAD");
inline const QString loadAll = QStringLiteral("c:\\LOAD\\ALL");
inline const QString branchFile = QStringLiteral("C:\\LOAD\\REGISTER.TXT");
inline const QString transferLog = QStringLiteral("c:\\LOAD\\transfer.log");

// What the exchange sends from the outbox: photographs, claim archives and the export tables.
inline const QString outboxUploadMask = outbox + QStringLiteral("\\*.Jpg;") + outbox + QStringLiteral("\\*.Zip;") +
                                        outbox + QStringLiteral("\\*.db;") + outbox + QStringLiteral("\\*.px");
// The scanned documents that wait in the outbox to be packed into their claims' archives.
inline const QString outboxDocumentMask = outbox + QStringLiteral("\\*.gif");

// The claim's archive folder, "c:\picture\" followed by the claim number.
inline QString claimFolder(const QString& claimNumber) { return inbox + QLatin1Char('\\') + claimNumber; }
}  // namespace paths

}  // namespace tevrak::platform
