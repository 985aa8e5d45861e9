#include "exchange/ExchangeSession.h"

#include "exchange/BranchDownload.h"
#include "exchange/DownloadNames.h"
#include "exchange/FailureReason.h"
#include "exchange/OutboxUpload.h"
#include "exchange/ServerFolder.h"
#include "platform/DriveC.h"
#include "platform/Error.h"
#include "platform/FileSystem.h"
#include "platform/ProgramValues.h"
#include "platform/ServerAddress.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace tevrak::exchange {

namespace {

const QString outboxMask =
    QStringLiteral("c:\\picture\\transfer\\*.Jpg;c:\\picture\\transfer\\*.Zip;c:\\picture\\transfer\\*.db;"
                   "c:\\picture\\transfer\\*.px");

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

QString shown(const std::string& serverBytes)
{
    return QString::fromUtf8(FtpDisplayText(serverBytes));
}

// Removes the hidden work files (".tevrak-...") that an exchange killed in the
// middle left in a folder: server copies being compared, archives and tables
// being combined, downloads not yet whole.
void removeLeftovers(const QString& localFolder)
{
    QDir folder(localFolder);
    const QFileInfoList entries = folder.entryInfoList(
        {QStringLiteral(".tevrak-*")}, QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        if (entry.isDir() && !entry.isSymLink())
            QDir(entry.filePath()).removeRecursively();
        else
            QFile::remove(entry.filePath());
    }
}

} // namespace

ExchangeSession::ExchangeSession(ProgramValues& values) : m_values(values)
{
    m_link.Host = platform::ftpHost().toStdString();
    m_link.Port = platform::ftpPort();
    m_link.Passive = false;
    m_link.TransferType = ftBinary;
    m_link.OnProgress = [this](const TTransferProgress&) { observer().keepAlive(); };
}

bool ExchangeSession::run()
{
    m_failure.clear();
    m_step.clear();
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
        m_failure = failureReason(m_step, error, m_link.ReadTimeout > 0 ? m_link.ReadTimeout : 60000);
    } catch (...) {
        m_failure = m_step + QStringLiteral(": unknown error.");
    }
    if (uploading)
        observer().uploadEnded();
    return false;
}

void ExchangeSession::connect()
{
    m_step = QStringLiteral("Connecting to the insurer's server %1:%2")
                 .arg(QString::fromStdString(m_link.Host))
                 .arg(m_link.Port);
    m_link.OpenControl(true);
}

void ExchangeSession::upload()
{
    connect();
    const std::string garageFolder = "Claim/" + serverName(m_values.GarageName);
    m_step = QStringLiteral("Opening the garage's folder \"%1\" on the server").arg(shown(garageFolder));
    m_link.ChangeDirectory(garageFolder);

    removeLeftovers(platform::localPath(platform::paths::outbox));
    // Taken once: files that arrive in the outbox from now on wait for the next exchange.
    const QStringList names = platform::listFiles(outboxMask);
    m_step = QStringLiteral("Listing the garage's folder \"%1\" on the server").arg(shown(garageFolder));
    OutboxUpload sender(m_link, namesHeld(listServerFolder(m_link)), Merger);
    sender.removeLeftoverTemporary();

    observer().uploadStarting(int(names.size()));
    for (const QString& name : names) {
        m_values.CurrentFileName = name;
        observer().uploadingFile(name);
        m_step = QStringLiteral("Sending \"%1\"").arg(name);
        const QString local = platform::localPath(platform::paths::outbox + QLatin1Char('\\') + name);
        const std::uint64_t sent = sender.send(local, name, serverName(name));
        QFile::remove(local);
        observer().fileUploaded();
        if (OnFileSent)
            OnFileSent(name, sent);
    }
    observer().uploadEnded();
    m_link.CloseControl();
}

void ExchangeSession::download()
{
    m_step = QStringLiteral("Reading the branch registration");
    if (!platform::fileExists(platform::paths::branchFile))
        observer().branchMissing();

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

    connect();
    const std::string branchFolder = "Claim/Download3/" + branch;
    m_step = QStringLiteral("Opening the branch's folder \"%1\" on the server").arg(shown(branchFolder));
    m_link.ChangeDirectory(branchFolder);
    m_step = QStringLiteral("Listing the branch's folder \"%1\" on the server").arg(shown(branchFolder));
    const std::vector<std::string> listed = listServerFolder(m_link);

    const QString day = platform::localPath(m_dayFolder);
    removeLeftovers(day);
    BranchDownload receiver(m_link, day);
    for (const std::string& name : listed) {
        const std::optional<QString> local = receiver.claimLocalName(name);
        if (!local)
            continue;
        m_values.CurrentFileName = *local;
        m_step = QStringLiteral("Receiving \"%1\"").arg(shown(name));
        if (!receiver.fetch(name, *local))
            continue; // a folder: it stays on the server
        const QString received = day + QLatin1Char('/') + *local;
        platform::copyFile(m_dayFolder + QLatin1Char('\\') + *local,
                           platform::paths::loadAll + QLatin1Char('\\') + *local);
        if (OnFileReceived)
            OnFileReceived(*local, quint64(QFileInfo(received).size()));
        observer().openDownload(received, day);
    }
    m_step = QStringLiteral("Closing the connection");
    m_link.CloseControl();
}

} // namespace tevrak::exchange
