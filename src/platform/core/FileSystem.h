#pragma once

#include <QString>
#include <QStringList>

// The file operations of the workstation, addressed by Windows paths on drive C:
// (see DriveC.h). Like the Windows calls they stand for, they report success as
// a bool; callers that must not lose data check it.
namespace tevrak::platform {

[[nodiscard]] bool folderExists(const QString& windowsPath);
// Creates the folder and any missing parents.
[[nodiscard]] bool createFolder(const QString& windowsPath);
// Creates the folder (and any missing parents) unless it exists; raises Error
// naming the folder when it cannot.
void ensureFolder(const QString& windowsPath);
[[nodiscard]] bool fileExists(const QString& windowsPath);
// Copies `from` to `to`, replacing a file of that name.
[[nodiscard]] bool copyFile(const QString& from, const QString& to);
[[nodiscard]] bool deleteFile(const QString& windowsPath);
[[nodiscard]] bool moveFile(const QString& from, const QString& to);

// The bare names of the regular files matching a mask such as
// "c:\picture\*.jpg;c:\picture\*.gif": every pattern of the list is matched
// without regard to case, hidden files (names starting with ".") and folders
// are left out, and the names come sorted without regard to case.
QStringList listFiles(const QString& windowsMask);

// The path of the entry of a local folder named `name` without regard to
// letter case (the exact spelling wins when several differ only in case);
// empty when the folder holds none.
QString existingEntry(const QString& localFolder, const QString& name);

// Sorts names the way every file list of the program does: ascending, without
// regard to letter case.
void sortNames(QStringList& names);

}  // namespace tevrak::platform
