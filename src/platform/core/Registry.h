#pragma once

#include <QString>

// The workstation's registry values. On this platform the registry is an INI
// file kept through QSettings at $XDG_CONFIG_HOME/Tevrak/registry.ini; a key
// path such as "\SOFTWARE\Sarvello" (under the current user) is a group.
namespace tevrak::platform::registry {

inline const QString sarvelloKey = QStringLiteral("\\SOFTWARE\\Sarvello");
inline const QString garageNameValue = QStringLiteral("Garage Name");

// [Filing] MaxPhotoAgeDays: how many days before today a photo of a claim that is not in the register
// may have been taken before filing asks about it; 60 when absent or not a positive number.
inline const QString filingKey = QStringLiteral("Filing");
inline const QString maxPhotoAgeDaysValue = QStringLiteral("MaxPhotoAgeDays");
inline constexpr int defaultMaxPhotoAgeDays = 60;
int maxPhotoAgeDays();

QString registryFile();
// The registry file an administrator writes for every account of the
// workstation: Tevrak/registry.ini in the first folder of $XDG_CONFIG_DIRS
// (default /etc/xdg) that has one; the empty text when none has.
QString systemRegistryFile();

// Creates the key when it does not exist (an empty group holds a marker).
void createKey(const QString& key);
// The string value; a missing key or value reads as the empty text.
QString readString(const QString& key, const QString& name);
// Writes the value; raises an error when the registry file cannot be written.
void writeString(const QString& key, const QString& name, const QString& value);

}  // namespace tevrak::platform::registry
