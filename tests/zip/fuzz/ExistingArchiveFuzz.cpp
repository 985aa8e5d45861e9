// Feeds arbitrary bytes to the writer as the archive that already exists.
// Whatever the bytes, the run must not crash, must leave bytes that are not a
// readable archive exactly as they were, and must remove the source file only
// when the archive it leaves holds it.
// Then feeds them to the merge as the server's copy of the archive: it must
// not crash, must call them unreadable exactly when the joined-archive reader
// does, must leave no output unless it merged, and a merged output must hold
// every member of every part of the server's copy (its data byte for byte,
// under its name or the new one reported), or a confirmed copy of it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <vector>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "zip/ArchiveMerge.h"
#include "zip/Zip.h"
#include "zip/ZipFormat.h"

#include <fcntl.h>
#include <zlib.h>

namespace {

std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeAll(const std::string& path, const void* data, std::size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

bool parse(const std::string& path, tevrak::zipfmt::ExistingArchive& archive)
{
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return false;
    struct stat st;
    std::string reason;
    const bool ok = ::fstat(fd, &st) == 0 && tevrak::zipfmt::readArchive(fd, st.st_size, archive, reason);
    ::close(fd);
    return ok;
}

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}

const std::string& folder()
{
    // Kept until the very end of the process, which then removes it.
    static const std::string* path = [] {
        const char* base = std::getenv("TMPDIR");
        auto* created =
            new std::string(std::string(base && *base ? base : "/tmp") + "/tevrak-zip-fuzz-XXXXXX");
        check(::mkdtemp(created->data()) != nullptr, "cannot create a work folder");
        std::atexit([] {
            ::unlink((folder() + "/input").c_str());
            ::unlink((folder() + "/ours.zip").c_str());
            ::rmdir(folder().c_str());
        });
        return created;
    }();
    return *path;
}

std::string folded(std::string name)
{
    for (char& c : name)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return name;
}

// The claim's first free document number from 800 on, without regard to letter case.
std::string freeDocument(const std::set<std::string>& taken, const std::string&)
{
    std::set<std::string> names;
    for (const auto& name : taken)
        names.insert(folded(name));
    for (int seq = 800; seq <= 999; ++seq) {
        const std::string name = "12345678" + std::to_string(seq) + ".gif";
        if (names.count(name) == 0)
            return name;
    }
    return {};
}

// Our archive for the merge: one stored member, 12345678800.gif.
const std::string& ourArchive(const char* gif, std::size_t size)
{
    static const std::string* path = [&] {
        tevrak::zipfmt::MemberFields f;
        f.method = tevrak::zipfmt::MethodStored;
        f.compressedSize = f.size = static_cast<std::uint32_t>(size);
        f.crc = static_cast<std::uint32_t>(::crc32(0, reinterpret_cast<const Bytef*>(gif), static_cast<uInt>(size)));
        const std::string local = tevrak::zipfmt::localHeader(f, "12345678800.gif") + std::string(gif, size);
        const std::string central = tevrak::zipfmt::centralHeader(f, "12345678800.gif", 0x20, 0);
        const std::string bytes = local + central +
                                  tevrak::zipfmt::endRecord(1, static_cast<std::uint32_t>(central.size()),
                                                            static_cast<std::uint32_t>(local.size()), "");
        auto* created = new std::string(folder() + "/ours.zip");
        writeAll(*created, bytes.data(), bytes.size());
        return created;
    }();
    return *path;
}

std::string dataOf(const std::string& file, const tevrak::zipfmt::ExistingMember& m)
{
    const std::size_t header = tevrak::zipfmt::LocalHeaderSize + m.localNameLength + m.localExtraLength;
    return file.substr(m.localOffset + header, m.span - header);
}

void checkMerge(const std::string& input, const char* gif, std::size_t gifSize)
{
    const std::string theirs = folder() + "/input";
    const std::string merged = folder() + "/merged.zip";
    std::vector<tevrak::RenamedMember> renamed;
    std::string reason;
    const tevrak::ArchiveMerge result =
        tevrak::mergeArchives(theirs, ourArchive(gif, gifSize), merged, freeDocument, renamed, reason);

    std::vector<tevrak::zipfmt::ExistingArchive> parts;
    const int fd = ::open(theirs.c_str(), O_RDONLY);
    check(fd >= 0, "cannot open the input");
    const bool readable = tevrak::zipfmt::readJoinedArchive(
        fd, input.size(),
        {tevrak::MaxServerArchiveBytes, tevrak::MaxServerMemberBytes, tevrak::MaxServerArchiveParts}, parts,
        reason);
    ::close(fd);
    check(readable == (result != tevrak::ArchiveMerge::TheirsUnreadable),
          "the merge and the joined-archive reader disagree on the server's copy");
    if (result != tevrak::ArchiveMerge::Merged) {
        check(::access(merged.c_str(), F_OK) != 0, "an output was left by a merge that failed");
        check(renamed.empty(), "renames reported by a merge that failed");
        return;
    }
    tevrak::zipfmt::ExistingArchive now;
    check(parse(merged, now), "the merged archive is not readable");
    const std::string after = readAll(merged);
    for (const auto& part : parts) {
        for (const auto& was : part.members) {
            const std::string data = dataOf(input, was);
            bool kept = false;
            for (const auto& is : now.members) {
                bool renamedSo = false;
                for (const auto& r : renamed)
                    renamedSo = renamedSo || (!r.ours && r.from == was.name && r.to == is.name);
                kept = kept || ((is.name == was.name || renamedSo) && dataOf(after, is) == data) ||
                       (folded(is.name) == folded(was.name) && is.fields.crc == was.fields.crc &&
                        is.fields.size == was.fields.size);
            }
            check(kept, "a member of the server's archive was lost");
        }
    }
    bool ours = false;
    for (const auto& is : now.members) {
        bool renamedSo = false;
        for (const auto& r : renamed)
            renamedSo = renamedSo || (r.ours && r.to == is.name);
        ours = ours || ((is.name == "12345678800.gif" || renamedSo) && dataOf(after, is) == std::string(gif, gifSize));
    }
    check(ours, "our member was lost");
    ::unlink(merged.c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string archive = folder() + "/12345678.Zip";
    const std::string source = folder() + "/12345678800.gif";
    const std::string input(reinterpret_cast<const char*>(data), size);
    writeAll(archive, data, size);
    static const char gif[] =
        "GIF89a\x01\x00\x01\x00\x00\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02L\x01\x00;";
    writeAll(source, gif, sizeof gif - 1);
    const struct timespec times[2] = {{1700000000, 0}, {1700000000, 0}};
    ::utimensat(AT_FDCWD, source.c_str(), times, 0);

    bool trashed = false;
    tevrak::TZip zip;
    zip.Switch = tevrak::TSwitch::swMove;
    zip.RemoveToTrash = [&](const std::string& path, std::string&) {
        trashed = true;
        return ::unlink(path.c_str()) == 0;
    };
    zip.SetArchiveFile(archive);
    zip.FileSpec = {source};
    const int stored = zip.Compress();

    const std::string after = readAll(archive);
    tevrak::zipfmt::ExistingArchive before, now;
    writeAll(folder() + "/input", data, size);
    const bool wasReadable = parse(folder() + "/input", before);
    if (stored == 0) {
        check(after == input, "an archive was changed by a run that stored nothing");
        if (trashed) {
            // Only a member equal to the file permits its removal.
            check(parse(archive, now), "a file was removed beside an unreadable archive");
            bool held = false;
            for (const auto& m : now.members)
                held = held || (m.fields.size == sizeof gif - 1 && m.name == "12345678800.gif");
            check(held, "a file was removed that the archive does not hold");
        }
    } else {
        check(stored == 1, "more files stored than offered");
        check(wasReadable, "an unreadable file was overwritten");
        check(parse(archive, now), "the new archive is not readable");
        check(now.members.size() == before.members.size() + 1, "members lost or added");
        for (std::size_t i = 0; i < before.members.size(); ++i) {
            const auto& was = before.members[i];
            const auto& is = now.members[i];
            check(after.compare(is.localOffset, was.span, input, was.localOffset, was.span) == 0,
                  "an old member was not copied byte for byte");
        }
        check(now.members.back().name == "12345678800.gif", "the new member is missing");
        check(trashed, "the stored file was not removed");
    }
    checkMerge(input, gif, sizeof gif - 1);
    ::unlink(archive.c_str());
    ::unlink(source.c_str());
    return 0;
}
