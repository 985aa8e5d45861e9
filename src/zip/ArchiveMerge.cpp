#include "zip/ArchiveMerge.h"

#include "zip/ZipFormat.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace tevrak {

namespace {

class File {
public:
    File(const std::string& path, int flags) : fd_(::open(path.c_str(), flags | O_CLOEXEC, 0666)) {}
    ~File()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_;
};

bool readWhole(const std::string& path, File& file, zipfmt::ExistingArchive& archive, std::string& reason)
{
    struct stat st {};
    if (!file || ::fstat(file.get(), &st) != 0) {
        reason = path + ": " + std::strerror(errno);
        return false;
    }
    if (!zipfmt::readArchive(file.get(), static_cast<std::uint64_t>(st.st_size), archive, reason)) {
        reason = path + ": " + reason;
        return false;
    }
    return true;
}

bool writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool copyRange(int from, std::uint64_t offset, std::uint64_t length, int to)
{
    char buffer[1 << 16];
    while (length > 0) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(length, sizeof buffer));
        const ssize_t n = ::pread(from, buffer, want, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || !writeAll(to, buffer, static_cast<std::size_t>(n)))
            return false;
        offset += static_cast<std::uint64_t>(n);
        length -= static_cast<std::uint64_t>(n);
    }
    return true;
}

struct Source {
    int fd;
    const zipfmt::ExistingMember* member;
};

} // namespace

ArchiveMerge mergeArchives(const std::string& theirs, const std::string& ours, const std::string& output,
                           std::string& reason)
{
    File theirFile(theirs, O_RDONLY);
    File ourFile(ours, O_RDONLY);
    zipfmt::ExistingArchive theirArchive, ourArchive;
    if (!readWhole(theirs, theirFile, theirArchive, reason))
        return ArchiveMerge::TheirsUnreadable;
    if (!readWhole(ours, ourFile, ourArchive, reason))
        return ArchiveMerge::Failed;

    std::set<std::string> ourNames;
    for (const auto& member : ourArchive.members)
        ourNames.insert(member.name);
    std::vector<Source> sources;
    for (const auto& member : theirArchive.members)
        if (ourNames.count(member.name) == 0)
            sources.push_back({theirFile.get(), &member});
    for (const auto& member : ourArchive.members)
        sources.push_back({ourFile.get(), &member});
    if (sources.size() > 0xFFFF) {
        reason = "the combined archive would have more than 65535 members";
        return ArchiveMerge::Failed;
    }

    File out(output, O_WRONLY | O_CREAT | O_TRUNC);
    if (!out) {
        reason = output + ": " + std::strerror(errno);
        return ArchiveMerge::Failed;
    }
    std::uint64_t offset = 0;
    std::string central;
    bool ok = true;
    for (const Source& source : sources) {
        if (offset + source.member->span > 0xFFFFFFFFull) {
            ok = false;
            reason = "the combined archive would reach 4 GiB";
            break;
        }
        central += zipfmt::movedCentralHeader(source.member->central, static_cast<std::uint32_t>(offset));
        if (!copyRange(source.fd, source.member->localOffset, source.member->span, out.get())) {
            ok = false;
            reason = output + ": " + std::strerror(errno);
            break;
        }
        offset += source.member->span;
    }
    if (ok) {
        const std::string end = zipfmt::endRecord(static_cast<std::uint16_t>(sources.size()),
                                                  static_cast<std::uint32_t>(central.size()),
                                                  static_cast<std::uint32_t>(offset), ourArchive.comment);
        if (offset + central.size() + end.size() > 0xFFFFFFFFull) {
            ok = false;
            reason = "the combined archive would reach 4 GiB";
        } else if (!writeAll(out.get(), central.data(), central.size()) ||
                   !writeAll(out.get(), end.data(), end.size()) || ::fsync(out.get()) != 0) {
            ok = false;
            reason = output + ": " + std::strerror(errno);
        }
    }
    if (!ok) {
        ::unlink(output.c_str());
        return ArchiveMerge::Failed;
    }
    return ArchiveMerge::Merged;
}

} // namespace tevrak
