#pragma once

#include "exchange/session/ServerCopy.h"

#include <QString>
#include <functional>

namespace tevrak::transfer {

// Combines an outbox file with a server copy of the same name, for the kinds
// of file a Transfer sends more than once under one name. The server's copy is
// untrusted: it is read within bounds, nothing in it runs, and whatever of it
// cannot be taken whole makes it KeepAside (kept on the server beside ours):
// - a claim's ZIP archive (zip/ArchiveMerge): every member of every archive in
//   the file is kept and ours added; a document both hold under one name with
//   different bytes keeps both, one under the claim's next free document
//   number. Unreadable: KeepAside "unreadable". At most MaxServerArchiveBytes.
// - an export table (Tevrak2.DB, Expense2.DB; ServerTableMerge): the server's
//   rows are added to ours where ours hold no row of the same key, table file
//   by table file, and the .PX beside ours is written anew. A part that cannot
//   be read: KeepAside "unreadable"; server rows skipped for their keys:
//   KeepAside "skipped-rows". At most MaxServerTableBytes.
// - an export table's .PX: written from its table, so ours may replace theirs
//   when every line of theirs is in ours; otherwise KeepAside "unmatched".
// Anything else (a photograph) is a conflict. What each combining found goes
// in the result's reason, for the transfer history.
class ServerCopyMerge : public exchange::ServerCopyMerger {
public:
    bool combines(const QString& name) const override;
    std::uint64_t largestCopy(const QString& name) const override;
    exchange::MergeResult merge(const QString& ours, const QString& theirs, const QString& name) override;
    std::optional<QString> ownerOf(const QString& copy) override;
    void note(const QString& event) override;

    // Where the exchange's notes go (the transfer history).
    std::function<void(const QString& event)> OnNote;
};

} // namespace tevrak::transfer
