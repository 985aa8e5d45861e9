#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace tevrak::exchange {

// What combining an outbox file with one server copy of its name came to.
struct MergeResult {
    enum class Outcome {
        // The outbox file now holds everything the server's copy held (merged
        // into it, or there already): the copy may give way to it.
        Merged,
        // The server's copy cannot be wholly taken into ours (unreadable, too
        // large, rows that no export table can hold): it is kept on the server
        // under a name beside its own that says why, and ours goes up under the
        // name. What could be taken is in the outbox file all the same.
        KeepAside,
        // A different file: leave the server's copy alone, keep ours in the outbox.
        Conflict,
    };
    Outcome outcome = Outcome::Conflict;
    // KeepAside: the word that goes into the kept copy's name ("unreadable").
    QString keptAs;
    // Why, or what the combining found (rows skipped, documents renumbered), for
    // the transfer history; may be empty.
    QString reason;
};

// What to do when the server already holds a file of an outbox file's name
// and its bytes are neither ours nor the beginning of ours. The transfer
// knows the kinds of file that can be combined (claim archives, export
// tables); the exchange asks it here. A failure on this side (our own file
// cannot be read, a local write fails) raises tevrak::Error: it is never a
// verdict on the server's copy.
class ServerCopyMerger {
public:
    virtual ~ServerCopyMerger() = default;
    // Whether files of this name can ever be combined; when not, a server copy
    // larger than ours is a conflict without bringing it down.
    virtual bool combines(const QString& name) const = 0;
    // The largest server copy of this name worth bringing down (the server's
    // file is untrusted: a larger one is kept aside unread). An empty name: the
    // largest of any kind.
    virtual std::uint64_t largestCopy(const QString& name) const = 0;
    // `ours`: the outbox file (local path), `theirs`: a server copy brought
    // down beside it, `name`: the file name. May rewrite `ours` (whole or not
    // at all), and is asked once for each server copy of the name.
    virtual MergeResult merge(const QString& ours, const QString& theirs, const QString& name) = 0;
    // The outbox name a server copy found under no name of its own belongs to
    // (a work file an earlier version of the program left), judged by what it
    // holds; nothing when it cannot be told.
    virtual std::optional<QString> ownerOf(const QString& copy) = 0;
    // Something the transfer history should show (a server copy kept aside,
    // work files recovered).
    virtual void note(const QString& /*event*/) {}
};

} // namespace tevrak::exchange
