#include "exchange/ExchangeSession.h"

#include "exchange/DownloadNames.h"
#include "platform/DriveC.h"
#include "platform/Error.h"
#include "platform/FileSystem.h"
#include "platform/ProgramValues.h"
#include "platform/ServerAddress.h"

#include <QDate>
#include <QDir>
#include <QFile>

namespace tevrak::exchange {

namespace {

const QString outboxMask =
    QStringLiteral("c:\\picture\\transfer\\*.Jpg;c:\\picture\\transfer\\*.Zip;c:\\picture\\transfer\\*.db;"
                   "c:\\picture\\transfer\\*.px");

std::string fileSystemPath(const QString& localPath)
{
    return QFile::encodeName(localPath).toStdString();
}

// The first line of the branch file, as the bytes it holds (the Thai code page).
std::string readBranch()
{
    QFile file(platform::localPath(platform::paths::branchFile));
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Cannot open file \"%1\". %2").arg(file.fileName(), file.errorString()));
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw Error(QStringLiteral("Cannot read file \"%1\". %2").arg(file.fileName(), file.errorString()));
    qsizetype end = content.size();
    for (qsizetype i = 0; i < content.size(); ++i)
        if (content[i] == '\r' || content[i] == '\n') {
            end = i;
            break;
        }
    return content.left(end).toStdString();
}

bool refusedAsEmpty(const EFtpReplyError& error)
{
    return error.NumericCode() == 450 || error.NumericCode() == 550;
}

} // namespace

ExchangeSession::ExchangeSession(ProgramValues& values) : m_values(values)
{
    m_link.Host = platform::ftpHost().toStdString();
    m_link.Port = platform::ftpPort();
    m_link.Passive = false;
    m_link.TransferType = ftBinary;
    m_link.OnProgress = [this](const TTransferProgress&) { keepAlive(); };
}

void ExchangeSession::keepAlive()
{
    (Observer ? Observer : &m_silent)->keepAlive();
}

bool ExchangeSession::run()
{
    m_failure.clear();
    ExchangeObserver& observer = Observer ? *Observer : m_silent;
    bool uploading = false;
    try {
        m_link.Username = Username.toStdString();
        m_link.Password = Password.toStdString();
        m_link.ReadTimeout = ReadTimeout;
        m_link.DataConnectTimeout = ReadTimeout > 0 ? ReadTimeout : 60000;
        uploading = true;
        upload();
        uploading = false;
        download();
        return true;
    } catch (const std::exception& error) {
        m_failure = QString::fromUtf8(error.what());
    } catch (...) {
        m_failure = QStringLiteral("Unknown error");
    }
    if (uploading)
        observer.uploadEnded();
    return false;
}

void ExchangeSession::upload()
{
    ExchangeObserver& observer = Observer ? *Observer : m_silent;
    m_link.OpenControl(true);
    m_link.ChangeDirectory("Claim/" + serverName(m_values.GarageName));

    // Taken once: files that arrive in the outbox from now on wait for the next exchange.
    const QStringList names = platform::listFiles(outboxMask);
    observer.uploadStarting(int(names.size()));
    for (const QString& name : names) {
        m_values.CurrentFileName = name;
        observer.uploadingFile(name);
        const QString local = platform::localPath(platform::paths::outbox + QLatin1Char('\\') + name);
        m_link.StoreFile(fileSystemPath(local), serverName(name), true);
        QFile::remove(local);
        observer.fileUploaded();
    }
    observer.uploadEnded();
    m_link.CloseControl();
}

void ExchangeSession::download()
{
    ExchangeObserver& observer = Observer ? *Observer : m_silent;
    if (!platform::fileExists(platform::paths::branchFile))
        observer.branchMissing();

    // Named once: a run that passes midnight keeps filing into the same day folder.
    m_dayFolder =
        platform::paths::load + QLatin1Char('\\') + QDate::currentDate().toString(QStringLiteral("dd-MM-yy"));
    for (const QString& folder : {platform::paths::load, platform::paths::loadAll, m_dayFolder})
        if (!platform::folderExists(folder))
            platform::createFolder(folder);
    const QString all = platform::localPath(platform::paths::loadAll);
    if (!QDir::setCurrent(all))
        throw Error(QStringLiteral("Unable to set current directory to \"%1\"").arg(all));
    const std::string branch = readBranch();

    m_link.OpenControl(true);
    m_link.ChangeDirectory("Claim/Download3/" + branch);
    const std::vector<std::string> listed = listDownloadFolder(m_link);
    for (const std::string& name : listed) {
        const std::optional<QString> local = localDownloadName(name);
        if (!local)
            continue;
        m_values.CurrentFileName = *local;
        fetch(name, *local);
        observer.openDownload(platform::localPath(m_dayFolder + QLatin1Char('\\') + *local),
                              platform::localPath(m_dayFolder));
    }
    m_link.CloseControl();
}

void ExchangeSession::fetch(const std::string& listedName, const QString& localName)
{
    const QString day = platform::localPath(m_dayFolder);
    const QString target = day + QLatin1Char('/') + localName;
    // The download lands under a hidden name and takes its own name only when
    // complete, so nobody opens half a file.
    const QString partial = day + QStringLiteral("/.") + localName + QStringLiteral(".part");
    try {
        m_link.RetrieveFile(listedName, fileSystemPath(partial), true, false);
    } catch (...) {
        QFile::remove(partial);
        throw;
    }
    QFile::remove(target);
    if (!QFile::rename(partial, target)) {
        QFile::remove(partial);
        throw Error(QStringLiteral("Cannot create file \"%1\"").arg(target));
    }
    m_link.RemoveFile(listedName);
    platform::copyFile(m_dayFolder + QLatin1Char('\\') + localName,
                       platform::paths::loadAll + QLatin1Char('\\') + localName);
}

std::vector<std::string> ExchangeSession::listDownloadFolder(TFtpLink& link)
{
    std::vector<std::string> names;
    try {
        link.ListNames(&names, "*.*", false);
        return names;
    } catch (const EFtpReplyError& refused) {
        if (!refusedAsEmpty(refused))
            throw;
    }
    names.clear();
    try {
        link.ListNames(&names, "", false);
    } catch (const EFtpReplyError& refused) {
        if (!refusedAsEmpty(refused))
            throw;
        names.clear();
    }
    return names;
}

} // namespace tevrak::exchange
