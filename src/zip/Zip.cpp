#include "zip/Zip.h"

#include "zip/DosTime.h"
#include "zip/MemberName.h"
#include "zip/Trash.h"
#include "zip/ZipFormat.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <zlib.h>

namespace tevrak {

namespace {

constexpr std::size_t BufferSize = 256 * 1024;
constexpr std::uint64_t FourGiB = 1ull << 32;
constexpr std::size_t SmallFileLimit = 257; // below this a file is stored when deflate would enlarge it
constexpr std::size_t MaxMembers = 0xFFFE;  // 0xFFFF in the end record would mean ZIP64
constexpr int MaxFolderDepth = 64;

// A failed write or flush of the new archive: the whole run fails.
struct WriteFailure : std::runtime_error {
    int code;
    WriteFailure(int error, const std::string& what) : std::runtime_error(what), code(error) {}
};

// A source file that could not be read to its end: that file is left out.
struct ReadFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset(int fd = -1)
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }
    int release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

std::string errorText(int code)
{
    return std::strerror(code);
}

std::string withSlashes(std::string path)
{
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

std::string folderOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string join(const std::string& folder, const std::string& name)
{
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// The attribute bits a directory scan on the workstation reports for a file.
std::uint32_t attributesOf(const std::string& name, const struct stat& st)
{
    std::uint32_t attrs = fs_attr::Archive;
    if (!(st.st_mode & S_IWUSR))
        attrs |= fs_attr::ReadOnly;
    if (!name.empty() && name[0] == '.')
        attrs |= fs_attr::Hidden;
    return attrs;
}

std::uint32_t attributesOfSet(std::uint32_t set)
{
    std::uint32_t attrs = 0;
    if (set & fsReadOnly)
        attrs |= fs_attr::ReadOnly;
    if (set & fsHidden)
        attrs |= fs_attr::Hidden;
    if (set & fsSysFile)
        attrs |= fs_attr::SysFile;
    if (set & fsVolumeID)
        attrs |= fs_attr::VolumeId;
    if (set & fsDirectory)
        attrs |= fs_attr::Directory;
    if (set & fsArchive)
        attrs |= fs_attr::Archive;
    if (set & fsCompressed)
        attrs |= fs_attr::Compressed;
    if (set & fsEncrypted)
        attrs |= fs_attr::Encrypted;
    return attrs;
}

std::uint8_t percent(std::uint64_t done, std::uint64_t total)
{
    if (total == 0)
        return 0;
    const double value = std::floor(100.0 * static_cast<double>(done) / static_cast<double>(total) + 0.5);
    return static_cast<std::uint8_t>(std::clamp(value, 0.0, 100.0));
}

// What identifies a source file as the one that was stored.
struct Identity {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    std::int64_t mtimeSec = 0;
    long mtimeNsec = 0;
    bool operator==(const Identity&) const = default;
};

Identity identityOf(const struct stat& st)
{
    return {st.st_dev, st.st_ino, st.st_size, static_cast<std::int64_t>(st.st_mtim.tv_sec),
            st.st_mtim.tv_nsec};
}

std::size_t readSome(int fd, unsigned char* buffer, std::size_t length)
{
    for (;;) {
        const ssize_t n = ::read(fd, buffer, length);
        if (n >= 0)
            return static_cast<std::size_t>(n);
        if (errno != EINTR)
            throw ReadFailure(errorText(errno));
    }
}

void writeAllAt(int fd, const unsigned char* data, std::size_t length, std::uint64_t offset)
{
    while (length > 0) {
        const ssize_t n = ::pwrite(fd, data, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw WriteFailure(n < 0 ? errno : EIO, "writing the archive: " + errorText(n < 0 ? errno : EIO));
        data += n;
        length -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
}

// Copies a byte range between two files, in the kernel where it can.
void copyRange(int in, std::uint64_t inOffset, int out, std::uint64_t outOffset, std::uint64_t length,
               std::vector<unsigned char>& buffer)
{
    bool kernelCopy = true;
    while (length > 0) {
        if (kernelCopy) {
            loff_t from = static_cast<loff_t>(inOffset), to = static_cast<loff_t>(outOffset);
            const ssize_t n =
                ::copy_file_range(in, &from, out, &to, std::min<std::uint64_t>(length, 1u << 30), 0);
            if (n > 0) {
                inOffset += static_cast<std::uint64_t>(n);
                outOffset += static_cast<std::uint64_t>(n);
                length -= static_cast<std::uint64_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == ENOSPC || errno == EDQUOT || errno == EFBIG || errno == EIO))
                throw WriteFailure(errno, "writing the archive: " + errorText(errno));
            kernelCopy = false; // not supported here (or a short source): copy through the buffer
        }
        if (buffer.empty())
            buffer.resize(BufferSize);
        const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(length, buffer.size()));
        const ssize_t n = ::pread(in, buffer.data(), chunk, static_cast<off_t>(inOffset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw WriteFailure(n < 0 ? errno : EIO,
                               "reading the old archive: " + errorText(n < 0 ? errno : EIO));
        writeAllAt(out, buffer.data(), static_cast<std::size_t>(n), outOffset);
        inOffset += static_cast<std::uint64_t>(n);
        outOffset += static_cast<std::uint64_t>(n);
        length -= static_cast<std::uint64_t>(n);
    }
}

// Starts writing a range of the new archive to disk without waiting for it,
// so that the flush that ends the run finds little left to do.
void startWriteback(int fd, std::uint64_t offset, std::uint64_t length)
{
    if (length > 0)
        ::sync_file_range(fd, static_cast<off_t>(offset), static_cast<off_t>(length), SYNC_FILE_RANGE_WRITE);
}

void syncFolder(const std::string& folder)
{
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir && ::fsync(dir.get()) != 0 && errno != EINVAL && errno != EROFS)
        throw WriteFailure(errno, "flushing the archive's folder: " + errorText(errno));
}

} // namespace

// What a TZip keeps between runs: the buffers and the zlib state, so that
// packing many files one run at a time allocates nothing new, and the last
// handle on the archive the latest run replaced.
class ZipWorkspace {
public:
    std::vector<unsigned char> input = std::vector<unsigned char>(BufferSize);
    std::vector<unsigned char> output = std::vector<unsigned char>(BufferSize);
    std::vector<unsigned char> write = std::vector<unsigned char>(BufferSize);
    z_stream stream{};

    ~ZipWorkspace()
    {
        if (level_ >= 0)
            ::deflateEnd(&stream);
    }

    // Raw deflate (no zlib header or trailer), 32 KiB window, memory level 8.
    void start(int level)
    {
        if (level_ == level) {
            ::deflateReset(&stream);
            return;
        }
        if (level_ >= 0)
            ::deflateEnd(&stream);
        level_ = -1;
        stream = z_stream{};
        if (::deflateInit2(&stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            throw std::runtime_error("zlib cannot start a deflate stream");
        level_ = level;
    }

    // The archive a run replaced stays open until it has been renamed over,
    // so that the rename is quick; closing that last handle frees the old
    // file's blocks, which takes milliseconds for a large archive. That
    // happens on a helper thread while the caller goes on (typically with
    // the next file's run); the next release, or the end of the TZip, waits
    // for it.
    void releaseReplaced(int fd)
    {
        if (closer_.joinable())
            closer_.join();
        closer_ = std::jthread([fd] { ::close(fd); });
    }

private:
    int level_ = -1;
    std::jthread closer_; // last member: joined before the rest goes
};

namespace {

// The new archive being written: appends through a buffer, and lets a
// member's local header be written again once its sizes are known.
class OutputFile {
public:
    // Appends from `start` on; the bytes before it are someone else's.
    OutputFile(int fd, std::vector<unsigned char>& buffer, std::uint64_t start)
        : fd_(fd), buffer_(buffer), flushed_(start)
    {
    }

    std::uint64_t position() const { return flushed_ + used_; }

    void write(const void* data, std::size_t length)
    {
        const auto* p = static_cast<const unsigned char*>(data);
        while (length > 0) {
            if (used_ == buffer_.size())
                flush();
            const std::size_t chunk = std::min(length, buffer_.size() - used_);
            std::memcpy(buffer_.data() + used_, p, chunk);
            used_ += chunk;
            p += chunk;
            length -= chunk;
        }
    }
    void write(const std::string& bytes) { write(bytes.data(), bytes.size()); }

    void flush()
    {
        writeAllAt(fd_, buffer_.data(), used_, flushed_);
        startWriteback(fd_, flushed_, used_);
        flushed_ += used_;
        used_ = 0;
    }

    void patch(std::uint64_t offset, const std::string& bytes)
    {
        if (offset >= flushed_) {
            std::memcpy(buffer_.data() + (offset - flushed_), bytes.data(), bytes.size());
            return;
        }
        flush();
        writeAllAt(fd_, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), offset);
    }

    void truncate(std::uint64_t offset)
    {
        if (offset >= flushed_) {
            used_ = static_cast<std::size_t>(offset - flushed_);
            return;
        }
        used_ = 0;
        flushed_ = offset;
        if (::ftruncate(fd_, static_cast<off_t>(offset)) != 0)
            throw WriteFailure(errno, "writing the archive: " + errorText(errno));
    }

    void copyFrom(int in, std::uint64_t offset, std::uint64_t length, std::vector<unsigned char>& scratch)
    {
        flush();
        copyRange(in, offset, fd_, flushed_, length, scratch);
        startWriteback(fd_, flushed_, length);
        flushed_ += length;
    }

private:
    int fd_;
    std::vector<unsigned char>& buffer_;
    std::uint64_t flushed_;
    std::size_t used_ = 0;
};

} // namespace

// One Compress run: the member list, the move list, the old archive and the
// temporary file live here and nowhere else.
class ZipRun {
public:
    ZipRun(TZip& zip, ZipWorkspace& work) : zip_(zip), work_(work) {}
    ~ZipRun()
    {
        if (!tempPath_.empty())
            ::unlink(tempPath_.c_str());
        if (!copyPath_.empty())
            ::unlink(copyPath_.c_str());
    }

    int execute();

private:
    enum class State { keep, compress, drop };

    struct Source {
        std::string path;
        std::string relativeName; // below the FileSpec entry's folder, "/" separated
        std::uint32_t attributes = 0;
        std::uint64_t size = 0;
        std::uint32_t dosDateTime = 0;
        dev_t dev = 0;
        ino_t ino = 0;
    };

    struct Member {
        State state = State::keep;
        int existing = -1;    // index into the old archive's members
        std::string nameUtf8; // for comparing names
        Source source;        // state compress
        zipname::StoredName stored;
        bool replacing = false; // a new file in place of an existing member: keep that one if it fails
        std::uint64_t newOffset = 0;
        std::string central; // the central header as written
    };

    struct MoveEntry {
        std::string path;
        Identity identity;
    };

    void error(const std::string& fileName, int code, const std::string& extended = {})
    {
        if (zip_.OnError)
            zip_.OnError(zip_, fileName, extended, std::string(), code);
    }
    void processMessages()
    {
        if (zip_.OnProcessMessages)
            zip_.OnProcessMessages(zip_);
    }
    void report(std::uint8_t byFile, std::uint8_t byArchive)
    {
        processMessages();
        if (zip_.OnProgress)
            zip_.OnProgress(zip_, byFile, byArchive);
    }

    std::string resolveArchivePath(const std::string& path) const;
    bool openOldArchive();
    void scanEntry(const std::string& entry);
    void scanFolder(const std::string& folder, const std::string& pattern, const std::string& prefix,
                    int depth);
    void consider(const std::string& path, const std::string& relativeName, const std::string& name,
                  const struct stat& st);
    bool taken(std::uint32_t attrs) const;
    int findMember(const std::string& nameUtf8) const;
    bool identical(const Member& member, const Source& source, Identity& identity);
    void resolveDuplicate(std::size_t index, const Source& source, const zipname::StoredName& stored);
    std::size_t liveMembers() const;

    void createTemporary(const std::string& folder, Fd& fd, std::string& path);
    void copyKept(Member& member, OutputFile& out);
    bool storeFile(Member& member, int count, OutputFile& out);
    bool fitsLimit(std::size_t index, const OutputFile& out) const;
    void install(Fd& temp);
    void removeSources();

    TZip& zip_;
    ZipWorkspace& work_;
    std::string archivePath_;
    std::string archiveFolder_;
    bool archiveExisted_ = false;
    struct stat archiveStat_ {};
    Fd oldFd_;
    zipfmt::ExistingArchive old_;
    std::vector<Member> members_;
    std::vector<MoveEntry> moves_;
    std::uint64_t runTotal_ = 0;
    std::uint64_t runDone_ = 0;
    int stored_ = 0;
    std::string tempPath_; // removed on the way out unless it became the archive
    std::string copyPath_;
};

std::string ZipRun::resolveArchivePath(const std::string& path) const
{
    struct stat st;
    if (::stat(path.c_str(), &st) == 0)
        return path;
    // The archive may exist under the same name in other letter case.
    const std::string folder = folderOf(path), name = nameOf(path);
    std::string found;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(dir)) {
            if (zipname::equalIgnoringCase(e->d_name, name)) {
                found = e->d_name;
                break;
            }
        }
        ::closedir(dir);
    }
    return found.empty() ? path : join(folder, found);
}

bool ZipRun::openOldArchive()
{
    if (::stat(archivePath_.c_str(), &archiveStat_) != 0) {
        archiveExisted_ = false;
        return true;
    }
    archiveExisted_ = true;
    if (!S_ISREG(archiveStat_.st_mode)) {
        error(archivePath_, zip_error::NotAnArchive, "not a regular file");
        return false;
    }
    oldFd_.reset(::open(archivePath_.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!oldFd_) {
        error(archivePath_, zip_error::OpenFile, errorText(errno));
        return false;
    }
    std::string reason;
    if (!zipfmt::readArchive(oldFd_.get(), static_cast<std::uint64_t>(archiveStat_.st_size), old_, reason)) {
        error(archivePath_, zip_error::NotAnArchive, reason);
        return false;
    }
    for (std::size_t i = 0; i < old_.members.size(); ++i) {
        const auto& m = old_.members[i];
        Member member;
        member.state = State::keep;
        member.existing = static_cast<int>(i);
        member.nameUtf8 = zipname::decode(m.name, m.fields.flags & zipfmt::FlagUtf8Name, zip_.OemCodePage);
        members_.push_back(std::move(member));
    }
    return true;
}

void ZipRun::scanEntry(const std::string& rawEntry)
{
    const std::string entry = withSlashes(rawEntry);
    const std::string pattern = nameOf(entry);
    if (pattern.empty())
        return;
    scanFolder(folderOf(entry), pattern, std::string(), 0);
}

void ZipRun::scanFolder(const std::string& folder, const std::string& pattern, const std::string& prefix,
                        int depth)
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(dir)) {
            if (e->d_name[0] != '.') // hidden files, "." and ".."
                names.emplace_back(e->d_name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const int c = ::strcasecmp(a.c_str(), b.c_str());
        return c != 0 ? c < 0 : a < b;
    });
    std::vector<std::string> folders;
    for (const auto& name : names) {
        const bool matches = zipname::wildcardMatch(pattern, name);
        if (!matches && !zip_.RecurseDirs)
            continue;
        const std::string path = join(folder, name);
        struct stat st;
        if (::stat(path.c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            struct stat link;
            if (zip_.RecurseDirs && depth < MaxFolderDepth && ::lstat(path.c_str(), &link) == 0 &&
                S_ISDIR(link.st_mode))
                folders.push_back(name);
            continue;
        }
        if (matches && S_ISREG(st.st_mode)) // never a pipe or a device: reading one could block
            consider(path, prefix + name, name, st);
    }
    for (const auto& sub : folders)
        scanFolder(join(folder, sub), pattern, prefix + sub + "/", depth + 1);
}

bool ZipRun::taken(std::uint32_t attrs) const
{
    const std::uint32_t plain = attrs & ~fs_attr::Normal;
    bool take;
    if (plain == 0)
        take = zip_.Attributes & fsZeroAttr;
    else
        take = (attrs & attributesOfSet(zip_.Attributes)) != 0 || (attrs & fs_attr::NotContentIndexed) != 0;
    return take && (attrs & attributesOfSet(zip_.AttributesEx)) == 0;
}

int ZipRun::findMember(const std::string& nameUtf8) const
{
    for (std::size_t i = 0; i < members_.size(); ++i)
        if (members_[i].state != State::drop && zipname::equalIgnoringCase(members_[i].nameUtf8, nameUtf8))
            return static_cast<int>(i);
    return -1;
}

std::size_t ZipRun::liveMembers() const
{
    return static_cast<std::size_t>(std::count_if(members_.begin(), members_.end(),
                                                  [](const Member& m) { return m.state != State::drop; }));
}

void ZipRun::consider(const std::string& path, const std::string& relativeName, const std::string& name,
                      const struct stat& st)
{
    if (archiveExisted_ && st.st_dev == archiveStat_.st_dev && st.st_ino == archiveStat_.st_ino)
        return; // the archive never goes into itself
    const std::uint32_t attrs = attributesOf(name, st);
    if (!taken(attrs))
        return;
    for (const auto& pattern : zip_.ExcludeSpec)
        if (zipname::wildcardMatch(pattern, name) || zipname::wildcardMatch(pattern, relativeName))
            return;
    if (static_cast<std::uint64_t>(st.st_size) >= FourGiB) {
        error(path, zip_error::FileTooLarge, "4 GiB or more");
        return;
    }
    Source source{
        path,      relativeName, attrs, static_cast<std::uint64_t>(st.st_size), dosDateTime(st.st_mtime),
        st.st_dev, st.st_ino};
    const auto stored = zipname::encode(relativeName, zip_.TranslateOemChar, zip_.OemCodePage);
    const int index = findMember(relativeName);
    if (index < 0) {
        if (liveMembers() >= MaxMembers) {
            error(path, zip_error::ArchiveTooLarge, "too many members");
            return;
        }
        Member member;
        member.state = State::compress;
        member.nameUtf8 = relativeName;
        member.source = std::move(source);
        member.stored = stored;
        members_.push_back(std::move(member));
        return;
    }
    Member& member = members_[static_cast<std::size_t>(index)];
    if (member.state == State::compress && member.source.dev == source.dev && member.source.ino == source.ino)
        return; // found twice by two FileSpec entries
    Identity identity;
    if (member.state == State::keep && !member.replacing && identical(member, source, identity)) {
        if (zip_.Switch == TSwitch::swMove)
            moves_.push_back({source.path, identity});
        return;
    }
    resolveDuplicate(static_cast<std::size_t>(index), source, stored);
}

// Same size, time and attributes as the member, and (read to be sure before
// the file may be removed) the same CRC-32.
bool ZipRun::identical(const Member& member, const Source& source, Identity& identity)
{
    const auto& old = old_.members[static_cast<std::size_t>(member.existing)];
    if (old.fields.size != source.size || old.fields.dosDateTime != source.dosDateTime ||
        old.externalAttributes != source.attributes)
        return false;
    Fd in(::open(source.path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat before, after;
    if (!in || ::fstat(in.get(), &before) != 0 || !S_ISREG(before.st_mode))
        return false;
    uLong crc = ::crc32(0, nullptr, 0);
    std::uint64_t total = 0;
    try {
        for (;;) {
            const std::size_t n = readSome(in.get(), work_.input.data(), work_.input.size());
            if (n == 0)
                break;
            crc = ::crc32_z(crc, work_.input.data(), n);
            total += n;
            processMessages();
        }
    } catch (const ReadFailure&) {
        return false;
    }
    if (::fstat(in.get(), &after) != 0 || !(identityOf(before) == identityOf(after)))
        return false;
    identity = identityOf(after);
    return total == old.fields.size && static_cast<std::uint32_t>(crc) == old.fields.crc;
}

// A new file whose stored name is already a member's, and whose content is
// not the member's: replaced only when the caller says so, else perhaps
// renamed; otherwise it is not stored, and it stays where it is.
void ZipRun::resolveDuplicate(std::size_t index, const Source& source, const zipname::StoredName& stored)
{
    Member& member = members_[index];
    bool replace = false;
    if (zip_.OnReplaceFile) {
        std::uint32_t date, attrs;
        std::uint64_t size;
        if (member.state == State::keep) {
            const auto& old = old_.members[static_cast<std::size_t>(member.existing)];
            date = old.fields.dosDateTime, size = old.fields.size, attrs = old.externalAttributes;
        } else {
            date = member.source.dosDateTime, size = member.source.size, attrs = member.source.attributes;
        }
        zip_.OnReplaceFile(zip_, member.nameUtf8, source.path, date, source.dosDateTime, size, source.size,
                           attrs, source.attributes, replace);
    } else {
        error(source.path, zip_error::EventNotAssigned, "OnReplaceFile");
    }
    if (replace) {
        if (member.existing >= 0)
            member.replacing = true;
        member.state = State::compress;
        member.source = source;
        member.stored = stored;
        member.nameUtf8 = source.relativeName;
        return;
    }
    if (zip_.OnRenameDupeFile) {
        std::string newName = source.relativeName;
        bool rename = false;
        zip_.OnRenameDupeFile(zip_, source.path, newName, rename);
        newName = withSlashes(newName);
        if (rename && !newName.empty() && findMember(newName) < 0 && liveMembers() < MaxMembers) {
            Member renamed;
            renamed.state = State::compress;
            renamed.nameUtf8 = newName;
            renamed.source = source;
            renamed.stored = zipname::encode(newName, zip_.TranslateOemChar, zip_.OemCodePage);
            members_.push_back(std::move(renamed));
        }
    }
}

void ZipRun::createTemporary(const std::string& folder, Fd& fd, std::string& path)
{
    // A hidden name that ends in random letters and digits: no upload mask
    // ("*.Zip", "*.Jpg", ...) matches it, and nothing scans it as a member.
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof letters) - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = ".tevrak-zip-";
        for (int i = 0; i < 8; ++i)
            name += letters[pick(random)];
        const std::string candidate = join(folder, name);
        const int handle = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (handle >= 0) {
            fd.reset(handle);
            path = candidate;
            return;
        }
        if (errno != EEXIST)
            throw WriteFailure(errno,
                               "creating the temporary archive in " + folder + ": " + errorText(errno));
    }
    throw WriteFailure(EEXIST, "no free temporary name in " + folder);
}

void ZipRun::copyKept(Member& member, OutputFile& out)
{
    const auto& old = old_.members[static_cast<std::size_t>(member.existing)];
    member.newOffset = out.position();
    out.copyFrom(oldFd_.get(), old.localOffset, old.span, work_.input);
    member.central = old.central;
    zipfmt::put32(reinterpret_cast<unsigned char*>(member.central.data()) + 42,
                  static_cast<std::uint32_t>(member.newOffset));
}

// Whether the archive, with member `index` written, still stays below the
// size limit once the members after it and the directory are added.
bool ZipRun::fitsLimit(std::size_t index, const OutputFile& out) const
{
    std::uint64_t needed = out.position() + zipfmt::EndRecordSize + old_.comment.size();
    for (std::size_t i = 0; i < members_.size(); ++i) {
        const Member& m = members_[i];
        if (m.state == State::drop)
            continue;
        if (m.state == State::keep || (i > index && m.replacing)) {
            const auto& old = old_.members[static_cast<std::size_t>(m.existing)];
            needed += old.central.size() + (i > index ? old.span : 0);
        } else {
            needed += zipfmt::CentralHeaderSize + m.stored.bytes.size();
        }
    }
    return needed <= zip_.sizeLimit_;
}

bool ZipRun::storeFile(Member& member, int count, OutputFile& out)
{
    const Source& source = member.source;
    if (zip_.OnBegin) {
        bool extract = true;
        zip_.OnBegin(zip_, source.path, count, extract);
        if (!extract)
            return false;
    }
    Fd in(::open(source.path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat st;
    if (!in || ::fstat(in.get(), &st) != 0) {
        error(source.path, zip_error::OpenFile, errorText(errno));
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error(source.path, zip_error::OpenFile, "not a regular file");
        return false;
    }
    if (static_cast<std::uint64_t>(st.st_size) >= FourGiB) {
        error(source.path, zip_error::FileTooLarge, "4 GiB or more");
        return false;
    }
    ::posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    const Identity before = identityOf(st);
    const std::uint64_t fileTotal = static_cast<std::uint64_t>(st.st_size);
    const std::string& name = member.stored.bytes;

    zipfmt::MemberFields fields;
    fields.dosDateTime = dosDateTime(st.st_mtime);
    const std::uint16_t nameFlag = member.stored.utf8 ? zipfmt::FlagUtf8Name : 0;

    int level = 6;
    std::uint16_t strength = 0;
    switch (zip_.DeflateType) {
    case TDeflateType::dtDeflateN:
        level = 6, strength = 0;
        break;
    case TDeflateType::dtDeflateX:
        level = 9, strength = 0x2;
        break;
    case TDeflateType::dtDeflateF:
        level = 2, strength = 0x4;
        break;
    case TDeflateType::dtDeflateS:
        level = 1, strength = 0x6;
        break;
    }
    bool deflate = zip_.CompressMethod == TCompressMethod::cmDeflate;
    if (deflate) {
        const std::string base = nameOf(source.relativeName);
        const auto dot = base.find_last_of('.');
        const std::string extension = dot == std::string::npos ? std::string() : base.substr(dot);
        for (const auto& type : zip_.StoreFilesOfType)
            if (!extension.empty() && zipname::equalIgnoringCase(type, extension))
                deflate = false;
    }

    member.newOffset = out.position();
    std::uint64_t fileDone = 0;
    const std::uint64_t runDoneBefore = runDone_;
    auto giveUp = [&](int code, const std::string& why) {
        out.truncate(member.newOffset);
        runDone_ = runDoneBefore;
        error(source.path, code, why);
        return false;
    };

    try {
        uLong crc = ::crc32(0, nullptr, 0);
        std::size_t have = 0;
        bool inHand = false;
        if (deflate) {
            // The first bytes decide: a file shorter than the limit is in hand
            // whole, and is stored when deflating would only enlarge it.
            while (have < SmallFileLimit) {
                const std::size_t n = readSome(in.get(), work_.input.data() + have, SmallFileLimit - have);
                if (n == 0)
                    break;
                have += n;
            }
            if (have < SmallFileLimit) {
                crc = ::crc32_z(crc, work_.input.data(), have);
                const unsigned char* data = work_.input.data();
                std::size_t dataSize = have;
                fields.method = zipfmt::MethodStored;
                fields.flags = nameFlag;
                if (have > 0) {
                    work_.start(level);
                    work_.stream.next_in = work_.input.data();
                    work_.stream.avail_in = static_cast<uInt>(have);
                    work_.stream.next_out = work_.output.data();
                    work_.stream.avail_out = static_cast<uInt>(work_.output.size());
                    if (::deflate(&work_.stream, Z_FINISH) != Z_STREAM_END)
                        throw std::runtime_error("zlib failed on a small file");
                    const std::size_t packed = work_.output.size() - work_.stream.avail_out;
                    if (packed <= have) {
                        fields.method = zipfmt::MethodDeflated;
                        fields.flags = static_cast<std::uint16_t>(nameFlag | strength);
                        data = work_.output.data();
                        dataSize = packed;
                    }
                }
                fields.crc = have > 0 ? static_cast<std::uint32_t>(crc) : 0;
                fields.compressedSize = static_cast<std::uint32_t>(dataSize);
                fields.size = static_cast<std::uint32_t>(have);
                out.write(zipfmt::localHeader(fields, name));
                out.write(data, dataSize);
                fileDone = have;
                runDone_ += have;
                report(percent(fileDone, fileTotal), percent(runDone_, runTotal_));
                inHand = true;
            }
        }

        if (!inHand) {
            fields.method = deflate ? zipfmt::MethodDeflated : zipfmt::MethodStored;
            fields.flags = static_cast<std::uint16_t>(nameFlag | (deflate ? strength : 0));
            out.write(zipfmt::localHeader(fields, name)); // provisional: CRC and sizes follow
            {
                const std::uint64_t dataStart = out.position();
                if (deflate)
                    work_.start(level);
                bool end = false;
                while (!end) {
                    if (have == 0) {
                        have = readSome(in.get(), work_.input.data(), work_.input.size());
                        end = have == 0;
                    }
                    if (have > 0) {
                        crc = ::crc32_z(crc, work_.input.data(), have);
                        fileDone += have;
                        runDone_ += have;
                        if (fileDone >= FourGiB)
                            return giveUp(zip_error::FileTooLarge, "grew to 4 GiB while it was read");
                        if (deflate) {
                            work_.stream.next_in = work_.input.data();
                            work_.stream.avail_in = static_cast<uInt>(have);
                            do {
                                work_.stream.next_out = work_.output.data();
                                work_.stream.avail_out = static_cast<uInt>(work_.output.size());
                                ::deflate(&work_.stream, Z_NO_FLUSH);
                                out.write(work_.output.data(), work_.output.size() - work_.stream.avail_out);
                            } while (work_.stream.avail_out == 0);
                        } else {
                            out.write(work_.input.data(), have);
                        }
                        have = 0;
                        if (out.position() > zip_.sizeLimit_)
                            return giveUp(zip_error::ArchiveTooLarge, "the archive would reach 4 GiB");
                        report(percent(fileDone, fileTotal), percent(runDone_, runTotal_));
                    }
                }
                if (deflate) {
                    int status;
                    do {
                        work_.stream.next_out = work_.output.data();
                        work_.stream.avail_out = static_cast<uInt>(work_.output.size());
                        status = ::deflate(&work_.stream, Z_FINISH);
                        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
                            throw std::runtime_error("zlib failed while deflating");
                        out.write(work_.output.data(), work_.output.size() - work_.stream.avail_out);
                    } while (status != Z_STREAM_END);
                } else if (fileDone == 0) {
                    report(0, percent(runDone_, runTotal_));
                }
                const std::uint64_t packed = out.position() - dataStart;
                if (packed >= FourGiB)
                    return giveUp(zip_error::ArchiveTooLarge, "the archive would reach 4 GiB");
                fields.crc = fileDone > 0 ? static_cast<std::uint32_t>(crc) : 0;
                fields.compressedSize = static_cast<std::uint32_t>(packed);
                fields.size = static_cast<std::uint32_t>(fileDone);
                out.patch(member.newOffset, zipfmt::localHeader(fields, name));
            }
        }
    } catch (const ReadFailure& failure) {
        return giveUp(zip_error::ReadFile, failure.what());
    }

    if (!fitsLimit(static_cast<std::size_t>(&member - members_.data()), out))
        return giveUp(zip_error::ArchiveTooLarge, "the archive would reach 4 GiB");
    member.central =
        zipfmt::centralHeader(fields, name, source.attributes, static_cast<std::uint32_t>(member.newOffset));
    ++stored_;
    struct stat now;
    const bool unchanged = ::fstat(in.get(), &now) == 0 && identityOf(now) == before;
    if (!unchanged)
        error(source.path, zip_error::ChangedWhileStored, "the file changed while it was stored; it is kept");
    else if (zip_.Switch == TSwitch::swMove)
        moves_.push_back({source.path, before});
    return true;
}

// Flushes the finished temporary file and renames it over the archive, then
// flushes the folder, so that after a crash the archive path holds either
// the old archive or the whole new one.
void ZipRun::install(Fd& temp)
{
    if (archiveExisted_)
        ::fchmod(temp.get(), archiveStat_.st_mode & 07777);
    if (::fsync(temp.get()) != 0)
        throw WriteFailure(errno, "flushing the archive: " + errorText(errno));
    std::string ready = tempPath_;
    struct stat tempStat, folderStat;
    if (::fstat(temp.get(), &tempStat) == 0 && ::stat(archiveFolder_.c_str(), &folderStat) == 0 &&
        tempStat.st_dev != folderStat.st_dev) {
        // Built on another file system: copy it beside the archive first.
        Fd copy;
        createTemporary(archiveFolder_, copy, copyPath_);
        if (archiveExisted_)
            ::fchmod(copy.get(), archiveStat_.st_mode & 07777);
        copyRange(temp.get(), 0, copy.get(), 0, static_cast<std::uint64_t>(tempStat.st_size), work_.input);
        if (::fsync(copy.get()) != 0)
            throw WriteFailure(errno, "flushing the archive: " + errorText(errno));
        if (::close(copy.release()) != 0)
            throw WriteFailure(errno, "closing the archive: " + errorText(errno));
        ready = copyPath_;
    }
    if (::close(temp.release()) != 0)
        throw WriteFailure(errno, "closing the archive: " + errorText(errno));
    if (::rename(ready.c_str(), archivePath_.c_str()) != 0)
        throw WriteFailure(errno, "putting the archive in place: " + errorText(errno));
    if (ready == copyPath_)
        copyPath_.clear();
    else
        tempPath_.clear();
    syncFolder(archiveFolder_);
    if (oldFd_)
        work_.releaseReplaced(oldFd_.release());
}

// Move mode: the files now held by the archive go to the trash, each only if
// it is still the very file that was stored.
void ZipRun::removeSources()
{
    if (zip_.Switch != TSwitch::swMove || moves_.empty())
        return;
    struct stat st;
    if (::stat(archivePath_.c_str(), &st) != 0)
        return;
    report(0, 0);
    const int maxCount = static_cast<int>(moves_.size());
    int count = 0;
    for (const auto& move : moves_) {
        ++count;
        struct stat now;
        if (::stat(move.path.c_str(), &now) != 0)
            continue; // gone already
        if (!(identityOf(now) == move.identity)) {
            error(move.path, zip_error::ChangedWhileStored,
                  "the file changed after it was stored; it is kept");
            continue;
        }
        std::string reason;
        const bool removed =
            zip_.RemoveToTrash ? zip_.RemoveToTrash(move.path, reason) : moveToTrash(move.path, reason);
        if (!removed) {
            error(move.path, zip_error::Trash, reason);
            continue;
        }
        if (zip_.OnDeleteFile)
            zip_.OnDeleteFile(zip_, move.path, count, maxCount);
    }
}

int ZipRun::execute()
{
    archivePath_ = resolveArchivePath(zip_.ArchiveFile());
    archiveFolder_ = folderOf(archivePath_);
    struct stat folder;
    if (zip_.ArchiveFile().empty() || ::stat(archiveFolder_.c_str(), &folder) != 0 ||
        !S_ISDIR(folder.st_mode)) {
        error(zip_.ArchiveFile(), zip_error::InvalidDirectory);
        return 0;
    }
    if (!openOldArchive())
        return 0;

    const std::vector<std::string> specs = zip_.FileSpec;
    for (const auto& entry : specs)
        scanEntry(entry);

    runTotal_ = 0;
    for (const auto& m : members_)
        if (m.state == State::compress)
            runTotal_ += m.source.size;
    if (std::none_of(members_.begin(), members_.end(),
                     [](const Member& m) { return m.state == State::compress; })) {
        error(archivePath_, zip_error::NothingToDo);
        oldFd_.reset();
        removeSources();
        return 0;
    }

    try {
        Fd temp;
        createTemporary(zip_.TempDir.empty() ? archiveFolder_ : withSlashes(zip_.TempDir), temp, tempPath_);

        // The members kept ahead of the first new file have their places in
        // the new archive already: a helper thread copies them (in the kernel,
        // and starts writing them to disk) while the new files are deflated
        // behind them. It touches only the two files, never an event.
        struct Copy {
            std::uint64_t from, to, length;
        };
        std::vector<Copy> copies;
        std::uint64_t prefixEnd = 0;
        std::size_t first = 0;
        for (; first < members_.size() && members_[first].state == State::keep; ++first) {
            Member& m = members_[first];
            const auto& old = old_.members[static_cast<std::size_t>(m.existing)];
            m.newOffset = prefixEnd;
            m.central = old.central;
            zipfmt::put32(reinterpret_cast<unsigned char*>(m.central.data()) + 42,
                          static_cast<std::uint32_t>(m.newOffset));
            copies.push_back({old.localOffset, prefixEnd, old.span});
            prefixEnd += old.span;
        }
        std::exception_ptr copyFailure;
        std::jthread copier; // declared after `temp`: joined before the file is closed
        if (!copies.empty()) {
            copier = std::jthread([&copies, &copyFailure, in = oldFd_.get(), to = temp.get()] {
                try {
                    std::vector<unsigned char> scratch;
                    for (const Copy& c : copies) {
                        copyRange(in, c.from, to, c.to, c.length, scratch);
                        startWriteback(to, c.to, c.length);
                    }
                } catch (...) {
                    copyFailure = std::current_exception();
                }
            });
        }
        OutputFile out(temp.get(), work_.write, prefixEnd);
        for (std::size_t i = first; i < members_.size(); ++i) {
            Member& m = members_[i];
            if (m.state == State::keep) {
                copyKept(m, out);
            } else if (m.state == State::compress) {
                if (storeFile(m, static_cast<int>(i + 1), out))
                    continue;
                m.state = m.replacing ? State::keep : State::drop;
                if (m.state == State::keep)
                    copyKept(m, out);
            }
        }
        if (copier.joinable())
            copier.join();
        if (copyFailure)
            std::rethrow_exception(copyFailure);
        if (stored_ == 0) {
            removeSources();
            return 0;
        }
        report(0, 0);
        const std::uint64_t centralOffset = out.position();
        std::size_t entries = 0;
        for (const auto& m : members_) {
            if (m.state == State::drop)
                continue;
            out.write(m.central);
            ++entries;
        }
        const std::uint64_t centralSize = out.position() - centralOffset;
        if (out.position() + zipfmt::EndRecordSize + old_.comment.size() > zip_.sizeLimit_) {
            error(archivePath_, zip_error::ArchiveTooLarge, "the archive would reach 4 GiB");
            return 0;
        }
        out.write(zipfmt::endRecord(static_cast<std::uint16_t>(entries),
                                    static_cast<std::uint32_t>(centralSize),
                                    static_cast<std::uint32_t>(centralOffset), old_.comment));
        out.flush();
        install(temp);
    } catch (const WriteFailure& failure) {
        const bool full = failure.code == ENOSPC || failure.code == EDQUOT;
        error(archivePath_, full ? zip_error::DiskFull : zip_error::WriteArchive, failure.what());
        return 0;
    }
    removeSources();
    return stored_;
}

TZip::TZip() = default;
TZip::~TZip() = default;

void TZip::SetArchiveFile(const std::string& path)
{
    archiveFile_ = withSlashes(path);
    const std::string name = nameOf(archiveFile_);
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
