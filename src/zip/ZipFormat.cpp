#include "zip/ZipFormat.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace tevrak::zipfmt {

namespace {

bool readAt(int fd, void* buffer, std::size_t length, std::uint64_t offset)
{
    auto* p = static_cast<unsigned char*>(buffer);
    while (length > 0) {
        const ssize_t n = ::pread(fd, p, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        length -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

void putFields(unsigned char* p, const MemberFields& f)
{
    put16(p + 0, f.flags);
    put16(p + 2, f.method);
    put16(p + 4, static_cast<std::uint16_t>(f.dosDateTime & 0xFFFF));
    put16(p + 6, static_cast<std::uint16_t>(f.dosDateTime >> 16));
    put32(p + 8, f.crc);
    put32(p + 12, f.compressedSize);
    put32(p + 16, f.size);
}

MemberFields getFields(const unsigned char* p)
{
    MemberFields f;
    f.flags = get16(p + 0);
    f.method = get16(p + 2);
    f.dosDateTime =
        static_cast<std::uint32_t>(get16(p + 4)) | (static_cast<std::uint32_t>(get16(p + 6)) << 16);
    f.crc = get32(p + 8);
    f.compressedSize = get32(p + 12);
    f.size = get32(p + 16);
    return f;
}

// Largest central directory read into memory; far beyond 65535 members with
// ordinary names.
constexpr std::uint64_t MaxCentralSize = 64ull << 20;

} // namespace

std::string localHeader(const MemberFields& f, const std::string& name)
{
    std::string out(LocalHeaderSize, '\0');
    auto* p = reinterpret_cast<unsigned char*>(out.data());
    put32(p, LocalSignature);
    put16(p + 4, VersionWritten);
    putFields(p + 6, f);
    put16(p + 26, static_cast<std::uint16_t>(name.size()));
    put16(p + 28, 0);
    out += name;
    return out;
}

std::string centralHeader(const MemberFields& f, const std::string& name, std::uint32_t externalAttributes,
                          std::uint32_t localOffset)
{
    std::string out(CentralHeaderSize, '\0');
    auto* p = reinterpret_cast<unsigned char*>(out.data());
    put32(p, CentralSignature);
    put16(p + 4, VersionWritten); // upper byte 0: FAT attribute convention
    put16(p + 6, VersionWritten);
    putFields(p + 8, f);
    put16(p + 28, static_cast<std::uint16_t>(name.size()));
    put16(p + 30, 0); // extra field
    put16(p + 32, 0); // comment
    put16(p + 34, 0); // disk number start
    put16(p + 36, 1); // internal attributes: the text bit, as this writer has always set it
    put32(p + 38, externalAttributes);
    put32(p + CentralLocalOffsetAt, localOffset);
    out += name;
    return out;
}

std::string movedCentralHeader(std::string central, std::uint32_t localOffset)
{
    put32(reinterpret_cast<unsigned char*>(central.data()) + CentralLocalOffsetAt, localOffset);
    return central;
}

std::string endRecord(std::uint16_t entries, std::uint32_t centralSize, std::uint32_t centralOffset,
                      const std::string& comment)
{
    std::string out(EndRecordSize, '\0');
    auto* p = reinterpret_cast<unsigned char*>(out.data());
    put32(p, EndSignature);
    put16(p + 8, entries);
    put16(p + 10, entries);
    put32(p + 12, centralSize);
    put32(p + 16, centralOffset);
    put16(p + 20, static_cast<std::uint16_t>(comment.size()));
    out += comment;
    return out;
}

bool readArchive(int fd, std::uint64_t fileSize, ExistingArchive& archive, std::string& reason)
{
    archive = {};
    if (fileSize < EndRecordSize) {
        reason = "too short for a ZIP archive";
        return false;
    }
    // The end record lies within the last 22 + 65535 bytes.
    const std::uint64_t tailSize = std::min<std::uint64_t>(fileSize, EndRecordSize + 0xFFFF);
    std::vector<unsigned char> tail(tailSize);
    if (!readAt(fd, tail.data(), tail.size(), fileSize - tailSize)) {
        reason = "cannot read the end of the file";
        return false;
    }
    const std::uint64_t tailStart = fileSize - tailSize;
    bool found = false;
    std::uint64_t endPos = 0;
    std::uint16_t entries = 0;
    std::uint32_t centralSize = 0, centralOffset = 0;
    for (std::size_t i = tail.size() - EndRecordSize + 1; i-- > 0;) {
        const unsigned char* p = tail.data() + i;
        if (get32(p) != EndSignature)
            continue;
        const std::uint16_t commentLength = get16(p + 20);
        if (i + EndRecordSize + commentLength > tail.size())
            continue;
        endPos = tailStart + i;
        if (get16(p + 4) != 0 || get16(p + 6) != 0 || get16(p + 8) != get16(p + 10)) {
            reason = "an archive spread over several disks";
            return false;
        }
        entries = get16(p + 10);
        centralSize = get32(p + 12);
        centralOffset = get32(p + 16);
        archive.comment.assign(reinterpret_cast<const char*>(p + EndRecordSize), commentLength);
        found = true;
        break;
    }
    if (!found) {
        reason = "no end-of-central-directory record";
        return false;
    }
    if (entries == 0xFFFF || centralSize == 0xFFFFFFFF || centralOffset == 0xFFFFFFFF ||
        (endPos >= 20 && endPos - 20 >= tailStart &&
         get32(tail.data() + (endPos - 20 - tailStart)) == Zip64LocatorSignature)) {
        reason = "a ZIP64 archive";
        return false;
    }
    if (static_cast<std::uint64_t>(centralOffset) + centralSize != endPos) {
        reason = "the central directory does not end where the end record begins";
        return false;
    }
    if (centralSize > MaxCentralSize) {
        reason = "central directory too large";
        return false;
    }
    std::vector<unsigned char> central(centralSize);
    if (centralSize > 0 && !readAt(fd, central.data(), central.size(), centralOffset)) {
        reason = "cannot read the central directory";
        return false;
    }
    std::size_t pos = 0;
    archive.members.reserve(entries);
    for (std::uint32_t index = 0; index < entries; ++index) {
        if (central.size() - pos < CentralHeaderSize || get32(central.data() + pos) != CentralSignature) {
            reason = "damaged central directory";
            return false;
        }
        const unsigned char* p = central.data() + pos;
        const std::size_t nameLength = get16(p + 28), extraLength = get16(p + 30),
                          commentLength = get16(p + 32);
        const std::size_t total = CentralHeaderSize + nameLength + extraLength + commentLength;
        if (central.size() - pos < total) {
            reason = "damaged central directory";
            return false;
        }
        ExistingMember m;
        m.central.assign(reinterpret_cast<const char*>(p), total);
        m.name.assign(reinterpret_cast<const char*>(p + CentralHeaderSize), nameLength);
        m.fields = getFields(p + 8);
        m.externalAttributes = get32(p + 38);
        m.localOffset = get32(p + CentralLocalOffsetAt);
        if (get16(p + 34) != 0) {
            reason = "an archive spread over several disks";
            return false;
        }
        if (m.fields.compressedSize == 0xFFFFFFFF || m.fields.size == 0xFFFFFFFF ||
            m.localOffset == 0xFFFFFFFF) {
            reason = "a ZIP64 member";
            return false;
        }
        // The local header, its name and extra field, the data and an
        // optional data descriptor must all lie before the directory.
        unsigned char local[LocalHeaderSize];
        if (m.localOffset + LocalHeaderSize > centralOffset ||
            !readAt(fd, local, sizeof local, m.localOffset) || get32(local) != LocalSignature) {
            reason = "a member's local header is missing or damaged";
            return false;
        }
        std::uint64_t end =
            m.localOffset + LocalHeaderSize + get16(local + 26) + get16(local + 28) + m.fields.compressedSize;
        if (m.fields.flags & FlagDescriptor) {
            // The data descriptor: optional signature, CRC, then both sizes in
            // 4 bytes, or in 8 when the local header carries a ZIP64 field.
            const std::size_t nameLength = get16(local + 26), extraLength = get16(local + 28);
            std::vector<unsigned char> extra(extraLength);
            if (!readAt(fd, extra.data(), extra.size(), m.localOffset + LocalHeaderSize + nameLength)) {
                reason = "a member's local header is damaged";
                return false;
            }
            bool zip64 = false;
            for (std::size_t at = 0; at + 4 <= extra.size(); at += 4 + get16(extra.data() + at + 2))
                zip64 = zip64 || get16(extra.data() + at) == 0x0001;
            const std::uint64_t plain = zip64 ? 20 : 12;
            unsigned char sig[4];
            if (end + plain > centralOffset) {
                reason = "a member's data run into the central directory";
                return false;
            }
            end += (end + plain + 4 <= centralOffset && readAt(fd, sig, 4, end) &&
                    get32(sig) == DescriptorSignature)
                       ? plain + 4
                       : plain;
        }
        if (end > centralOffset) {
            reason = "a member's data run into the central directory";
            return false;
        }
        m.span = end - m.localOffset;
        archive.members.push_back(std::move(m));
        pos += total;
    }
    if (pos != central.size()) {
        reason = "the central directory holds more than its entries";
        return false;
    }
    std::vector<std::pair<std::uint64_t, std::uint64_t>> spans;
    spans.reserve(archive.members.size());
    for (const auto& m : archive.members)
        spans.emplace_back(m.localOffset, m.localOffset + m.span);
    std::sort(spans.begin(), spans.end());
    for (std::size_t i = 1; i < spans.size(); ++i) {
        if (spans[i].first < spans[i - 1].second) {
            reason = "members overlap";
            return false;
        }
    }
    return true;
}

} // namespace tevrak::zipfmt
