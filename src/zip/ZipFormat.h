#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tevrak::zipfmt {

inline constexpr std::uint32_t LocalSignature = 0x04034b50;
inline constexpr std::uint32_t CentralSignature = 0x02014b50;
inline constexpr std::uint32_t EndSignature = 0x06054b50;
inline constexpr std::uint32_t Zip64LocatorSignature = 0x07064b50;
inline constexpr std::uint32_t DescriptorSignature = 0x08074b50;
inline constexpr std::size_t LocalHeaderSize = 30;
inline constexpr std::size_t CentralHeaderSize = 46;
inline constexpr std::size_t EndRecordSize = 22;
// Where a central header holds its member's local header offset.
inline constexpr std::size_t CentralLocalOffsetAt = 42;
inline constexpr std::uint16_t VersionWritten = 20;   // version made by and needed to extract
inline constexpr std::uint16_t FlagUtf8Name = 0x0800; // general-purpose bit 11
inline constexpr std::uint16_t FlagDescriptor = 0x0008;
inline constexpr std::uint16_t MethodStored = 0;
inline constexpr std::uint16_t MethodDeflated = 8;

inline std::uint16_t get16(const unsigned char* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t get32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void put16(unsigned char* p, std::uint16_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
inline void put32(unsigned char* p, std::uint32_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

// The fields a member has in its local header and again in its central header.
struct MemberFields {
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint32_t dosDateTime = 0; // date in the high word, time in the low word
    std::uint32_t crc = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t size = 0;
};

// Local file header followed by the stored name, no extra field.
std::string localHeader(const MemberFields& f, const std::string& name);
// Central header of a member this writer stored: version made by 20 (FAT),
// internal attributes 1, no extra field, no comment.
std::string centralHeader(const MemberFields& f, const std::string& name, std::uint32_t externalAttributes,
                          std::uint32_t localOffset);
// A copied member's central header, pointing at its local header's new place.
std::string movedCentralHeader(std::string central, std::uint32_t localOffset);
std::string endRecord(std::uint16_t entries, std::uint32_t centralSize, std::uint32_t centralOffset,
                      const std::string& comment);

// A member of an existing archive, as far as a raw copy needs it.
struct ExistingMember {
    std::string central; // the whole central header: fixed part, name, extra field, comment
    std::string name;    // stored name bytes
    MemberFields fields;
    std::uint32_t externalAttributes = 0;
    std::uint64_t localOffset = 0; // in the file (the central header's field plus the part's start)
    std::uint64_t span = 0; // bytes from the local header to the end of the data (and descriptor)
    std::uint16_t localNameLength = 0, localExtraLength = 0; // as the local header gives them
};

struct ExistingArchive {
    std::vector<ExistingMember> members;
    std::string comment;
    std::uint64_t start = 0; // where this archive begins in the file (0 but in a joined file)
};

// What a reader of an archive from elsewhere accepts.
struct ForeignLimits {
    std::uint64_t maxFileSize = 0;   // the whole file
    std::uint32_t maxMemberSize = 0; // a member's declared size, compressed or not
    std::size_t maxParts = 0;        // archives joined end to end in one file
};

// Reads the member list of the archive open on fd. Anything that a raw copy
// could not reproduce faithfully (ZIP64, several disks, members overlapping
// each other or the directory, bytes before the first member that the
// directory does not account for) makes it not readable: returns false with
// the reason.
bool readArchive(int fd, std::uint64_t fileSize, ExistingArchive& archive, std::string& reason);

// Reads a file from elsewhere that holds one archive or several whole
// archives joined end to end (`cat a.zip b.zip`), each with offsets relative
// to its own start, which lies at its end record's place less its central
// directory's size and offset. `parts` comes in file order. Stricter than
// readArchive, so that a raw copy of the parts keeps every byte the file
// holds: every part as readArchive wants it, the parts' members, directories
// and end records (with their comments) covering the file without a gap or a
// byte left over, each local header giving the name its central header gives,
// and the limits kept (each reason names the limit it passes). Returns false
// with the reason otherwise.
bool readJoinedArchive(int fd, std::uint64_t fileSize, const ForeignLimits& limits,
                       std::vector<ExistingArchive>& parts, std::string& reason);

} // namespace tevrak::zipfmt
