#pragma once

#include <QString>

namespace tevrak::exchange {

// What to do when the server already holds a file of an outbox file's name
// and its bytes are neither ours nor the beginning of ours. The transfer
// knows the kinds of file that can be combined (claim archives, export
// tables); the exchange asks it here.
class ServerCopyMerger {
public:
    enum class Outcome {
        Merged,   // the outbox file now holds the server's content and ours: send it in place of the server's
        Replace,  // the server's copy is of no use (unreadable, or derived from a file sent in its place)
        Conflict, // a different file: leave the server's copy alone, keep ours in the outbox
    };

    virtual ~ServerCopyMerger() = default;
    // Whether files of this name can ever be combined or replaced; when not,
    // a server copy larger than ours is a conflict without bringing it down.
    virtual bool combines(const QString& name) const = 0;
    // `ours`: the outbox file (local path), `theirs`: the server's copy brought
    // down beside it, `name`: the file name. May rewrite `ours` (whole or not at
    // all); raises tevrak::Error when combining fails.
    virtual Outcome merge(const QString& ours, const QString& theirs, const QString& name) = 0;
};

} // namespace tevrak::exchange
