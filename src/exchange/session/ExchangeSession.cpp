#include "exchange/session/ExchangeSession.h"

#include "exchange/session/BranchDownload.h"
#include "exchange/session/DownloadNames.h"
#include "exchange/session/FailureReason.h"
#include "exchange/session/OutboxUpload.h"
#include "exchange/session/ServerFolder.h"
#include "platform/core/DriveC.h"
#include "platform/core/Error.h"
#include "platform/core/FileSystem.h"
#include "platform/core/ServerAddress.h"
#include "platform/core/StagedCopy.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace tevrak::exchange {

namespace {

// The first line of the branch file, as the bytes it holds (the Thai code page).
std::string readBranch(const QString& branchFile)
{
    QFile file(platform::localPath(branchFile));
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

ExchangeSession::ExchangeSession(QString garageName, ExchangeFolders folders)
    : m_garageName(std::move(garageName)), m_folders(std::move(folders))
{
    m_link.Host = platform::ftpHost().toStdString();
    m_link.Port = platform::ftpPort();
    m_link.Passive = false;
    m_link.TransferType = ftBinary;
    m_link.OnProgress = [this](const TTransferProgress&) { observer().keepAlive(); };
}

ExchangeOutcome ExchangeSession::run()
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
        return {true, {}};
    } catch (const std::exception& error) {
        m_failure = failureReason(m_step, error, m_link.ReadTimeout > 0 ? m_link.ReadTimeout : 60000);
    } catch (...) {
        m_failure = m_step + QStringLiteral(": unknown error.");
    }
    if (uploading)
        observer().uploadEnded();
    return {false, m_failure};
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
    const std::string garageFolder = "Claim/" + serverName(m_garageName);
    m_step = QStringLiteral("Opening the garage's folder \"%1\" on the server").arg(shown(garageFolder));
    m_link.ChangeDirectory(garageFolder);

    removeLeftovers(platform::localPath(m_folders.outbox));
    // Taken once: files that arrive in the outbox from now on wait for the next exchange.
    const QStringList names = platform::listFiles(m_folders.outboxMask);
    m_step = QStringLiteral("Listing the garage's folder \"%1\" on the server").arg(shown(garageFolder));
    OutboxUpload sender(m_link, namesHeld(listServerFolder(m_link)), Merger);
    sender.recoverLeftovers(platform::localPath(m_folders.outbox));

    observer().uploadStarting(int(names.size()));
    for (const QString& name : names) {
        observer().uploadingFile(name);
        m_step = QStringLiteral("Sending \"%1\"").arg(name);
        const QString local = platform::localPath(m_folders.outbox + QLatin1Char('\\') + name);
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
    if (!platform::fileExists(m_folders.branchFile))
        observer().branchMissing();

    // Named once: a run that passes midnight keeps filing into the same day folder.
    m_dayFolder =
        m_folders.load + QLatin1Char('\\') + QDate::currentDate().toString(QStringLiteral("dd-MM-yy"));
    for (const QString& folder : {m_folders.load, m_folders.loadAll, m_dayFolder})
        if (!platform::folderExists(folder) && !platform::createFolder(folder))
            throw Error(QStringLiteral("Cannot create the folder \"%1\".").arg(platform::localPath(folder)));
    const std::string branch = readBranch(m_folders.branchFile);

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
        m_step = QStringLiteral("Receiving \"%1\"").arg(shown(name));
        if (!receiver.fetch(name, *local))
            continue; // a folder: it stays on the server
        const QString received = day + QLatin1Char('/') + *local;
        platform::StagedCopy(received, platform::localPath(m_folders.loadAll + QLatin1Char('\\') + *local)).commit();
        if (OnFileReceived)
            OnFileReceived(*local, quint64(QFileInfo(received).size()));
        observer().openDownload(received, day);
    }
    m_step = QStringLiteral("Closing the connection");
    m_link.CloseControl();
}

} // namespace tevrak::exchange
