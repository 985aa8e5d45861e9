#include "platform/core/ServerAddress.h"

#include "platform/core/Registry.h"

#include <QSettings>
#include <QStringList>
#include <optional>

namespace tevrak::platform {

namespace {

std::optional<int> validPort(const QString& text)
{
    bool ok = false;
    const int port = text.trimmed().toInt(&ok);
    if (ok && port > 0 && port < 65536)
        return port;
    return std::nullopt;
}

// The value as each place sets it, in the order they count; empty where unset.
QStringList settingsInOrder(const char* environmentVariable, const QString& name)
{
    QStringList values{qEnvironmentVariable(environmentVariable)};
    for (const QString& file : {registry::registryFile(), registry::systemRegistryFile()}) {
        if (file.isEmpty())
            continue;
        const QSettings settings(file, QSettings::IniFormat);
        values << settings.value(serverGroup + QLatin1Char('/') + name).toString().trimmed();
    }
    return values;
}

} // namespace

QString ftpHost()
{
    for (const QString& host : settingsInOrder("TEVRAK_FTP_HOST", serverHostValue))
        if (!host.isEmpty())
            return host;
    return builtInFtpHost;
}

int ftpPort()
{
    for (const QString& text : settingsInOrder("TEVRAK_FTP_PORT", serverPortValue))
        if (const std::optional<int> port = validPort(text))
            return *port;
    return builtInFtpPort;
}

}  // namespace tevrak::platform
