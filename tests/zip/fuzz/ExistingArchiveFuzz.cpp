// Feeds arbitrary bytes to the writer as the archive that already exists.
// Whatever the bytes, the run must not crash, must leave bytes that are not a
// readable archive exactly as they were, and must remove the source file only
// when the archive it leaves holds it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "zip/Zip.h"
#include "zip/ZipFormat.h"

#include <fcntl.h>

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
            ::rmdir(folder().c_str());
        });
        return created;
    }();
    return *path;
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
    ::unlink(archive.c_str());
    ::unlink(source.c_str());
    return 0;
}
