#pragma once

#include "zip/FileIo.h"

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tevrak::zipio {

// The new archive while it is written: a hidden file that nothing takes for a
// member or an upload, removed when this object goes unless it was put in
// place. Putting it in place flushes it, renames it over the archive and
// flushes the folder, so that after a crash the archive path holds either the
// old archive or the whole new one.
class TemporaryArchive {
public:
    // Creates the file in `folder`. Throws WriteFailure.
    explicit TemporaryArchive(const std::string& folder);
    ~TemporaryArchive();
    TemporaryArchive(const TemporaryArchive&) = delete;
    TemporaryArchive& operator=(const TemporaryArchive&) = delete;

    int fd() const { return fd_.get(); }

    // Replaces the archive at `archivePath` (in `archiveFolder`) with this
    // file, giving it `mode` when set. A file built on another file system is
    // first copied beside the archive (through `scratch`) and flushed. Closes
    // the file. Throws WriteFailure.
    void installAs(const std::string& archivePath, const std::string& archiveFolder,
                   std::optional<mode_t> mode, std::vector<unsigned char>& scratch);

private:
    Fd fd_;
    std::string path_;     // removed on the way out unless it became the archive
    std::string copyPath_; // the copy beside the archive, likewise
};

} // namespace tevrak::zipio
