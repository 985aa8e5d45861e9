#pragma once

#include "exchange/session/ServerCopy.h"
#include "ftp/FtpLink.h"

#include <QString>
#include <cstdint>
#include <set>
#include <string>

namespace tevrak::exchange {

// Sends outbox files into the server's current folder without ever making a
// server file unreadable or dropping what is there. The folder is listed once
// (by the caller); only for a name it already holds is the server asked more:
// - nothing there: the file is appended, as the insurer's server expects;
// - the same bytes there (a run that ended before it removed the outbox file):
//   nothing is sent;
// - the beginning of our bytes there (an upload broken off): the rest is appended;
// - anything else: the merger decides; a merged or replacing file goes up
//   under a temporary name and is renamed over the server's copy, so the name
//   never shows half a file (where the server cannot rename, it is stored
//   over the name directly); a conflict raises Error naming the file, and the
//   outbox file stays.
class OutboxUpload {
public:
    OutboxUpload(TFtpLink& link, std::set<std::string> namesOnServer, ServerCopyMerger* merger);

    // Removes the temporary file a replacement broken off earlier left on the
    // server, if the listing showed one.
    void removeLeftoverTemporary();

    // Sends one file; the number of bytes that went over the line.
    std::uint64_t send(const QString& localPath, const QString& name, const std::string& remoteName);

    // The hidden names used on the server and in the outbox while a file is
    // compared or replaced.
    static constexpr const char* RemoteTemporaryName = ".tevrak-upload.part";
    static constexpr const char* LocalServerCopyName = ".tevrak-server-copy";

private:
    std::uint64_t reconcile(const QString& localPath, const QString& name, const std::string& remoteName);
    std::uint64_t replace(const QString& localPath, const std::string& remoteName);

    TFtpLink& m_link;
    std::set<std::string> m_namesOnServer;
    ServerCopyMerger* m_merger;
    bool m_renameRefused = false;
};

} // namespace tevrak::exchange
