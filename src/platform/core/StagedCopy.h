#pragma once

#include <QString>

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
    // Removes the committed target again (undoing commit), or the temporary file.
    void discard();

    const QString& target() const { return m_target; }

private:
    QString m_temporary;
    QString m_target;
    bool m_committed = false;
};

// Flushes a folder's entries (after a rename or a removal) to disk.
void syncFolder(const QString& localFolder);

// Puts a finished file in place of `localTarget` in one step (a file of that
// name is replaced, never missing in between) and flushes the folder. Raises
// Error naming both files when the rename fails.
void renameOver(const QString& localFile, const QString& localTarget);

} // namespace tevrak::platform
