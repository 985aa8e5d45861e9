#include "app/QtTranslation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <QTranslator>

namespace tevrak {

namespace {

const QString kTranslationFile = QStringLiteral("qt_th.qm");

} // namespace

QStringList qtTranslationFolders()
{
    return {QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/tevrak/translations")),
            QStringLiteral(TEVRAK_BUILD_TRANSLATIONS_DIR)};
}

QString installQtTranslation(QCoreApplication& application)
{
    for (const QString& folder : qtTranslationFolders()) {
        const QString file = folder + QLatin1Char('/') + kTranslationFile;
        if (!QFileInfo::exists(file))
            continue;
        // Owned by the application, so it lives as long as the texts it translates.
        auto* translator = new QTranslator(&application);
        if (translator->load(file) && QCoreApplication::installTranslator(translator))
            return file;
        delete translator;
    }
    return {};
}

} // namespace tevrak
