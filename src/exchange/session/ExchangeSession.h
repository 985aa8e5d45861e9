#pragma once

#include "exchange/session/FailureReason.h"
#include "exchange/session/ProgressMeter.h"
#include "exchange/session/ServerCopy.h"
#include "ftp/FtpLink.h"
#include "platform/core/CancelRequest.h"
#include "platform/core/DriveC.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace tevrak::exchange {

class BranchDownload;

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
// failed, why (the step and the cause, for the clerk under "Transfer failed");
// or that the clerk cancelled it (failure then lists the files that failed
// before).
struct ExchangeOutcome {
    bool succeeded = false;
    QString failure;
    bool cancelled = false;
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
    // The branch's folder was listed: `fileCount` files are about to come down;
    // and that phase is over.
    virtual void downloadStarting(int /*fileCount*/) {}
    virtual void downloadEnded() {}
    // Where the sending or the receiving stands, at every file and at least
    // every ProgressMeter::ReportInterval while data moves.
    virtual void progress(const ProgressReport& /*report*/) {}
    // Called at least every tenth of a second while the exchange waits or data
    // moves: a chance to repaint the windows and to take the Cancel button.
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
// anything failed, and says for each what the exchange was doing and why.
// What was done before stays done: files sent are gone from the outbox, files
// fetched are in the day folder.
//
// A cancel (Cancel requested) is taken at the next check, at least every
// tenth of a second whatever the exchange is doing: the connections are
// closed at once and everything is left as a killed program would leave it,
// which the next exchange goes on from (a file cut off on its way up is
// completed, a download cut off never had its name).
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
    // The clerk's Cancel button; null: the exchange cannot be cancelled.
    const platform::CancelRequest* Cancel = nullptr;
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
    // The regular check while the exchange runs: the progress when a report
    // is due, the windows' turn, and a cancel.
    void checkpoint();
    void moved(const TTransferProgress& progress);
    void reportProgress();
    // The branch's files to fetch: each with the name it gets here and its
    // size when the server tells it.
    struct Download {
        std::string name;
        QString local;
        std::optional<std::uint64_t> size;
    };
    std::vector<Download> downloadsOf(const std::vector<std::string>& listed, BranchDownload& receiver);
    QString reasonToLeave(const std::string& listedName) const;
    void limitDownloadToFreeSpace();
    void keepInAll(const QString& received, const QString& all);
    int readTimeoutMs() const;
    ExchangeObserver& observer() { return Observer ? *Observer : m_silent; }

    QString m_garageName;
    ExchangeFolders m_folders;
    TFtpLink m_link;
    ExchangeObserver m_silent;
    ExchangeStep m_step; // what the exchange is doing, for the failure's reason
    std::optional<ProgressMeter> m_meter; // of the phase under way
    std::uint64_t m_fileSize = 0;        // of the file being sent or fetched
    QString m_failure;
    QStringList m_fileFailures;
    QString m_addressProblem;
    QString m_securityProblem;
    QString m_dayFolder;
};

} // namespace tevrak::exchange
