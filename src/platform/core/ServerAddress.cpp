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

// The address a place sets: its host and port (empty where unset), and its name.
struct Place {
    QString host;
    QString port;
    QString name;
    QString portKey;
};

QList<Place> placesInOrder()
{
    QList<Place> places{{qEnvironmentVariable("TEVRAK_FTP_HOST").trimmed(),
                         qEnvironmentVariable("TEVRAK_FTP_PORT").trimmed(), QStringLiteral("the environment"),
                         QStringLiteral("TEVRAK_FTP_PORT")}};
    for (const QString& file : {registry::registryFile(), registry::systemRegistryFile()}) {
        if (file.isEmpty())
            continue;
        const QSettings settings(file, QSettings::IniFormat);
        places.append({settings.value(serverGroup + QLatin1Char('/') + serverHostValue).toString().trimmed(),
                       settings.value(serverGroup + QLatin1Char('/') + serverPortValue).toString().trimmed(), file,
                       serverGroup + QLatin1Char('/') + serverPortValue});
    }
    return places;
}

} // namespace

ServerAddress serverAddress()
{
    for (const Place& place : placesInOrder()) {
        if (place.host.isEmpty() && place.port.isEmpty())
            continue;
        ServerAddress address{place.host.isEmpty() ? builtInFtpHost : place.host, builtInFtpPort, place.name, {}};
        if (!place.port.isEmpty()) {
            if (const std::optional<int> port = validPort(place.port))
                address.port = *port;
            else
                address.problem = QStringLiteral("ค่า %1 ใน %2 ไม่ใช่หมายเลขพอร์ต (1 ถึง 65535): \"%3\"")
                                      .arg(place.portKey, place.name, place.port);
        }
        return address;
    }
    return {builtInFtpHost, builtInFtpPort, QStringLiteral("the built-in address"), {}};
}

QString ftpHost()
{
    return serverAddress().host;
}

int ftpPort()
{
    return serverAddress().port;
}

}  // namespace tevrak::platform
