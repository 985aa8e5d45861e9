#include "zip/ArchiveMerge.h"

#include "zip/FileIo.h"
#include "zip/ZipFormat.h"

#include <cerrno>
#include <fcntl.h>
#include <map>
#include <optional>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace tevrak {

namespace {

bool fileSize(const std::string& path, const zipio::Fd& file, std::uint64_t& size, std::string& reason)
{
    struct stat st {};
    if (!file || ::fstat(file.get(), &st) != 0) {
        reason = path + ": " + zipio::errorText(errno);
        return false;
    }
    size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

std::string folded(std::string name)
{
    for (char& c : name)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return name;
}

// Reads exactly `length` bytes at `offset`; false at a failure or the file's end.
bool readAt(int fd, unsigned char* buffer, std::size_t length, std::uint64_t offset)
{
    while (length > 0) {
        const ssize_t n = ::pread(fd, buffer, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        buffer += n;
        length -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

std::uint64_t dataStart(const zipfmt::ExistingMember& m)
{
    return m.localOffset + zipfmt::LocalHeaderSize + m.localNameLength + m.localExtraLength;
}

// Whether the member's data really are what its central header declares
// (CRC and size). Inflating stops as soon as it yields more than the declared
// size; an encrypted member, another method or a read failure is not confirmed.
bool dataAsDeclared(int fd, const zipfmt::ExistingMember& m)
{
    const zipfmt::MemberFields& f = m.fields;
    if ((f.flags & 0x0001) != 0 || (f.method != zipfmt::MethodStored && f.method != zipfmt::MethodDeflated))
        return false;
    if (f.method == zipfmt::MethodStored && f.compressedSize != f.size)
        return false;
    std::vector<unsigned char> in(zipio::BufferSize), out(f.method == zipfmt::MethodDeflated ? zipio::BufferSize : 0);
    z_stream z{};
    if (f.method == zipfmt::MethodDeflated && ::inflateInit2(&z, -MAX_WBITS) != Z_OK)
        return false;
    uLong crc = ::crc32(0, nullptr, 0);
    std::uint64_t produced = 0, offset = dataStart(m), left = f.compressedSize;
    bool ended = f.method == zipfmt::MethodStored, ok = true;
    while (ok && left > 0) {
        const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(left, in.size()));
        if (!readAt(fd, in.data(), chunk, offset)) {
            ok = false;
            break;
        }
        offset += chunk;
        left -= chunk;
        if (f.method == zipfmt::MethodStored) {
            crc = ::crc32(crc, in.data(), static_cast<uInt>(chunk));
            produced += chunk;
            continue;
        }
        z.next_in = in.data();
        z.avail_in = static_cast<uInt>(chunk);
        do {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            const int status = ::inflate(&z, Z_NO_FLUSH);
            const std::size_t got = out.size() - z.avail_out;
            produced += got;
            if (produced > f.size || (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR))
                ok = false;
            else
                crc = ::crc32(crc, out.data(), static_cast<uInt>(got));
            ended = status == Z_STREAM_END;
            if (status == Z_BUF_ERROR)
                break; // no progress without more input
        } while (ok && !ended && (z.avail_in > 0 || z.avail_out == 0));
        if (ended && (z.avail_in > 0 || left > 0))
            ok = false; // bytes after the end of the deflate stream
    }
    if (f.method == zipfmt::MethodDeflated)
        ::inflateEnd(&z);
    return ok && ended && produced == f.size && static_cast<std::uint32_t>(crc) == f.crc;
}

// Two members hold the same document: the same declared CRC and size, and
// both members' data are confirmed to be that.
bool sameDocument(int fdA, const zipfmt::ExistingMember& a, int fdB, const zipfmt::ExistingMember& b)
{
    return a.fields.crc == b.fields.crc && a.fields.size == b.fields.size && dataAsDeclared(fdA, a) &&
           dataAsDeclared(fdB, b);
}

// An extra field without its Info-ZIP Unicode Path blocks (0x7075), which
// carry the old name; unchanged when its blocks do not fill it exactly.
std::string withoutUnicodePath(const std::string& extra)
{
    const auto* p = reinterpret_cast<const unsigned char*>(extra.data());
    std::string kept;
    std::size_t at = 0;
    while (at + 4 <= extra.size()) {
        const std::size_t block = 4 + zipfmt::get16(p + at + 2);
        if (at + block > extra.size())
            return extra;
        if (zipfmt::get16(p + at) != 0x7075)
            kept.append(extra, at, block);
        at += block;
    }
    return at == extra.size() ? kept : extra;
}

// One member of the output: where it comes from and the name it is stored under.
struct Source {
    int fd;
    const zipfmt::ExistingMember* member;
    std::string name;
    bool dropped = false;
};

// Gives out new names through the caller's callback and checks them.
class Names {
public:
    Names(const NewMemberName& callback, std::vector<RenamedMember>& renamed)
        : callback_(callback), renamed_(renamed)
    {
    }
    void take(const std::string& name)
    {
        taken_.insert(name);
        folded_.insert(folded(name));
    }
    bool rename(Source& source, bool ours, std::string& reason)
    {
        std::string name = callback_ ? callback_(taken_, source.name) : std::string();
        if (name.empty() || name.size() > 0xFFFF) {
            reason = "no new name for member \"" + source.name + "\", which differs from the member of that name " +
                     (ours ? "on the server" : "in a later part of the server's archive");
            return false;
        }
        if (folded_.count(folded(name)) != 0) {
            reason = "the new name \"" + name + "\" for member \"" + source.name + "\" is taken";
            return false;
        }
        take(name);
        renamed_.push_back({source.name, name, ours});
        source.name = std::move(name);
        return true;
    }

private:
    const NewMemberName& callback_;
    std::vector<RenamedMember>& renamed_;
    std::set<std::string> taken_, folded_;
};

std::string readBytes(int fd, std::uint64_t offset, std::size_t length)
{
    std::string bytes(length, '\0');
    if (!readAt(fd, reinterpret_cast<unsigned char*>(bytes.data()), length, offset))
        throw std::runtime_error("cannot read a member to rename it");
    return bytes;
}

// Writes a member at `offset` and returns its central header: copied as it
// is, or with its name fields rewritten (the data, CRC and sizes stay).
std::string writeMember(const Source& source, int out, std::uint64_t offset, std::uint64_t& written,
                        std::vector<unsigned char>& buffer)
{
    const zipfmt::ExistingMember& m = *source.member;
    if (source.name == m.name) {
        zipio::copyRange(source.fd, m.localOffset, out, offset, m.span, buffer);
        written = m.span;
        return zipfmt::movedCentralHeader(m.central, static_cast<std::uint32_t>(offset));
    }
    const std::size_t oldLocal = zipfmt::LocalHeaderSize + m.localNameLength + m.localExtraLength;
    std::string local = readBytes(source.fd, m.localOffset, zipfmt::LocalHeaderSize);
    const std::string localExtra = withoutUnicodePath(
        readBytes(source.fd, m.localOffset + zipfmt::LocalHeaderSize + m.localNameLength, m.localExtraLength));
    auto* l = reinterpret_cast<unsigned char*>(local.data());
    zipfmt::put16(l + 26, static_cast<std::uint16_t>(source.name.size()));
    zipfmt::put16(l + 28, static_cast<std::uint16_t>(localExtra.size()));
    local += source.name;
    local += localExtra;
    zipio::writeAllAt(out, reinterpret_cast<const unsigned char*>(local.data()), local.size(), offset);
    zipio::copyRange(source.fd, m.localOffset + oldLocal, out, offset + local.size(), m.span - oldLocal, buffer);
    written = local.size() + (m.span - oldLocal);

    const auto* c = reinterpret_cast<const unsigned char*>(m.central.data());
    const std::size_t nameLength = zipfmt::get16(c + 28), extraLength = zipfmt::get16(c + 30);
    const std::string centralExtra =
        withoutUnicodePath(m.central.substr(zipfmt::CentralHeaderSize + nameLength, extraLength));
    std::string central = m.central.substr(0, zipfmt::CentralHeaderSize);
    auto* h = reinterpret_cast<unsigned char*>(central.data());
    zipfmt::put16(h + 28, static_cast<std::uint16_t>(source.name.size()));
    zipfmt::put16(h + 30, static_cast<std::uint16_t>(centralExtra.size()));
    central += source.name;
    central += centralExtra;
    central += m.central.substr(zipfmt::CentralHeaderSize + nameLength + extraLength); // the comment
    return zipfmt::movedCentralHeader(std::move(central), static_cast<std::uint32_t>(offset));
}

} // namespace

ArchiveMerge mergeArchives(const std::string& theirs, const std::string& ours, const std::string& output,
                           const NewMemberName& newName, std::vector<RenamedMember>& renamed,
                           std::string& reason)
{
    renamed.clear();
    const zipio::Fd theirFile(::open(theirs.c_str(), O_RDONLY | O_CLOEXEC));
    const zipio::Fd ourFile(::open(ours.c_str(), O_RDONLY | O_CLOEXEC));
    std::vector<zipfmt::ExistingArchive> theirParts;
    zipfmt::ExistingArchive ourArchive;
    std::uint64_t size = 0;
    if (!fileSize(theirs, theirFile, size, reason))
        return ArchiveMerge::TheirsUnreadable;
    if (!zipfmt::readJoinedArchive(theirFile.get(), size,
                                   {MaxServerArchiveBytes, MaxServerMemberBytes, MaxServerArchiveParts},
                                   theirParts, reason)) {
        reason = theirs + ": " + reason;
        return ArchiveMerge::TheirsUnreadable;
    }
    if (!fileSize(ours, ourFile, size, reason))
        return ArchiveMerge::Failed;
    if (!zipfmt::readArchive(ourFile.get(), size, ourArchive, reason)) {
        reason = ours + ": " + reason;
        return ArchiveMerge::Failed;
    }

    const auto failed = [&renamed] {
        renamed.clear();
        return ArchiveMerge::Failed;
    };
    Names names(newName, renamed);
    for (const auto& part : theirParts)
        for (const auto& member : part.members)
            names.take(member.name);
    for (const auto& member : ourArchive.members)
        names.take(member.name);

    // Theirs in file order; `holder` gives, for each name (case folded), the
    // member that holds it now.
    std::vector<Source> sources;
    std::map<std::string, std::size_t> holder;
    for (const auto& part : theirParts) {
        for (const auto& member : part.members) {
            const auto [at, first] = holder.emplace(folded(member.name), sources.size());
            if (!first) {
                Source& earlier = sources[at->second];
                if (sameDocument(theirFile.get(), *earlier.member, theirFile.get(), member))
                    earlier.dropped = true;
                else if (!names.rename(earlier, false, reason))
                    return failed();
                at->second = sources.size();
            }
            sources.push_back({theirFile.get(), &member, member.name});
        }
    }
    for (const auto& member : ourArchive.members) {
        Source source{ourFile.get(), &member, member.name};
        const auto at = holder.find(folded(member.name));
        if (at != holder.end() && !sources[at->second].dropped) {
            Source& their = sources[at->second];
            if (sameDocument(theirFile.get(), *their.member, ourFile.get(), member))
                their.dropped = true;
            else if (!names.rename(source, true, reason))
                return failed();
        }
        sources.push_back(std::move(source));
    }
    std::size_t count = 0;
    for (const Source& source : sources)
        count += source.dropped ? 0 : 1;
    if (count > 0xFFFF) {
        reason = "the combined archive would have more than 65535 members";
        return failed();
    }

    const zipio::Fd out(::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!out) {
        reason = output + ": " + zipio::errorText(errno);
        return failed();
    }
    try {
        std::uint64_t offset = 0;
        std::string central;
        std::vector<unsigned char> buffer;
        for (const Source& source : sources) {
            if (source.dropped)
                continue;
            // A renamed member's header grows by at most its new name.
            if (offset + source.member->span + source.name.size() > 0xFFFFFFFFull)
                throw std::length_error("the combined archive would reach 4 GiB");
            std::uint64_t written = 0;
            central += writeMember(source, out.get(), offset, written, buffer);
            offset += written;
        }
        const std::string end = zipfmt::endRecord(static_cast<std::uint16_t>(count),
                                                  static_cast<std::uint32_t>(central.size()),
                                                  static_cast<std::uint32_t>(offset), ourArchive.comment);
        if (offset + central.size() + end.size() > 0xFFFFFFFFull)
            throw std::length_error("the combined archive would reach 4 GiB");
        const std::string directory = central + end;
        zipio::writeAllAt(out.get(), reinterpret_cast<const unsigned char*>(directory.data()),
                          directory.size(), offset);
        zipio::flushFile(out.get());
    } catch (const std::exception& error) {
        reason = output + ": " + error.what();
        ::unlink(output.c_str());
        return failed();
    }
    return ArchiveMerge::Merged;
}

} // namespace tevrak
