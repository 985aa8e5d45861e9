#include "platform/core/ServerAddress.h"

#include "platform/core/Registry.h"

#include <QFile>
#include <QSettings>
#include <QStringList>
#include <optional>
#include <sys/stat.h>

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
                         qEnvironmentVariable("TEVRAK_FTP_PORT").trimmed(), QStringLiteral("ตัวแปรสภาพแวดล้อม"),
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
                address.problem = QStringLiteral("พอร์ตของเซิร์ฟเวอร์ต้องเป็นตัวเลข 1 ถึง 65535\n%1 ใน %2: \"%3\"")
                                      .arg(place.portKey, place.name, place.port);
        }
        return address;
    }
    return {builtInFtpHost, builtInFtpPort, QStringLiteral("ที่อยู่ที่ตั้งไว้ในโปรแกรม"), {}};
}

namespace {

std::optional<Encryption> encryptionNamed(const QString& text)
{
    if (text.compare(QLatin1String("Required"), Qt::CaseInsensitive) == 0)
        return Encryption::Required;
    if (text.compare(QLatin1String("IfOffered"), Qt::CaseInsensitive) == 0)
        return Encryption::IfOffered;
    if (text.compare(QLatin1String("Off"), Qt::CaseInsensitive) == 0)
        return Encryption::Off;
    return std::nullopt;
}

// Whether anyone but the file's owner may read it.
bool othersCanRead(const QString& file)
{
    struct stat status {};
    return ::stat(QFile::encodeName(file).constData(), &status) == 0 && (status.st_mode & (S_IRGRP | S_IROTH));
}

} // namespace

ServerSecurity serverSecurity()
{
    ServerSecurity security;
    bool encryptionSet = false;
    const QString fromEnvironment = qEnvironmentVariable("TEVRAK_FTP_ENCRYPTION").trimmed();
    if (!fromEnvironment.isEmpty()) {
        encryptionSet = true;
        if (const auto mode = encryptionNamed(fromEnvironment))
            security.encryption = *mode;
        else
            security.problem = QStringLiteral("ค่าการเข้ารหัสต้องเป็น Required, IfOffered หรือ Off\nTEVRAK_FTP_ENCRYPTION: \"%1\"")
                                   .arg(fromEnvironment);
    }
    bool certificateSet = false, loginSet = false;
    for (const QString& file : {registry::registryFile(), registry::systemRegistryFile()}) {
        if (file.isEmpty())
            continue;
        const QSettings settings(file, QSettings::IniFormat);
        const auto value = [&](const char* key) {
            return settings.value(serverGroup + QLatin1Char('/') + QLatin1String(key)).toString().trimmed();
        };
        if (!encryptionSet && !value("Encryption").isEmpty()) {
            encryptionSet = true;
            if (const auto mode = encryptionNamed(value("Encryption")))
                security.encryption = *mode;
            else if (security.problem.isEmpty())
                security.problem = QStringLiteral("ค่าการเข้ารหัสต้องเป็น Required, IfOffered หรือ Off\nServer/Encryption ใน %1: \"%2\"")
                                       .arg(file, value("Encryption"));
        }
        if (!certificateSet && !value("CertificateFile").isEmpty()) {
            certificateSet = true;
            security.certificateFile = value("CertificateFile");
        }
        if (!loginSet && (!value("User").isEmpty() || !value("Password").isEmpty())) {
            loginSet = true;
            security.user = value("User").isEmpty() ? builtInFtpUser : value("User");
            security.password = settings.value(serverGroup + QStringLiteral("/Password")).toString();
            if (!value("Password").isEmpty() && file == registry::registryFile() && othersCanRead(file) &&
                security.problem.isEmpty())
                security.problem = QStringLiteral("ไฟล์ %1 มีรหัสผ่านแต่ผู้อื่นอ่านได้: ไม่ใช้รหัสผ่านนี้ "
                                                  "(ให้เจ้าของอ่านได้ผู้เดียว: chmod 600 %1)")
                                       .arg(file);
        }
    }
    return security;
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
