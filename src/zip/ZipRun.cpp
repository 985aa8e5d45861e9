#include "zip/ZipRun.h"

#include "zip/DosTime.h"
#include "zip/MemberEncoder.h"
#include "zip/OutputFile.h"
#include "zip/SourceScan.h"
#include "zip/Trash.h"
#include "zip/ZipWorkspace.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace tevrak {

using zipio::Fd;
using zipio::Identity;
using zipio::identityOf;
using zipio::OutputFile;

namespace {

constexpr std::uint64_t FourGiB = 1ull << 32;
constexpr std::size_t MaxMembers = 0xFFFE; // 0xFFFF in the end record would mean ZIP64
const char* const TooLarge = "the archive would reach 4 GiB";

std::uint8_t percent(std::uint64_t done, std::uint64_t total)
{
    if (total == 0)
        return 0;
    const double value = std::floor(100.0 * static_cast<double>(done) / static_cast<double>(total) + 0.5);
    return static_cast<std::uint8_t>(std::clamp(value, 0.0, 100.0));
}

// The archive path as given, or the same name in other letter case that
// exists in its folder.
std::string resolveArchivePath(const std::string& path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) == 0)
        return path;
    const std::string folder = zipio::folderOf(path), name = zipio::nameOf(path);
    std::string found;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(dir)) {
            if (zipname::equalIgnoringCase(e->d_name, name)) {
                found = e->d_name;
                break;
            }
        }
        ::closedir(dir);
    }
    return found.empty() ? path : zipio::join(folder, found);
}

} // namespace

int ZipRun::execute()
{
    if (!locateArchive() || !openOldArchive())
        return 0;
    scanAllSources();
    runTotal_ = bytesToStore();
    if (!anythingToStore()) {
        error(archivePath_, zip_error::NothingToDo);
        oldFd_.reset();
        removeSources();
        return 0;
    }
    try {
        if (!writeNewArchive())
            return 0;
    } catch (const zipio::WriteFailure& failure) {
        const bool full = failure.code == ENOSPC || failure.code == EDQUOT;
        error(archivePath_, full ? zip_error::DiskFull : zip_error::WriteArchive, failure.what());
        return 0;
    }
    removeSources();
    return stored_;
}

// --- events ---------------------------------------------------------------

void ZipRun::error(const std::string& fileName, int code, const std::string& extended)
{
    if (zip_.OnError)
        zip_.OnError(zip_, fileName, extended, std::string(), code);
}

void ZipRun::processMessages()
{
    if (zip_.OnProcessMessages)
        zip_.OnProcessMessages(zip_);
}

void ZipRun::report(std::uint8_t byFile, std::uint8_t byArchive)
{
    processMessages();
    if (zip_.OnProgress)
        zip_.OnProgress(zip_, byFile, byArchive);
}

// --- planning -------------------------------------------------------------

bool ZipRun::locateArchive()
{
    archivePath_ = resolveArchivePath(zip_.ArchiveFile());
    archiveFolder_ = zipio::folderOf(archivePath_);
    struct stat folder;
    if (zip_.ArchiveFile().empty() || ::stat(archiveFolder_.c_str(), &folder) != 0 ||
        !S_ISDIR(folder.st_mode)) {
        error(zip_.ArchiveFile(), zip_error::InvalidDirectory);
        return false;
    }
    return true;
}

bool ZipRun::openOldArchive()
{
    if (::stat(archivePath_.c_str(), &archiveStat_) != 0) {
        archiveExisted_ = false;
        return true;
    }
    archiveExisted_ = true;
    if (!S_ISREG(archiveStat_.st_mode)) {
        error(archivePath_, zip_error::NotAnArchive, "not a regular file");
        return false;
    }
    oldFd_.reset(::open(archivePath_.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!oldFd_) {
        error(archivePath_, zip_error::OpenFile, zipio::errorText(errno));
        return false;
    }
    std::string reason;
    if (!zipfmt::readArchive(oldFd_.get(), static_cast<std::uint64_t>(archiveStat_.st_size), old_, reason)) {
        error(archivePath_, zip_error::NotAnArchive, reason);
        return false;
    }
    for (std::size_t i = 0; i < old_.members.size(); ++i) {
        const auto& m = old_.members[i];
        Member member;
        member.state = State::keep;
        member.existing = static_cast<int>(i);
        member.nameUtf8 = zipname::decode(m.name, m.fields.flags & zipfmt::FlagUtf8Name, zip_.OemCodePage);
        members_.push_back(std::move(member));
    }
    return true;
}

void ZipRun::scanAllSources()
{
    const std::vector<std::string> specs = zip_.FileSpec; // an event handler may change FileSpec
    for (const auto& entry : specs)
        scanSources(entry, zip_.RecurseDirs, [this](const FoundFile& file) { consider(file); });
}

void ZipRun::consider(const FoundFile& file)
{
    const struct stat& st = file.st;
    if (archiveExisted_ && st.st_dev == archiveStat_.st_dev && st.st_ino == archiveStat_.st_ino)
        return; // the archive never goes into itself
    const std::uint32_t attrs = attributesOf(file.name, st);
    if (!attributesTaken(attrs, zip_.Attributes, zip_.AttributesEx))
        return;
    for (const auto& pattern : zip_.ExcludeSpec)
        if (zipname::wildcardMatch(pattern, file.name) || zipname::wildcardMatch(pattern, file.relativeName))
            return;
    if (static_cast<std::uint64_t>(st.st_size) >= FourGiB) {
        error(file.path, zip_error::FileTooLarge, "4 GiB or more");
        return;
    }
    const Source source{
        file.path, file.relativeName, attrs, static_cast<std::uint64_t>(st.st_size), dosDateTime(st.st_mtime),
        st.st_dev, st.st_ino};
    const auto stored = zipname::encode(file.relativeName, zip_.TranslateOemChar, zip_.OemCodePage);
    const int index = findMember(file.relativeName);
    if (index < 0) {
        if (liveMembers() >= MaxMembers) {
            error(file.path, zip_error::ArchiveTooLarge, "too many members");
            return;
        }
        addNew(file.relativeName, source, stored);
        return;
    }
    Member& member = members_[static_cast<std::size_t>(index)];
    if (member.state == State::compress && member.source.dev == source.dev && member.source.ino == source.ino)
        return; // found twice by two FileSpec entries
    Identity identity;
    if (member.state == State::keep && !member.replacing && identical(member, source, identity)) {
        if (zip_.Switch == TSwitch::swMove)
            moves_.push_back({source.path, identity});
        return;
    }
    resolveDuplicate(static_cast<std::size_t>(index), source, stored);
}

void ZipRun::addNew(const std::string& nameUtf8, const Source& source, const zipname::StoredName& stored)
{
    Member member;
    member.state = State::compress;
    member.nameUtf8 = nameUtf8;
    member.source = source;
    member.stored = stored;
    members_.push_back(std::move(member));
}

int ZipRun::findMember(const std::string& nameUtf8) const
{
    for (std::size_t i = 0; i < members_.size(); ++i)
        if (members_[i].state != State::drop && zipname::equalIgnoringCase(members_[i].nameUtf8, nameUtf8))
            return static_cast<int>(i);
    return -1;
}

std::size_t ZipRun::liveMembers() const
{
    return static_cast<std::size_t>(std::count_if(members_.begin(), members_.end(),
                                                  [](const Member& m) { return m.state != State::drop; }));
}

// Same size, time and attributes as the member, and (read to be sure before
// the file may be removed) the same CRC-32.
bool ZipRun::identical(const Member& member, const Source& source, Identity& identity)
{
    const auto& old = old_.members[static_cast<std::size_t>(member.existing)];
    if (old.fields.size != source.size || old.fields.dosDateTime != source.dosDateTime ||
        old.externalAttributes != source.attributes)
        return false;
    Fd in(::open(source.path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat before, after;
    if (!in || ::fstat(in.get(), &before) != 0 || !S_ISREG(before.st_mode))
        return false;
    uLong crc = ::crc32(0, nullptr, 0);
    std::uint64_t total = 0;
    try {
        for (;;) {
            const std::size_t n = zipio::readSome(in.get(), work_.input.data(), work_.input.size());
            if (n == 0)
                break;
            crc = ::crc32_z(crc, work_.input.data(), n);
            total += n;
            processMessages();
        }
    } catch (const zipio::ReadFailure&) {
        return false;
    }
    if (::fstat(in.get(), &after) != 0 || !(identityOf(before) == identityOf(after)))
        return false;
    identity = identityOf(after);
    return total == old.fields.size && static_cast<std::uint32_t>(crc) == old.fields.crc;
}

// A new file whose stored name is already a member's, and whose content is
// not the member's: replaced only when the caller says so, else perhaps
// renamed; otherwise it is not stored, and it stays where it is.
void ZipRun::resolveDuplicate(std::size_t index, const Source& source, const zipname::StoredName& stored)
{
    Member& member = members_[index];
    bool replace = false;
    if (zip_.OnReplaceFile) {
        std::uint32_t date, attrs;
        std::uint64_t size;
        if (member.state == State::keep) {
            const auto& old = old_.members[static_cast<std::size_t>(member.existing)];
            date = old.fields.dosDateTime, size = old.fields.size, attrs = old.externalAttributes;
        } else {
            date = member.source.dosDateTime, size = member.source.size, attrs = member.source.attributes;
        }
        zip_.OnReplaceFile(zip_, member.nameUtf8, source.path, date, source.dosDateTime, size, source.size,
                           attrs, source.attributes, replace);
    } else {
        error(source.path, zip_error::EventNotAssigned, "OnReplaceFile");
    }
    if (replace) {
        if (member.existing >= 0)
            member.replacing = true;
        member.state = State::compress;
        member.source = source;
        member.stored = stored;
        member.nameUtf8 = source.relativeName;
        return;
    }
    if (zip_.OnRenameDupeFile) {
        std::string newName = source.relativeName;
        bool rename = false;
        zip_.OnRenameDupeFile(zip_, source.path, newName, rename);
        newName = zipio::withSlashes(newName);
        if (rename && !newName.empty() && findMember(newName) < 0 && liveMembers() < MaxMembers)
            addNew(newName, source, zipname::encode(newName, zip_.TranslateOemChar, zip_.OemCodePage));
    }
}

bool ZipRun::anythingToStore() const
{
    return std::any_of(members_.begin(), members_.end(),
                       [](const Member& m) { return m.state == State::compress; });
}

std::uint64_t ZipRun::bytesToStore() const
{
    std::uint64_t total = 0;
    for (const auto& m : members_)
        if (m.state == State::compress)
            total += m.source.size;
    return total;
}

// --- writing --------------------------------------------------------------

bool ZipRun::writeNewArchive()
{
    temp_.emplace(zip_.TempDir.empty() ? archiveFolder_ : zipio::withSlashes(zip_.TempDir));
    std::size_t first = 0;
    std::vector<zipio::PrefixCopy::Range> prefix = placeKeptPrefix(first);
    const std::uint64_t prefixEnd = prefix.empty() ? 0 : prefix.back().to + prefix.back().length;
    OutputFile out(temp_->fd(), work_.write, prefixEnd);
    {
        zipio::PrefixCopy copy(oldFd_.get(), temp_->fd(), std::move(prefix));
        writeMembersFrom(first, out);
        copy.finish();
    }
    if (stored_ == 0)
        return true;
    if (!writeDirectory(out))
        return false;
    out.flush();
    installArchive();
    return true;
}

// The members kept ahead of the first new one keep their order at the start
// of the new archive; returns their copies and sets `first` to the first
// member after them.
std::vector<zipio::PrefixCopy::Range> ZipRun::placeKeptPrefix(std::size_t& first)
{
    std::vector<zipio::PrefixCopy::Range> ranges;
    std::uint64_t end = 0;
    for (first = 0; first < members_.size() && members_[first].state == State::keep; ++first) {
        Member& m = members_[first];
        const auto& old = old_.members[static_cast<std::size_t>(m.existing)];
        placeKept(m, end);
        ranges.push_back({old.localOffset, end, old.span});
        end += old.span;
    }
    return ranges;
}

// A kept member copied whole to `offset`: its central header points there.
void ZipRun::placeKept(Member& member, std::uint64_t offset)
{
    const auto& old = old_.members[static_cast<std::size_t>(member.existing)];
    member.newOffset = offset;
    member.central = zipfmt::movedCentralHeader(old.central, static_cast<std::uint32_t>(offset));
}

void ZipRun::writeMembersFrom(std::size_t first, OutputFile& out)
{
    for (std::size_t i = first; i < members_.size(); ++i) {
        Member& m = members_[i];
        if (m.state == State::keep) {
            copyKept(m, out);
        } else if (m.state == State::compress) {
            if (storeFile(m, static_cast<int>(i + 1), out))
                continue;
            m.state = m.replacing ? State::keep : State::drop;
            if (m.state == State::keep)
                copyKept(m, out);
        }
    }
}

void ZipRun::copyKept(Member& member, OutputFile& out)
{
    const auto& old = old_.members[static_cast<std::size_t>(member.existing)];
    placeKept(member, out.position());
    out.copyFrom(oldFd_.get(), old.localOffset, old.span, work_.input);
}

bool ZipRun::storeFile(Member& member, int count, OutputFile& out)
{
    const Source& source = member.source;
    if (!beginAllowed(source, count))
        return false;
    Fd in;
    struct stat st;
    if (!openSource(source, in, st))
        return false;
    const Identity before = identityOf(st);
    const std::uint64_t fileTotal = static_cast<std::uint64_t>(st.st_size);
    const std::uint64_t runDoneBefore = runDone_;
    member.newOffset = out.position();
    auto giveUp = [&](int code, const std::string& why) {
        out.truncate(member.newOffset);
        runDone_ = runDoneBefore;
        error(source.path, code, why);
        return false;
    };

    zipfmt::MemberFields fields;
    fields.dosDateTime = dosDateTime(st.st_mtime);
    fields.flags = member.stored.utf8 ? zipfmt::FlagUtf8Name : 0;
    const MemberMethod method =
        chooseMethod(zip_.CompressMethod, zip_.DeflateType, zip_.StoreFilesOfType, source.relativeName);
    try {
        MemberEncoder encoder(work_, out, zip_.sizeLimit_);
        fields = encoder.write(in.get(), member.stored.bytes, fields, method, [&](std::uint64_t fileDone) {
            runDone_ = runDoneBefore + fileDone;
            report(percent(fileDone, fileTotal), percent(runDone_, runTotal_));
        });
    } catch (const MemberRefused& refused) {
        return giveUp(refused.code, refused.why);
    } catch (const zipio::ReadFailure& failure) {
        return giveUp(zip_error::ReadFile, failure.what());
    }
    if (!fitsLimit(static_cast<std::size_t>(&member - members_.data()), out))
        return giveUp(zip_error::ArchiveTooLarge, TooLarge);
    member.central = zipfmt::centralHeader(fields, member.stored.bytes, source.attributes,
                                           static_cast<std::uint32_t>(member.newOffset));
    ++stored_;
    noteStored(source, in.get(), before);
    return true;
}

// OnBegin may leave a file out.
bool ZipRun::beginAllowed(const Source& source, int count)
{
    bool extract = true;
    if (zip_.OnBegin)
        zip_.OnBegin(zip_, source.path, count, extract);
    return extract;
}

bool ZipRun::openSource(const Source& source, Fd& in, struct stat& st)
{
    in.reset(::open(source.path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!in || ::fstat(in.get(), &st) != 0) {
        error(source.path, zip_error::OpenFile, zipio::errorText(errno));
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error(source.path, zip_error::OpenFile, "not a regular file");
        return false;
    }
    if (static_cast<std::uint64_t>(st.st_size) >= FourGiB) {
        error(source.path, zip_error::FileTooLarge, "4 GiB or more");
        return false;
    }
    ::posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    return true;
}

// A file stored as it was when it was opened goes on the move list; one
// that changed meanwhile is kept where it is.
void ZipRun::noteStored(const Source& source, int in, const Identity& before)
{
    struct stat now;
    const bool unchanged = ::fstat(in, &now) == 0 && identityOf(now) == before;
    if (!unchanged)
        error(source.path, zip_error::ChangedWhileStored, "the file changed while it was stored; it is kept");
    else if (zip_.Switch == TSwitch::swMove)
        moves_.push_back({source.path, before});
}

// Whether the archive, with member `index` written, still stays below the
// size limit once the members after it and the directory are added.
bool ZipRun::fitsLimit(std::size_t index, const OutputFile& out) const
{
    std::uint64_t needed = out.position() + zipfmt::EndRecordSize + old_.comment.size();
    for (std::size_t i = 0; i < members_.size(); ++i) {
        const Member& m = members_[i];
        if (m.state == State::drop)
            continue;
        if (m.state == State::keep || (i > index && m.replacing)) {
            const auto& old = old_.members[static_cast<std::size_t>(m.existing)];
            needed += old.central.size() + (i > index ? old.span : 0);
        } else {
            needed += zipfmt::CentralHeaderSize + m.stored.bytes.size();
        }
    }
    return needed <= zip_.sizeLimit_;
}

bool ZipRun::writeDirectory(OutputFile& out)
{
    report(0, 0);
    const std::uint64_t centralOffset = out.position();
    std::size_t entries = 0;
    for (const auto& m : members_) {
        if (m.state == State::drop)
            continue;
        out.write(m.central);
        ++entries;
    }
    const std::uint64_t centralSize = out.position() - centralOffset;
    if (out.position() + zipfmt::EndRecordSize + old_.comment.size() > zip_.sizeLimit_) {
        error(archivePath_, zip_error::ArchiveTooLarge, TooLarge);
        return false;
    }
    out.write(zipfmt::endRecord(static_cast<std::uint16_t>(entries), static_cast<std::uint32_t>(centralSize),
                                static_cast<std::uint32_t>(centralOffset), old_.comment));
    return true;
}

void ZipRun::installArchive()
{
    std::optional<mode_t> mode;
    if (archiveExisted_)
        mode = archiveStat_.st_mode & 07777;
    temp_->installAs(archivePath_, archiveFolder_, mode, work_.input);
    if (oldFd_)
        work_.releaseReplaced(oldFd_.release());
}

// --- move mode ------------------------------------------------------------

// The files now held by the archive go to the trash, each only if it is
// still the very file that was stored.
void ZipRun::removeSources()
{
    if (zip_.Switch != TSwitch::swMove || moves_.empty())
        return;
    struct stat st;
    if (::stat(archivePath_.c_str(), &st) != 0)
        return;
    report(0, 0);
    const int maxCount = static_cast<int>(moves_.size());
    int count = 0;
    for (const auto& move : moves_) {
        ++count;
        struct stat now;
        if (::stat(move.path.c_str(), &now) != 0)
            continue; // gone already
        if (!(identityOf(now) == move.identity)) {
            error(move.path, zip_error::ChangedWhileStored,
                  "the file changed after it was stored; it is kept");
            continue;
        }
        std::string reason;
        const bool removed =
            zip_.RemoveToTrash ? zip_.RemoveToTrash(move.path, reason) : moveToTrash(move.path, reason);
        if (!removed) {
            error(move.path, zip_error::Trash, reason);
            continue;
        }
        if (zip_.OnDeleteFile)
            zip_.OnDeleteFile(zip_, move.path, count, maxCount);
    }
}

} // namespace tevrak
