#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace tevrak {

enum class ArchiveMerge { Merged, TheirsUnreadable, Failed };

// Caps on the server's archive, which is untrusted input: passing one makes it
// TheirsUnreadable, with a reason that names the cap.
inline constexpr std::uint64_t MaxServerArchiveBytes = 2ull << 30;  // the whole file: 2 GiB
inline constexpr std::uint32_t MaxServerMemberBytes = 256u << 20;   // a member's declared size,
                                                                    // compressed or not: 256 MiB
inline constexpr std::size_t MaxServerArchiveParts = 1024;          // archives joined end to end

// Chooses a new stored name for a member that would otherwise put a second,
// different document under a name already kept (the claim's next free
// document number). `takenNames` holds every stored name of both archives and
// every name given so far; `clashingName` is the member's stored name. The
// name returned must differ from each taken name also without regard to ASCII
// letter case, and is stored as given (the member's flags are kept, so give
// ASCII); "" when there is none, and the merge fails.
using NewMemberName =
    std::function<std::string(const std::set<std::string>& takenNames, const std::string& clashingName)>;

// A member the merge stored under a new name, for the caller's log.
struct RenamedMember {
    std::string from, to; // stored names
    bool ours = false;    // one of ours, or one of an earlier archive in the server's joined file
};

// Combines the server's archive of a claim (`theirs`) with ours into `output`,
// losing no document of either:
// - `theirs` may be several whole archives joined end to end (an earlier
//   program appended them): every member of every part is taken, in file
//   order. When two of them hold one name, the later is the newer: the same
//   document (same CRC and size, and both members' data really are that) is
//   kept once; a different one keeps both, the earlier under a new name.
// - Then every member of `ours`. A name that `theirs` holds too: the same
//   document is kept once, as ours; a different one keeps both, theirs under
//   its name and ours under a new name.
// Names are compared as stored bytes, and also without regard to ASCII letter
// case (names from Windows servers). New names come from `newName`; each one
// given is listed in `renamed`. Members are copied byte for byte (only their
// positions change, and a renamed member's name fields), so nothing is
// compressed again; member data is inflated only to confirm that two members
// are the same document. The output carries the comment of `ours` and is
// flushed to disk. Otherwise no output file is left and `reason` says why:
// TheirsUnreadable when `theirs` is not archives that can be read whole and
// strictly (zipfmt::readJoinedArchive: every byte of the file belongs to a
// member, a directory or an end record; no ZIP64; within the caps above);
// Failed when `ours` cannot be read, no new name is given, the output cannot
// be written, or the result would pass the format's limits (65535 members,
// 4 GiB).
ArchiveMerge mergeArchives(const std::string& theirs, const std::string& ours, const std::string& output,
                           const NewMemberName& newName, std::vector<RenamedMember>& renamed,
                           std::string& reason);

} // namespace tevrak
