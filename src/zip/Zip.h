#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tevrak {

class ZipWorkspace;
class ZipRun;

// Error codes announced through TZip::OnError. The first five are the codes
// the component has always used; the others name failures that it reports on
// top of them (the archive and the source files stay as they were).
namespace zip_error {
inline constexpr int InvalidDirectory = 25158;   // "Invalid directory"
inline constexpr int DiskFull = 25160;           // "Disk full"
inline constexpr int OpenFile = 25235;           // "Error opening file"
inline constexpr int NothingToDo = 25268;        // "Nothing to do"
inline constexpr int EventNotAssigned = 25270;   // "Required event not assigned"
inline constexpr int NotAnArchive = 26001;       // the file at the archive path is not a readable ZIP archive
inline constexpr int FileTooLarge = 26002;       // a file of 4 GiB or more
inline constexpr int ArchiveTooLarge = 26003;    // the archive would reach 4 GiB or 65535 members
inline constexpr int WriteArchive = 26004;       // writing the new archive failed
inline constexpr int ReadFile = 26005;           // reading a source file failed half-way
inline constexpr int Busy = 26006;               // Compress called again while a run is going on
inline constexpr int Trash = 26007;              // a stored source file could not be moved to the trash
inline constexpr int ChangedWhileStored = 26008; // a source file changed while it was stored; it is kept
} // namespace zip_error

enum class TArcType { atZip };
enum class TSwitch { swAdd, swMove };
enum class TCompressMethod { cmStore, cmDeflate };
// Deflate strength: normal (level 6), maximum (9), fast (2), super fast (1);
// written into the general-purpose flag bits 1 and 2 as the format defines.
enum class TDeflateType { dtDeflateN, dtDeflateX, dtDeflateF, dtDeflateS };

// File attribute bits as the directory scan reports them (the FAT/NTFS
// attribute convention stored in the ZIP external attributes). On this
// platform a regular file carries fsArchive, plus fsReadOnly when its owner
// cannot write it, plus fsHidden when its name begins with ".".
namespace fs_attr {
inline constexpr std::uint32_t ReadOnly = 0x01;
inline constexpr std::uint32_t Hidden = 0x02;
inline constexpr std::uint32_t SysFile = 0x04;
inline constexpr std::uint32_t VolumeId = 0x08;
inline constexpr std::uint32_t Directory = 0x10;
inline constexpr std::uint32_t Archive = 0x20;
inline constexpr std::uint32_t Normal = 0x80;
inline constexpr std::uint32_t Compressed = 0x800;
inline constexpr std::uint32_t NotContentIndexed = 0x2000;
inline constexpr std::uint32_t Encrypted = 0x4000;
} // namespace fs_attr

// Members of the Attributes / AttributesEx sets.
enum TFileAttr : std::uint32_t {
    fsZeroAttr = 1u << 0,
    fsReadOnly = 1u << 1,
    fsHidden = 1u << 2,
    fsSysFile = 1u << 3,
    fsVolumeID = 1u << 4,
    fsDirectory = 1u << 5,
    fsArchive = 1u << 6,
    fsCompressed = 1u << 7,
    fsEncrypted = 1u << 8,
};

// Removes a file so that the user can restore it (the desktop trash).
// Returns true on success; on failure fills the reason.
using TTrashFunction = std::function<bool(const std::string& path, std::string& reason)>;

// Adds files to a ZIP archive on a local disk, creating the archive when it
// does not exist yet; in move mode it then moves each stored source file to
// the trash. One operation: set the archive, fill FileSpec, call Compress.
//
// The new archive is always built in a hidden temporary file beside the
// archive, flushed to disk and renamed over it, so the archive path holds
// either the old archive or the complete new one. Source files are removed
// only after the archive holding them is in place.
class TZip {
public:
    TZip();
    ~TZip();
    TZip(const TZip&) = delete;
    TZip& operator=(const TZip&) = delete;

    // Settings, with the component's defaults (the photo packaging form
    // keeps them all but Switch, which it sets to swMove).
    TArcType ArcType = TArcType::atZip;
    std::vector<std::string> FileSpec; // paths whose last part may hold * and ?
    TSwitch Switch = TSwitch::swAdd;
    TCompressMethod CompressMethod = TCompressMethod::cmDeflate;
    TDeflateType DeflateType = TDeflateType::dtDeflateN;
    std::vector<std::string> StoreFilesOfType = DefaultStoreFilesOfType();
    std::uint32_t Attributes = fsZeroAttr | fsReadOnly | fsArchive | fsCompressed | fsEncrypted;
    std::uint32_t AttributesEx = 0;
    std::vector<std::string> ExcludeSpec; // name patterns never stored
    bool RecurseDirs = false;
    bool TranslateOemChar = true;
    std::string OemCodePage = "CP874"; // the OEM code page of a Thai workstation
    // Folder of the temporary file; empty means the archive's own folder. A
    // temporary file on another file system is copied beside the archive
    // (and flushed) before the rename.
    std::string TempDir;
    std::string DefaultExt = ".zip";

    // The archive path. "\" becomes "/"; a path without an extension gets
    // DefaultExt. A last component that exists in another letter case is
    // taken as it is on disk.
    void SetArchiveFile(const std::string& path);
    const std::string& ArchiveFile() const { return archiveFile_; }

    // Events, called on the caller's thread.
    std::function<void(TZip& sender, const std::string& fileName, int count, bool& extract)> OnBegin;
    std::function<void(TZip& sender, std::uint8_t byFile, std::uint8_t byArchive)> OnProgress;
    // Called before every progress report: the caller lets its window repaint
    // and handle pending events here.
    std::function<void(TZip& sender)> OnProcessMessages;
    std::function<void(TZip& sender, const std::string& fileName, const std::string& extendedMsg,
                       const std::string& volumeId, int eCode)>
        OnError;
    // Dates are DOS date (high word) and time (low word).
    std::function<void(TZip& sender, const std::string& fileName, const std::string& newFileName,
                       std::uint32_t date, std::uint32_t newDate, std::uint64_t fileSize,
                       std::uint64_t newFileSize, std::uint32_t attr, std::uint32_t newAttr, bool& replace)>
        OnReplaceFile;
    std::function<void(TZip& sender, const std::string& fileName, std::string& newFileName, bool& rename)>
        OnRenameDupeFile;
    std::function<void(TZip& sender, const std::string& fileName, int count, int maxCount)> OnDeleteFile;

    // How move mode removes a stored source file; the default moves it into
    // the freedesktop trash ($XDG_DATA_HOME/Trash) so it can be restored.
    TTrashFunction RemoveToTrash;

    // Runs one update of the archive and returns the number of files stored
    // in it; 0 when nothing was stored or the run failed. Never throws.
    int Compress();

    static std::string ErrorMessage(int eCode);
    static std::vector<std::string> DefaultStoreFilesOfType();

    // Largest archive this writer produces (the format's 32-bit limit); tests
    // lower it to exercise the refusal without writing gigabytes.
    void SetArchiveSizeLimitForTesting(std::uint64_t bytes) { sizeLimit_ = bytes; }

private:
    friend class ZipRun;
    std::string archiveFile_;
    std::uint64_t sizeLimit_ = 0xFFFFFFFFull;
    bool running_ = false;
    std::unique_ptr<ZipWorkspace> workspace_; // buffers, zlib state and the like, kept between runs
};

} // namespace tevrak
