#pragma once

#include "exchange/session/ServerCopy.h"
#include "exchange/session/ServerFolder.h"
#include "ftp/FtpLink.h"

#include <QString>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace tevrak::exchange {

// Sends outbox files into the server's current folder without ever destroying
// what the server holds. The folder is listed once (by the caller); names are
// matched without regard to ASCII case (see ServerNames), and only for a name
// the folder already holds is the server asked more:
// - nothing there: the file is appended, as the insurer's server expects;
// - the same bytes there (a run that ended before it removed the outbox file):
//   nothing is sent;
// - the beginning of our bytes there (an upload broken off): the rest is appended;
// - anything else: every server copy of the name (the file, and the work files
//   a broken-off replacement left beside it) goes to the merger. A file the
//   server holds is deleted, stored over or renamed over only when what
//   replaces it holds everything it held; a copy the merger cannot take whole
//   is kept on the server under "<name>.<why>-<yyyymmdd-hhmmss>" (renamed,
//   never copied), and ours goes up under the name. A conflict raises Error
//   naming the file, and the outbox file stays.
//
// Replacing goes through a work file beside the name, "<name>.tevrak-part-<time>",
// stored whole first. Then:
// - RNFR/RNTO over the name (the name never shows half a file);
// - a server that will not rename over a file: the server's file is renamed
//   to "<name>.tevrak-old-<time>", ours renamed in, and theirs deleted only
//   once ours is in place;
// - a server without RNFR (500/502/504): ours is stored over the name and the
//   work file deleted after that: a STOR cut short leaves the name holding the
//   beginning of the work file, which holds everything.
// A run killed anywhere leaves those work files, which the next sending of the
// name takes as server copies like any other.
class OutboxUpload {
public:
    OutboxUpload(TFtpLink& link, const std::set<std::string>& namesOnServer, ServerCopyMerger* merger);

    // The work file of the program's earlier versions, ".tevrak-upload.part",
    // does not say which file it was for: it is brought down (into a hidden
    // folder in `localFolder`) and the merger asked whose it is. It becomes a
    // work file of that name, to be merged when the name is next sent, or is
    // kept as ".tevrak-upload.part.unreadable-<time>". Never deleted.
    void recoverLeftovers(const QString& localFolder);

    // Sends one file; the number of bytes that went over the line.
    std::uint64_t send(const QString& localPath, const QString& name, const std::string& remoteName);

    static constexpr const char* EarlierTemporaryName = ".tevrak-upload.part";
    // After the name a work file is for: ours on its way up, theirs moved aside.
    static constexpr const char* PartTag = ".tevrak-part-";
    static constexpr const char* OldTag = ".tevrak-old-";

private:
    // A server copy of the name being sent, brought down to compare and combine.
    struct ServerCopy {
        std::string remote;  // the server's spelling
        QString local;       // where it was brought down
        bool whole = false;  // brought down whole (within the size worth fetching)
        bool leftover = false;
        MergeResult result;
    };
    enum class RenameSupport { Unknown, NotOverAFile, None };

    std::uint64_t reconcile(const QString& localPath, const QString& name, const std::string& remoteName);
    std::vector<std::string> leftoversOf(const std::string& remoteName) const;
    bool fetch(const std::string& remote, const QString& localPath, std::uint64_t largest);
    void settleAbandonedDownload();
    void keepAside(const ServerCopy& copy, const std::string& besideName, const QString& name);
    void place(const QString& localPath, const std::string& target, bool targetHeld);
    bool renameFrom(const std::string& from);
    void note(const QString& event);

    TFtpLink& m_link;
    ServerNames m_names;
    ServerCopyMerger* m_merger;
    RenameSupport m_rename = RenameSupport::Unknown;
};

} // namespace tevrak::exchange
