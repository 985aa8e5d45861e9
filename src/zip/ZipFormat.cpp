#include "zip/ZipFormat.h"

#include "zip/FileIo.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace tevrak::zipfmt {

namespace {

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

namespace {

// What the directory walk checks beyond what every reader checks.
struct DirectoryChecks {
    std::uint32_t maxMemberSize = 0xFFFFFFFF; // a larger declared size makes the archive unreadable
    // Each local header gives its central header's name, and the members
    // cover every byte from the archive's start to its directory.
    bool strict = false;
};

std::string mebibytes(std::uint64_t bytes)
{
    return std::to_string(bytes >> 20) + " MiB";
}

// Walks the central directory of the archive that begins at `base` in the
// file, its fields (offsets relative to `base`) as its end record gives them.
bool readDirectory(int fd, std::uint64_t base, std::uint16_t entries, std::uint32_t centralSize,
                   std::uint32_t centralOffset, const DirectoryChecks& checks, ExistingArchive& archive,
                   std::string& reason)
{
    std::vector<unsigned char> central(centralSize);
    if (centralSize > 0 && !zipio::readAllAt(fd, central.data(), central.size(), base + centralOffset)) {
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
        const std::uint32_t localOffset = get32(p + CentralLocalOffsetAt);
        m.localOffset = base + localOffset;
        if (get16(p + 34) != 0) {
            reason = "an archive spread over several disks";
            return false;
        }
        if (m.fields.compressedSize == 0xFFFFFFFF || m.fields.size == 0xFFFFFFFF || localOffset == 0xFFFFFFFF) {
            reason = "a ZIP64 member";
            return false;
        }
        if (m.fields.compressedSize > checks.maxMemberSize || m.fields.size > checks.maxMemberSize) {
            reason = "member \"" + m.name + "\" declares " +
                     std::to_string(std::max(m.fields.compressedSize, m.fields.size)) +
                     " bytes, past the cap of " + mebibytes(checks.maxMemberSize) + " for one member";
            return false;
        }
        // The local header, its name and extra field, the data and an
        // optional data descriptor must all lie before the directory.
        unsigned char local[LocalHeaderSize];
        if (std::uint64_t(localOffset) + LocalHeaderSize > centralOffset ||
            !zipio::readAllAt(fd, local, sizeof local, m.localOffset) || get32(local) != LocalSignature) {
            reason = "a member's local header is missing or damaged";
            return false;
        }
        m.localNameLength = get16(local + 26);
        m.localExtraLength = get16(local + 28);
        if (checks.strict) {
            std::string localName(m.localNameLength, '\0');
            if (std::uint64_t(localOffset) + LocalHeaderSize + localName.size() > centralOffset ||
                !zipio::readAllAt(fd, localName.data(), localName.size(), m.localOffset + LocalHeaderSize) ||
                localName != m.name) {
                reason = "member \"" + m.name + "\" has another name in its local header";
                return false;
            }
        }
        std::uint64_t end = std::uint64_t(localOffset) + LocalHeaderSize + m.localNameLength +
                            m.localExtraLength + m.fields.compressedSize;
        if (m.fields.flags & FlagDescriptor) {
            // The data descriptor: optional signature, CRC, then both sizes in
            // 4 bytes, or in 8 when the local header carries a ZIP64 field.
            std::vector<unsigned char> extra(m.localExtraLength);
            if (!zipio::readAllAt(fd, extra.data(), extra.size(), m.localOffset + LocalHeaderSize + m.localNameLength)) {
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
            end += (end + plain + 4 <= centralOffset && zipio::readAllAt(fd, sig, 4, base + end) &&
                    get32(sig) == DescriptorSignature)
                       ? plain + 4
                       : plain;
        }
        if (end > centralOffset) {
            reason = "a member's data run into the central directory";
            return false;
        }
        m.span = end - localOffset;
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
        spans.emplace_back(m.localOffset - base, m.localOffset - base + m.span);
    std::sort(spans.begin(), spans.end());
    for (std::size_t i = 1; i < spans.size(); ++i) {
        if (spans[i].first < spans[i - 1].second) {
            reason = "members overlap";
            return false;
        }
    }
    if (checks.strict) {
        std::uint64_t covered = 0;
        for (const auto& [from, to] : spans) {
            if (from != covered) {
                reason = "bytes before or between the members that no member holds";
                return false;
            }
            covered = to;
        }
        if (covered != centralOffset) {
            reason = "bytes between the last member and the central directory that no member holds";
            return false;
        }
    }
    return true;
}

// Tries the end record at `record` (its place `endPos` in the file) as the
// end of one archive of a joined file.
bool readPart(int fd, const unsigned char* record, std::uint64_t endPos, const ForeignLimits& limits,
              std::uint64_t& centralBudget, ExistingArchive& part, std::string& reason)
{
    part = {};
    if (get16(record + 4) != 0 || get16(record + 6) != 0 || get16(record + 8) != get16(record + 10)) {
        reason = "an archive spread over several disks";
        return false;
    }
    const std::uint16_t entries = get16(record + 10);
    const std::uint32_t centralSize = get32(record + 12), centralOffset = get32(record + 16);
    if (entries == 0xFFFF || centralSize == 0xFFFFFFFF || centralOffset == 0xFFFFFFFF) {
        reason = "a ZIP64 archive";
        return false;
    }
    if (std::uint64_t(centralOffset) + centralSize > endPos) {
        reason = "the central directory does not fit before the end record";
        return false;
    }
    const std::uint64_t base = endPos - centralSize - centralOffset;
    unsigned char locator[4];
    if (endPos >= base + 20 && zipio::readAllAt(fd, locator, 4, endPos - 20) && get32(locator) == Zip64LocatorSignature) {
        reason = "a ZIP64 archive";
        return false;
    }
    if (centralSize > MaxCentralSize || centralBudget < centralSize) {
        reason = "central directories larger than " + mebibytes(MaxCentralSize);
        return false;
    }
    if (!readDirectory(fd, base, entries, centralSize, centralOffset, {limits.maxMemberSize, true}, part,
                       reason))
        return false;
    centralBudget -= centralSize;
    part.comment.assign(reinterpret_cast<const char*>(record + EndRecordSize), get16(record + 20));
    part.start = base;
    return true;
}

// End records tried for one archive of a joined file before it counts as
// unreadable (a false one would need a signature and a fitting comment length
// inside another's comment).
constexpr int MaxEndCandidates = 16;

} // namespace

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
    if (!zipio::readAllAt(fd, tail.data(), tail.size(), fileSize - tailSize)) {
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
    return readDirectory(fd, 0, entries, centralSize, centralOffset, {}, archive, reason);
}

bool readJoinedArchive(int fd, std::uint64_t fileSize, const ForeignLimits& limits,
                       std::vector<ExistingArchive>& parts, std::string& reason)
{
    parts.clear();
    if (fileSize > limits.maxFileSize) {
        reason = "the file has " + std::to_string(fileSize) + " bytes, past the cap of " +
                 mebibytes(limits.maxFileSize) + " for a whole archive";
        return false;
    }
    std::uint64_t centralBudget = MaxCentralSize;
    std::uint64_t regionEnd = fileSize; // the archives before this place are still to be read
    do {
        const std::string where =
            parts.empty() ? std::string()
                          : "the first " + std::to_string(regionEnd) + " bytes, before the archive joined after them: ";
        if (parts.size() == limits.maxParts) {
            reason = where + "more than " + std::to_string(limits.maxParts) + " archives joined in one file";
            return false;
        }
        if (regionEnd < EndRecordSize) {
            reason = where + "too short for a ZIP archive";
            return false;
        }
        // The end record and its comment end exactly where the region ends.
        const std::uint64_t windowSize = std::min<std::uint64_t>(regionEnd, EndRecordSize + 0xFFFF);
        std::vector<unsigned char> window(windowSize);
        if (!zipio::readAllAt(fd, window.data(), window.size(), regionEnd - windowSize)) {
            reason = where + "cannot read the file";
            return false;
        }
        std::string firstFailure;
        int candidates = 0;
        ExistingArchive part;
        bool found = false;
        for (std::size_t commentLength = 0;
             !found && candidates < MaxEndCandidates && commentLength + EndRecordSize <= windowSize;
             ++commentLength) {
            const unsigned char* p = window.data() + (windowSize - EndRecordSize - commentLength);
            if (get32(p) != EndSignature || get16(p + 20) != commentLength)
                continue;
            ++candidates;
            std::string failure;
            found = readPart(fd, p, regionEnd - EndRecordSize - commentLength, limits, centralBudget, part,
                             failure);
            if (!found && firstFailure.empty())
                firstFailure = failure;
        }
        if (!found) {
            reason = where + (candidates == 0 ? parts.empty()
                                                    ? "no end-of-central-directory record ending the file"
                                                    : "no end-of-central-directory record ending there"
                                              : firstFailure);
            return false;
        }
        regionEnd = part.start;
        parts.push_back(std::move(part));
    } while (regionEnd > 0);
    std::reverse(parts.begin(), parts.end());
    return true;
}

} // namespace tevrak::zipfmt
