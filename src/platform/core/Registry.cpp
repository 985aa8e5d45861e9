#include "platform/core/Registry.h"

#include "platform/core/Error.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace tevrak::platform::registry {

namespace {

QString groupOf(const QString& key)
{
    QString group = key;
    group.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (group.startsWith(QLatin1Char('/')))
        group.remove(0, 1);
    return group;
}

void sync(QSettings& settings)
{
    settings.sync();
    if (settings.status() != QSettings::NoError)
        throw Error(QStringLiteral("บันทึกแฟ้มทะเบียนของโปรแกรมไม่ได้\n%1").arg(registryFile()));
}

}  // namespace

QString registryFile()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty())
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/Tevrak/registry.ini");
}

QString systemRegistryFile()
{
    QString folders = qEnvironmentVariable("XDG_CONFIG_DIRS");
    if (folders.isEmpty())
        folders = QStringLiteral("/etc/xdg");
    for (const QString& folder : folders.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        const QString file = folder + QStringLiteral("/Tevrak/registry.ini");
        if (QFileInfo::exists(file))
            return file;
    }
    return {};
}

int maxPhotoAgeDays()
{
    bool number = false;
    const int days = readString(filingKey, maxPhotoAgeDaysValue).trimmed().toInt(&number);
    return number && days > 0 ? days : defaultMaxPhotoAgeDays;
}

void createKey(const QString& key)
{
    QSettings settings(registryFile(), QSettings::IniFormat);
    settings.beginGroup(groupOf(key));
    if (settings.childKeys().isEmpty())
        settings.setValue(QStringLiteral(".exists"), true);
    settings.endGroup();
    sync(settings);
}

QString readString(const QString& key, const QString& name)
{
    QSettings settings(registryFile(), QSettings::IniFormat);
    settings.beginGroup(groupOf(key));
    return settings.value(name).toString();
}

void writeString(const QString& key, const QString& name, const QString& value)
{
    QSettings settings(registryFile(), QSettings::IniFormat);
    settings.beginGroup(groupOf(key));
    settings.setValue(name, value);
    settings.endGroup();
    sync(settings);
}

}  // namespace tevrak::platform::registry
