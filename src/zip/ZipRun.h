#pragma once

#include "zip/FileIo.h"
#include "zip/MemberName.h"
#include "zip/PrefixCopy.h"
#include "zip/TemporaryArchive.h"
#include "zip/Zip.h"
#include "zip/ZipFormat.h"

#include <cstdint>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace tevrak {

class ZipWorkspace;
struct FoundFile;
namespace zipio {
class OutputFile;
}

// One Compress run: the member list, the move list, the old archive and the
// temporary archive live here and nowhere else. The run owns both open
// archives; the prefix copy's thread ends within the step that starts it, so
// the files outlive the thread that uses them.
class ZipRun {
public:
    ZipRun(TZip& zip, ZipWorkspace& work) : zip_(zip), work_(work) {}

    // Returns the number of files stored; 0 when nothing was stored or the
    // run failed (reported through OnError). Throws only what an event
    // handler or zlib throws.
    int execute();

private:
    enum class State { keep, compress, drop };

    struct Source {
        std::string path;
        std::string relativeName; // below the FileSpec entry's folder, "/" separated
        std::uint32_t attributes = 0;
        std::uint64_t size = 0;
        std::uint32_t dosDateTime = 0;
        dev_t dev = 0;
        ino_t ino = 0;
    };

    struct Member {
        State state = State::keep;
        int existing = -1;    // index into the old archive's members
        std::string nameUtf8; // for comparing names
        Source source;        // state compress
        zipname::StoredName stored;
        bool replacing = false; // a new file in place of an existing member: keep that one if it fails
        std::uint64_t newOffset = 0;
        std::string central; // the central header as written
    };

    struct MoveEntry {
        std::string path;
        zipio::Identity identity;
    };

    // Events.
    void error(const std::string& fileName, int code, const std::string& extended = {});
    void processMessages();
    void report(std::uint8_t byFile, std::uint8_t byArchive);

    // Planning: the old archive's members, then the files found.
    bool locateArchive();
    bool openOldArchive();
    void scanAllSources();
    void consider(const FoundFile& file);
    void addNew(const std::string& nameUtf8, const Source& source, const zipname::StoredName& stored);
    int findMember(const std::string& nameUtf8) const;
    std::size_t liveMembers() const;
    bool identical(const Member& member, const Source& source, zipio::Identity& identity);
    void resolveDuplicate(std::size_t index, const Source& source, const zipname::StoredName& stored);
    bool anythingToStore() const;
    std::uint64_t bytesToStore() const;

    // Writing: returns false when the archive would grow too large (reported).
    bool writeNewArchive();
    std::vector<zipio::PrefixCopy::Range> placeKeptPrefix(std::size_t& first);
    void placeKept(Member& member, std::uint64_t offset);
    void writeMembersFrom(std::size_t first, zipio::OutputFile& out);
    void copyKept(Member& member, zipio::OutputFile& out);
    bool storeFile(Member& member, int count, zipio::OutputFile& out);
    bool beginAllowed(const Source& source, int count);
    bool openSource(const Source& source, zipio::Fd& in, struct stat& st);
    void noteStored(const Source& source, int in, const zipio::Identity& before);
    bool fitsLimit(std::size_t index, const zipio::OutputFile& out) const;
    bool writeDirectory(zipio::OutputFile& out);
    void installArchive();

    // Move mode, once the archive is in place.
    void removeSources();

    TZip& zip_;
    ZipWorkspace& work_;
    std::string archivePath_;
    std::string archiveFolder_;
    bool archiveExisted_ = false;
    struct stat archiveStat_ {};
    zipio::Fd oldFd_; // the archive being replaced, open until the new one is in place
    zipfmt::ExistingArchive old_;
    std::optional<zipio::TemporaryArchive> temp_; // the new archive until it is in place
    std::vector<Member> members_;
    std::vector<MoveEntry> moves_;
    std::uint64_t runTotal_ = 0;
    std::uint64_t runDone_ = 0;
    int stored_ = 0;
};

} // namespace tevrak
