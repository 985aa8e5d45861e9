#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The Thai single-byte code page (Windows-874) that the branch file, the FTP
// folder names and the table field lengths are counted in.
namespace tevrak::platform::cp874 {

// The text's bytes in CP874, or nothing when a character has no CP874 byte.
std::optional<QByteArray> encode(const QString& text);

// Decodes CP874 bytes; bytes without a character become U+FFFD.
QString decode(const QByteArray& bytes);

bool canEncode(const QString& text);

}  // namespace tevrak::platform::cp874
