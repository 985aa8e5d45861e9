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
#include <QStorageInfo>
#include <algorithm>
#include <cstdint>
#include <optional>

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

// Whether the control connection is still usable after a file failed in this
// way: the server refused the file with a reply, or the failure was our own
// (a conflict, a merge, a download that did not come whole), so the exchange
// goes on with the next file. Anything else (the connection broke, a wait ran
// out) ends the exchange.
bool failedOnlyThisFile(const std::exception& error)
{
    return dynamic_cast<const Error*>(&error) || dynamic_cast<const EFtpReplyError*>(&error) ||
           dynamic_cast<const EFtpIncompleteTransfer*>(&error) || dynamic_cast<const EFtpDownloadTooLarge*>(&error) ||
           dynamic_cast<const EFtpDestinationExists*>(&error) || dynamic_cast<const EFtpBadCommandText*>(&error);
}

} // namespace

ExchangeSession::ExchangeSession(QString garageName, ExchangeFolders folders)
    : m_garageName(std::move(garageName)), m_folders(std::move(folders))
{
    const platform::ServerAddress address = platform::serverAddress();
    m_link.Host = address.host.toStdString();
    m_link.Port = address.port;
    m_addressProblem = address.problem;
    const platform::ServerSecurity security = platform::serverSecurity();
    Username = security.user;
    Password = security.password;
    m_link.Tls = security.encryption == platform::Encryption::Required    ? TTlsMode::Required
                 : security.encryption == platform::Encryption::IfOffered ? TTlsMode::IfOffered
                                                                          : TTlsMode::Off;
    m_link.CertificateFile = QFile::encodeName(security.certificateFile).toStdString();
    m_securityProblem = security.problem;
    m_link.Passive = false;
    m_link.TransferType = ftBinary;
    m_link.OnProgress = [this](const TTransferProgress&) { observer().keepAlive(); };
}

ExchangeOutcome ExchangeSession::run()
{
    m_failure.clear();
    m_fileFailures.clear();
    m_step.clear();
    bool uploading = false;
    try {
        m_link.Username = Username.toStdString();
        m_link.Password = Password.toStdString();
        m_link.ReadTimeout = ReadTimeout;
        m_link.DataConnectTimeout = readTimeoutMs();
        m_link.LowSpeedLimit = LowSpeedLimit;
        m_link.LowSpeedTime = LowSpeedTime;
        uploading = true;
        upload();
        uploading = false;
        download();
    } catch (const std::exception& error) {
        m_failure = failureReason(m_step, error, readTimeoutMs());
    } catch (...) {
        m_failure = m_step + QStringLiteral(": unknown error.");
    }
    if (uploading)
        observer().uploadEnded();
    QStringList reasons = m_fileFailures;
    if (!m_failure.isEmpty())
        reasons << m_failure;
    m_failure = reasons.join(QLatin1Char('\n'));
    return {reasons.isEmpty(), m_failure};
}

QString ExchangeSession::reasonToLeave(const std::string& listedName) const
{
    const std::optional<QString> local = localDownloadName(listedName);
    if (!local)
        return {};
    if (local->startsWith(QLatin1Char('.')))
        return QStringLiteral("ชื่อไฟล์ขึ้นต้นด้วยจุด (ไฟล์ซ่อน): ไม่ได้รับไฟล์ ไฟล์ยังอยู่บนเซิร์ฟเวอร์");
    if (QFile::encodeName(*local).size() > 255)
        return QStringLiteral("ชื่อไฟล์ยาวเกิน 255 ไบต์: ไม่ได้รับไฟล์ ไฟล์ยังอยู่บนเซิร์ฟเวอร์");
    return {};
}

void ExchangeSession::limitDownloadToFreeSpace()
{
    // The disk that holds the tables, and the downloads' own (the same one
    // unless a folder was moved elsewhere): the smaller room of the two.
    std::optional<std::uint64_t> available;
    for (const QString& folder : {platform::paths::database, m_dayFolder}) {
        const QStorageInfo disk(platform::localPath(folder));
        if (disk.isValid() && disk.isReady())
            available = std::min(available.value_or(UINT64_MAX), std::uint64_t(std::max<qint64>(disk.bytesAvailable(), 0)));
    }
    if (!available) {
        m_link.MaxRetrieveBytes = 0;
        return;
    }
    if (*available <= FreeSpaceMargin)
        throw Error(QStringLiteral("พื้นที่ดิสก์เหลือไม่พอ (ว่าง %1 MB ต้องเหลือไว้ %2 MB): ไฟล์ยังอยู่บนเซิร์ฟเวอร์")
                        .arg(*available >> 20)
                        .arg(FreeSpaceMargin >> 20));
    // The download lands twice (the day folder and ALL), and the margin stays free.
    m_link.MaxRetrieveBytes = std::max<std::uint64_t>((*available - FreeSpaceMargin) / 2, 1);
}

void ExchangeSession::keepInAll(const QString& received, const QString& all)
{
    // ALL keeps every download; a different file of the same name there is never replaced.
    platform::StagedCopy copy(received, all + QLatin1Char('/') + QFileInfo(received).fileName());
    const QString placed = platform::placeUnderFreeName(received, all, QFileInfo(received).fileName(),
                                                        [&copy](const QString& target) {
                                                            return copy.commitWithoutReplacing(target);
                                                        });
    if (placed.isEmpty())
        copy.discard();
}

int ExchangeSession::readTimeoutMs() const
{
    return m_link.ReadTimeout > 0 ? m_link.ReadTimeout : 60000;
}

void ExchangeSession::fileFailed(const QString& name, const std::exception& error)
{
    if (!failedOnlyThisFile(error))
        throw;
    const QString reason = failureReason(m_step, error, readTimeoutMs());
    m_fileFailures << reason;
    if (OnFileFailed)
        OnFileFailed(name, reason);
}

void ExchangeSession::connect()
{
    if (!m_addressProblem.isEmpty() || !m_securityProblem.isEmpty()) {
        m_step = QStringLiteral("Reading the server's settings");
        throw Error(m_addressProblem.isEmpty() ? m_securityProblem : m_addressProblem);
    }
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
        try {
            const std::uint64_t sent = sender.send(local, name, serverName(name));
            QFile::remove(local);
            if (OnFileSent)
                OnFileSent(name, sent);
        } catch (const std::exception& error) {
            fileFailed(name, error); // the file stays in the outbox for the next Transfer
        }
        observer().fileUploaded();
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
    const QString all = platform::localPath(m_folders.loadAll);
    removeLeftovers(day);
    BranchDownload receiver(m_link, day);
    for (const std::string& name : listed) {
        if (const QString why = reasonToLeave(name); !why.isEmpty()) {
            if (OnFileLeft)
                OnFileLeft(shown(name), why);
            continue;
        }
        const std::optional<QString> local = receiver.claimLocalName(name);
        if (!local)
            continue;
        m_step = QStringLiteral("Receiving \"%1\"").arg(shown(name));
        try {
            limitDownloadToFreeSpace();
            const std::optional<QString> placed = receiver.fetch(name, *local);
            if (!placed)
                continue; // a folder: it stays on the server
            const QString received = day + QLatin1Char('/') + *placed;
            keepInAll(received, all);
            if (OnFileReceived)
                OnFileReceived(*placed, quint64(QFileInfo(received).size()));
            observer().openDownload(received, day);
        } catch (const std::exception& error) {
            fileFailed(shown(name), error); // it stays on the server for the next Transfer
        }
    }
    m_step = QStringLiteral("Closing the connection");
    m_link.CloseControl();
}

} // namespace tevrak::exchange
