#include "zip/Zip.h"

#include "zip/FileIo.h"
#include "zip/ZipRun.h"
#include "zip/ZipWorkspace.h"

namespace tevrak {

TZip::TZip() = default;
TZip::~TZip() = default;

void TZip::SetArchiveFile(const std::string& path)
{
    archiveFile_ = zipio::withSlashes(path);
    const std::string name = zipio::nameOf(archiveFile_);
    if (!archiveFile_.empty() && name.find('.') == std::string::npos)
        archiveFile_ += DefaultExt;
}

int TZip::Compress()
{
    if (running_) {
        if (OnError)
            OnError(*this, archiveFile_, "Compress is already running", std::string(), zip_error::Busy);
        return 0;
    }
    running_ = true;
    int result = 0;
    try {
        if (!workspace_)
            workspace_ = std::make_unique<ZipWorkspace>();
        ZipRun run(*this, *workspace_);
        result = run.execute();
    } catch (const std::exception& failure) {
        // Anything else (an event handler that threw, zlib out of memory):
        // the run ends, the temporary file is gone, nothing was removed.
        try {
            if (OnError)
                OnError(*this, archiveFile_, failure.what(), std::string(), zip_error::WriteArchive);
        } catch (...) {
        }
        result = 0;
    } catch (...) {
        result = 0;
    }
    running_ = false;
    return result;
}

std::string TZip::ErrorMessage(int eCode)
{
    switch (eCode) {
    case zip_error::InvalidDirectory:
        return "Invalid directory";
    case zip_error::DiskFull:
        return "Disk full";
    case zip_error::OpenFile:
        return "Error opening file";
    case zip_error::NothingToDo:
        return "Nothing to do";
    case zip_error::EventNotAssigned:
        return "Required event not assigned";
    case zip_error::NotAnArchive:
        return "The file at the archive path is not a readable ZIP archive; it was left unchanged";
    case zip_error::FileTooLarge:
        return "File too large for a ZIP archive (4 GiB or more); it was left out";
    case zip_error::ArchiveTooLarge:
        return "The archive would reach the ZIP limit of 4 GiB or 65535 members";
    case zip_error::WriteArchive:
        return "Error writing the archive; the archive was left unchanged";
    case zip_error::ReadFile:
        return "Error reading file";
    case zip_error::Busy:
        return "The archive writer is already running";
    case zip_error::Trash:
        return "The file could not be moved to the trash; it was left in place";
    case zip_error::ChangedWhileStored:
        return "The file changed while it was stored; it was left in place";
    default:
        return "Unknown error " + std::to_string(eCode);
    }
}

std::vector<std::string> TZip::DefaultStoreFilesOfType()
{
    return {".ACE", ".ARC", ".ARJ", ".BH",  ".CAB", ".ENC", ".GZ", ".HA",  ".JAR", ".LHA", ".LZH", ".PAK",
            ".PK3", ".PK_", ".RAR", ".TAR", ".TGZ", ".UUE", ".UU", ".WAR", ".XXE", ".Z",   ".ZIP", ".ZOO"};
}

} // namespace tevrak
