#pragma once

#include <string>

namespace tevrak {

enum class ArchiveMerge { Merged, TheirsUnreadable, Failed };

// Combines two ZIP archives of one claim into `output`: every member of
// `theirs` whose stored name `ours` does not hold, then every member of
// `ours`. Members are copied byte for byte (only their positions change), so
// nothing is compressed again. The output is flushed to disk. Otherwise no
// output file is left and `reason` says why: TheirsUnreadable when `theirs`
// is no archive that can be read whole; Failed when `ours` cannot be read,
// the output cannot be written, or the result would pass the format's limits
// (65535 members, 4 GiB).
ArchiveMerge mergeArchives(const std::string& theirs, const std::string& ours, const std::string& output,
                           std::string& reason);

} // namespace tevrak
