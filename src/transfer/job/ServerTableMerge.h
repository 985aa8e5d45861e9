#pragma once

#include "records/tables/TableSchema.h"

#include <QString>
#include <QtGlobal>
#include <cstdint>

namespace tevrak::transfer {

// Bounds on reading the server's copy of an export table, which is untrusted.
inline constexpr std::uint64_t MaxServerTableBytes = 256ull << 20; // the copy brought down: 256 MiB
inline constexpr int ServerTableSeconds = 20;                     // reading and combining one copy
inline constexpr int MaxServerTableParts = 1024;                  // whole table files joined end to end
inline constexpr int MaxServerValueBytes = 1 << 20;               // one value of a row: 1 MiB

// What combining one server copy of an export table came to.
struct ServerTableMerge {
    int parts = 0;              // whole table files in the copy (an earlier program joined them end to end)
    int unreadableParts = 0;    // of those, the ones that could not be read (with `unreadable` saying why)
    QString unreadable;
    qint64 rowsAdded = 0;       // server rows whose key ours did not hold
    qint64 rowsWithBadKey = 0;  // server rows skipped: a key field empty, NULL, of the wrong type,
                                // or holding a control character (TAB, CR, LF ...) or no Thai code page
    qint64 rowsWithKeyMet = 0;  // server rows skipped: a key an earlier server row had
    int otherObjects = 0;       // tables, views and triggers besides the export table (not taken)

    // Everything the copy held is in ours now (or was there already).
    bool tookEverything() const
    {
        return unreadableParts == 0 && rowsWithBadKey == 0 && rowsWithKeyMet == 0 && otherObjects == 0;
    }
    // For the transfer history: what was taken and what was not.
    QString summary() const;
};

// Adds to our export table file `ours` the rows of the server's copy `theirs`
// whose key ours does not hold, and writes the .PX beside `ours` anew; both
// change whole or not at all. `workFolder` is for the work files.
//
// The server's file is read as whole table files joined end to end, each as
// long as its header's page count times its page size says (the rest of the
// file when the header does not say), and each read alone: read-only and
// immutable, with SQLite's defensive mode on, the schema untrusted, views and
// triggers off, within ServerTableSeconds for the whole copy. Only a real table
// (not a view, not a virtual table, no generated column) of the schema's name
// with exactly its columns counts; a part without one is unreadable. Server
// rows with a bad key, and rows whose key an earlier server row had, are
// skipped and counted (the first row of a key is kept); other tables, views
// and triggers in the file are counted too (none is taken or run).
//
// Raises tevrak::Error when our side fails (our file cannot be read or
// written); a server copy never does.
ServerTableMerge mergeServerTable(const QString& ours, const QString& theirs, const records::TableSchema& table,
                                  const QString& workFolder);

// Whether `file` begins with a table file holding a real table of the
// schema's name and columns (a work file found on the server is told by this).
bool holdsServerTable(const QString& file, const records::TableSchema& table, const QString& workFolder);

} // namespace tevrak::transfer
