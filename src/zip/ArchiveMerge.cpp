#include "zip/ArchiveMerge.h"

#include "zip/FileIo.h"
#include "zip/ZipFormat.h"

#include <cerrno>
#include <fcntl.h>
#include <set>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace tevrak {

namespace {

bool readWhole(const std::string& path, const zipio::Fd& file, zipfmt::ExistingArchive& archive,
               std::string& reason)
{
    struct stat st {};
    if (!file || ::fstat(file.get(), &st) != 0) {
        reason = path + ": " + zipio::errorText(errno);
        return false;
    }
    if (!zipfmt::readArchive(file.get(), static_cast<std::uint64_t>(st.st_size), archive, reason)) {
        reason = path + ": " + reason;
        return false;
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
    const zipio::Fd theirFile(::open(theirs.c_str(), O_RDONLY | O_CLOEXEC));
    const zipio::Fd ourFile(::open(ours.c_str(), O_RDONLY | O_CLOEXEC));
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

    const zipio::Fd out(::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!out) {
        reason = output + ": " + zipio::errorText(errno);
        return ArchiveMerge::Failed;
    }
    try {
        std::uint64_t offset = 0;
        std::string central;
        std::vector<unsigned char> buffer;
        for (const Source& source : sources) {
            if (offset + source.member->span > 0xFFFFFFFFull)
                throw std::length_error("the combined archive would reach 4 GiB");
            central += zipfmt::movedCentralHeader(source.member->central, static_cast<std::uint32_t>(offset));
            zipio::copyRange(source.fd, source.member->localOffset, out.get(), offset, source.member->span,
                             buffer);
            offset += source.member->span;
        }
        const std::string end = zipfmt::endRecord(static_cast<std::uint16_t>(sources.size()),
                                                  static_cast<std::uint32_t>(central.size()),
                                                  static_cast<std::uint32_t>(offset), ourArchive.comment);
        if (offset + central.size() + end.size() > 0xFFFFFFFFull)
            throw std::length_error("the combined archive would reach 4 GiB");
        const std::string directory = central + end;
        zipio::writeAllAt(out.get(), reinterpret_cast<const unsigned char*>(directory.data()),
                          directory.size(), offset);
        zipio::flushFile(out.get());
    } catch (const std::exception& failed) {
        reason = output + ": " + failed.what();
        ::unlink(output.c_str());
        return ArchiveMerge::Failed;
    }
    return ArchiveMerge::Merged;
}

} // namespace tevrak
