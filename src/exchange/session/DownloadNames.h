#pragma once

#include <QString>
#include <optional>
#include <string>

namespace tevrak::exchange {

// The local name under which a name listed by the server is filed in the day
// folder and in c:\LOAD\ALL: its last path component ("/" or "\" separate
// components), read as UTF-8 when it is valid UTF-8 and as the Thai code page
// otherwise. Nothing when that component is empty, "." or "..", or holds a
// control character: such a name is neither retrieved nor deleted, so no
// download can land outside those two folders.
std::optional<QString> localDownloadName(const std::string& listedName);

// The bytes a local name goes to the server as: the Thai code page when every
// character has a byte there (the server's folders and files use it), UTF-8
// otherwise.
std::string serverName(const QString& localName);

} // namespace tevrak::exchange
