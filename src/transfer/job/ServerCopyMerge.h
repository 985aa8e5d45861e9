#pragma once

#include "exchange/session/ServerCopy.h"
#include "zip/ArchiveMerge.h"

#include <vector>

namespace tevrak::transfer {

// Combines an outbox file with the server's copy of the same name, for the
// kinds of file a Transfer sends more than once under one name:
// - a claim's ZIP archive: the server's members are kept and ours added (ours
//   win on a member name both hold);
// - an export table (Tevrak2.DB, Expense2.DB): the server's rows are added to
//   ours where ours hold no row of the same key, and the .PX file beside it
//   in the outbox is written anew for the combined table;
// - an export table's .PX file: follows its table, so ours replaces theirs.
// A server copy that no reader can open is replaced. Anything else (a
// photograph, a table of another shape) is a conflict.
class ServerCopyMerge : public exchange::ServerCopyMerger {
public:
    bool combines(const QString& name) const override;
    Outcome merge(const QString& ours, const QString& theirs, const QString& name) override;

    // The archive members stored under a new document number since the last call.
    std::vector<RenamedMember> takeRenamedMembers();

private:
    std::vector<RenamedMember> m_renamed;
};

} // namespace tevrak::transfer
