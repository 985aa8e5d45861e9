#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tevrak {

// A member of an archive as a listing shows it.
struct ListedMember {
    std::string name;       // UTF-8: from the OEM code page, unless the member is flagged UTF-8
    std::uint32_t crc = 0;  // CRC-32 of the member's contents
    std::uint32_t size = 0; // the contents' size
};

enum class ArchiveListing { Listed, Missing, Unreadable };

// The members of the archive at `path`, read as TZip reads an archive it adds
// to (zipfmt::readArchive): an archive this listing cannot read is one the
// writer refuses to add to. Missing when nothing is at the path; Unreadable,
// with the reason, when something is there that cannot be read as an archive.
ArchiveListing listArchive(const std::string& path, const std::string& oemCodePage,
                           std::vector<ListedMember>& members, std::string& reason);

} // namespace tevrak
