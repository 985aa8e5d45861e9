#include "zip/ArchiveListing.h"

#include "zip/FileIo.h"
#include "zip/MemberName.h"
#include "zip/ZipFormat.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace tevrak {

ArchiveListing listArchive(const std::string& path, const std::string& oemCodePage,
                           std::vector<ListedMember>& members, std::string& reason)
{
    members.clear();
    zipio::Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd) {
        if (errno == ENOENT)
            return ArchiveListing::Missing;
        reason = zipio::errorText(errno);
        return ArchiveListing::Unreadable;
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) {
        reason = zipio::errorText(errno);
        return ArchiveListing::Unreadable;
    }
    if (!S_ISREG(st.st_mode)) {
        reason = "not a regular file";
        return ArchiveListing::Unreadable;
    }
    zipfmt::ExistingArchive archive;
    if (!zipfmt::readArchive(fd.get(), static_cast<std::uint64_t>(st.st_size), archive, reason))
        return ArchiveListing::Unreadable;
    members.reserve(archive.members.size());
    for (const zipfmt::ExistingMember& member : archive.members)
        members.push_back(
            {zipname::decode(member.name, member.fields.flags & zipfmt::FlagUtf8Name, oemCodePage),
             member.fields.crc, member.fields.size});
    return ArchiveListing::Listed;
}

} // namespace tevrak
