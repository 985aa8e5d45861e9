#pragma once

#include <QString>

// Getting finished files and folder entries onto the disk: the one place the
// program flushes, so that a file that has taken its final name is whole
// after a power cut or a kill.
namespace tevrak::platform {

// Forces a file's bytes to disk; raises Error naming the file when it cannot.
void syncFile(const QString& localPath);
// Flushes a folder's entries (after a rename or a removal) to disk. A folder
// that cannot be opened or flushed is left as it is: its entries reach the
// disk with the system's next writeback.
void syncFolder(const QString& localFolder);

} // namespace tevrak::platform
