#pragma once

#include "exchange/session/ServerCopy.h"
#include "ftp/FtpLink.h"
#include "platform/core/DriveC.h"

#include <QString>
#include <QStringList>
#include <functional>

namespace tevrak::exchange {

// Where an exchange finds and puts its files (drive C: paths): the outbox and
// the files it sends, the downloads, and the branch file.
struct ExchangeFolders {
    QString outbox = platform::paths::outbox;
    QString outboxMask = platform::paths::outboxUploadMask;
    QString load = platform::paths::load;
    QString loadAll = platform::paths::loadAll;
    QString branchFile = platform::paths::branchFile;
};

// How one exchange ended: whether every step ran to its end and, when one
// failed, why (the step and the cause, for the clerk under "Transfer failed").
struct ExchangeOutcome {
    bool succeeded = false;
    QString failure;
};

// What the user sees of a running exchange; the session form connects the
// progress window, the branch form and the desktop here. Every call comes on
// the caller's thread while the exchange runs.
class ExchangeObserver {
public:
    virtual ~ExchangeObserver() = default;
    // The outbox was listed: `fileCount` files are about to be sent.
    virtual void uploadStarting(int /*fileCount*/) {}
    virtual void uploadingFile(const QString& /*name*/) {}
    virtual void fileUploaded() {}
    // The upload phase is over, finished or failed.
    virtual void uploadEnded() {}
    // Called often while data moves: a chance to repaint the windows.
    virtual void keepAlive() {}
    // C:\LOAD\REGISTER.TXT is missing: ask for the branch (modally).
    virtual void branchMissing() {}
    // A downloaded file is in place: open it with the desktop's application.
    virtual void openDownload(const QString& /*localFile*/, const QString& /*dayFolder*/) {}
};

// One exchange with the insurer's server: the outbox goes up to the garage's
// folder (see OutboxUpload: nothing on the server is ever made unreadable or
// dropped; each file is removed from the outbox once sent), then the files
// waiting in the branch's download folder come down into c:\LOAD\<dd-mm-yy>
// and c:\LOAD\ALL, are removed from the server once they are whole on disk,
// and are opened.
//
// run() never throws. A file that cannot be sent or fetched is left where it
// is (outbox or server) and the exchange goes on with the others; a failure
// of the connection ends the exchange at that step. The outcome fails when
// anything failed, and says for each what the exchange was doing and why. What was done before stays done: files sent are gone from the
// outbox, files fetched are in the day folder.
class ExchangeSession {
public:
    // `garageName`: the registered garage, whose folder on the server receives the outbox.
    explicit ExchangeSession(QString garageName, ExchangeFolders folders = {});
    ExchangeSession(const ExchangeSession&) = delete;
    ExchangeSession& operator=(const ExchangeSession&) = delete;

    // The FTP client; its Host and Port start as the insurer's server.
    TFtpLink& link() { return m_link; }

    // The login: the workstation's settings (platform::serverSecurity), the
    // built-in one by default; the session form puts its fields here.
    QString Username;
    QString Password;
    // Bound in milliseconds on every wait for the server (reply, data, connect):
    // a server that stops answering ends the exchange instead of hanging it.
    int ReadTimeout = 60000;
    ExchangeObserver* Observer = nullptr;
    // Combines an outbox file with a different server copy of the same name
    // (claim archives, export tables); without one, such a file is a conflict.
    ServerCopyMerger* Merger = nullptr;
    // For the transfer history: a file is on the server (bytes: what went over
    // the line for it, 0 when the server already held it), or whole in the day folder.
    std::function<void(const QString& name, quint64 bytes)> OnFileSent;
    std::function<void(const QString& name, quint64 bytes)> OnFileReceived;
    // A file that could not be sent or fetched (the exchange went on with the
    // others), with the reason; and a listed download left on the server on
    // purpose (a hidden name, a name too long for the disk), with the reason.
    std::function<void(const QString& name, const QString& reason)> OnFileFailed;
    std::function<void(const QString& name, const QString& reason)> OnFileLeft;
    // What downloads must leave free on the disk that holds the tables: a
    // download is refused below it, and broken off where its two copies (the
    // day folder's and ALL's) would eat into it.
    std::uint64_t FreeSpaceMargin = std::uint64_t(512) << 20;
    // A data connection slower than this many bytes a second on average over
    // LowSpeedTime seconds fails (a line that trickles cannot hold the
    // Transfer for ever).
    std::uint64_t LowSpeedLimit = 1000;
    int LowSpeedTime = 60;

    ExchangeOutcome run();

    // Why the last run failed (empty after a run that succeeded).
    const QString& failure() const { return m_failure; }
    // The day folder of the last run that got that far ("c:\LOAD\dd-mm-yy").
    const QString& dayFolder() const { return m_dayFolder; }

private:
    void upload();
    void download();
    void connect();
    // Records a file that failed alone and lets the exchange go on; rethrows
    // a failure that ends it.
    void fileFailed(const QString& name, const std::exception& error);
    QString reasonToLeave(const std::string& listedName) const;
    void limitDownloadToFreeSpace();
    void keepInAll(const QString& received, const QString& all);
    int readTimeoutMs() const;
    ExchangeObserver& observer() { return Observer ? *Observer : m_silent; }

    QString m_garageName;
    ExchangeFolders m_folders;
    TFtpLink m_link;
    ExchangeObserver m_silent;
    QString m_step; // what the exchange is doing, for the failure's reason
    QString m_failure;
    QStringList m_fileFailures;
    QString m_addressProblem;
    QString m_securityProblem;
    QString m_dayFolder;
};

} // namespace tevrak::exchange
