#include "zip/TemporaryArchive.h"

#include <cerrno>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace tevrak::zipio {

namespace {

// A hidden name that ends in random letters and digits: no upload mask
// ("*.Zip", "*.Jpg", ...) matches it, and nothing scans it as a member.
void createHidden(const std::string& folder, Fd& fd, std::string& path)
{
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

void closeChecked(Fd& fd)
{
    if (::close(fd.release()) != 0)
        throw WriteFailure(errno, "closing the archive: " + errorText(errno));
}

// The size of the file open on `fd` when it lies on another file system
// than `folder`.
std::optional<std::uint64_t> sizeIfElsewhere(int fd, const std::string& folder)
{
    struct stat fileStat, folderStat;
    if (::fstat(fd, &fileStat) == 0 && ::stat(folder.c_str(), &folderStat) == 0 &&
        fileStat.st_dev != folderStat.st_dev)
        return static_cast<std::uint64_t>(fileStat.st_size);
    return std::nullopt;
}

} // namespace

TemporaryArchive::TemporaryArchive(const std::string& folder)
{
    createHidden(folder, fd_, path_);
}

TemporaryArchive::~TemporaryArchive()
{
    fd_.reset();
    if (!path_.empty())
        ::unlink(path_.c_str());
    if (!copyPath_.empty())
        ::unlink(copyPath_.c_str());
}

void TemporaryArchive::installAs(const std::string& archivePath, const std::string& archiveFolder,
                                 std::optional<mode_t> mode, std::vector<unsigned char>& scratch)
{
    if (mode)
        ::fchmod(fd_.get(), *mode);
    flushFile(fd_.get());
    std::string* ready = &path_;
    if (const auto size = sizeIfElsewhere(fd_.get(), archiveFolder)) {
        Fd copy;
        createHidden(archiveFolder, copy, copyPath_);
        if (mode)
            ::fchmod(copy.get(), *mode);
        copyRange(fd_.get(), 0, copy.get(), 0, *size, scratch);
        flushFile(copy.get());
        closeChecked(copy);
        ready = &copyPath_;
    }
    closeChecked(fd_);
    if (::rename(ready->c_str(), archivePath.c_str()) != 0)
        throw WriteFailure(errno, "putting the archive in place: " + errorText(errno));
    ready->clear();
    syncFolder(archiveFolder);
}

} // namespace tevrak::zipio
