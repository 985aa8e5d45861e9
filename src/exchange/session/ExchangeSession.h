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
// run() never throws: any failure ends the exchange at that step, and the
// outcome says what the exchange was doing and why it failed. What was done before stays done: files sent are gone from the
// outbox, files fetched are in the day folder.
class ExchangeSession {
public:
    // `garageName`: the registered garage, whose folder on the server receives the outbox.
    explicit ExchangeSession(QString garageName, ExchangeFolders folders = {});
    ExchangeSession(const ExchangeSession&) = delete;
    ExchangeSession& operator=(const ExchangeSession&) = delete;

    // The FTP client; its Host and Port start as the insurer's server.
    TFtpLink& link() { return m_link; }

    QString Username = QStringLiteral("online");
    QString Password = QStringLiteral("tuvorplex");
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

    ExchangeOutcome run();

    // Why the last run failed (empty after a run that succeeded).
    const QString& failure() const { return m_failure; }
    // The day folder of the last run that got that far ("c:\LOAD\dd-mm-yy").
    const QString& dayFolder() const { return m_dayFolder; }

private:
    void upload();
    void download();
    void connect();
    ExchangeObserver& observer() { return Observer ? *Observer : m_silent; }

    QString m_garageName;
    ExchangeFolders m_folders;
    TFtpLink m_link;
    ExchangeObserver m_silent;
    QString m_step; // what the exchange is doing, for the failure's reason
    QString m_failure;
    QString m_dayFolder;
};

} // namespace tevrak::exchange
