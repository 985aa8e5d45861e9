#pragma once

#include <string>

namespace tevrak {

// Moves a file into the freedesktop.org desktop trash (the Trash folder standard):
// the file goes to $XDG_DATA_HOME/Trash/files (XDG_DATA_HOME defaults to
// ~/.local/share) and a matching .trashinfo with its original path and the
// deletion time goes to Trash/info, so the desktop's trash can restore it.
// The folders are created when missing; a name already in the trash gets a
// number. A file on another file system is copied into the trash, flushed,
// and only then removed. Returns false with the reason when the file could
// not be moved; it is then left where it was.
bool moveToTrash(const std::string& path, std::string& reason);

// The trash folder moveToTrash uses now.
std::string trashFolder();

} // namespace tevrak
