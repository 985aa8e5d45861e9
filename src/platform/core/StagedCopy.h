#pragma once

#include "platform/core/DiskSync.h"

#include <QString>
#include <functional>

// A copy of a file that appears under its final name only once it is complete
// on disk: the bytes go to a hidden temporary file in the destination folder,
// are flushed, and the file is renamed into place on commit. Until commit
// nothing carries the final name; a failure or a discard leaves no trace.
namespace tevrak::platform {

class StagedCopy {
public:
    // Copies `localSource` into a hidden temporary file beside `localTarget`
    // and flushes it. Raises Error with the reason when reading or writing
    // fails (the partial temporary file is removed).
    StagedCopy(const QString& localSource, const QString& localTarget);
    ~StagedCopy(); // discards the copy unless committed
    StagedCopy(const StagedCopy&) = delete;
    StagedCopy& operator=(const StagedCopy&) = delete;

    // Renames the copy over the target (replacing a file of that name) and
    // flushes the folder. Raises Error when the rename fails.
    void commit();
    // Puts the copy in place under `localTarget` (in the target's folder)
    // only when no file has that name, which becomes the target: false, with
    // the copy kept for another name or a discard, when one has.
    [[nodiscard]] bool commitWithoutReplacing(const QString& localTarget);
    // Removes the committed target again (undoing commit), or the temporary file.
    void discard();

    const QString& target() const { return m_target; }

private:
    QString m_temporary;
    QString m_target;
    bool m_committed = false;
};


// Puts a finished file under `localTarget` only when no entry has that name
// (false, and nothing changed, when one has) and flushes the folder. Raises
// Error naming both files when the rename fails otherwise.
[[nodiscard]] bool renameWithoutReplacing(const QString& localFile, const QString& localTarget);

// Gives a finished file (at `localFile`) the name `name` in `localFolder`, or,
// when a different file has that name (without regard to case), the first
// free "name (2).ext", "name (3).ext", ...: no file is ever replaced.
// `placeWithoutReplacing(localTarget)` puts it there unless the name is taken
// (false). The name given; empty when the folder already holds the same bytes
// under `name`, and the file was not placed. Raises Error when no name of at
// most 255 bytes is free.
QString placeUnderFreeName(const QString& localFile, const QString& localFolder, const QString& name,
                           const std::function<bool(const QString& localTarget)>& placeWithoutReplacing);

// Whether two files hold the same bytes (false when either cannot be read).
bool sameBytes(const QString& localA, const QString& localB);

// Puts a finished file in place of `localTarget` in one step (a file of that
// name is replaced, never missing in between) and flushes the folder. Raises
// Error naming both files when the rename fails.
void renameOver(const QString& localFile, const QString& localTarget);

} // namespace tevrak::platform
