#pragma once

#include <string>

namespace tevrak::zipname {

// A member name as the archive stores it.
struct StoredName {
    std::string bytes;
    bool utf8 = false; // written with general-purpose bit 11
};

// Turns a file's name (UTF-8, as on this platform's disks) into the bytes
// stored in the archive. With translateOem the name goes into the OEM code
// page (CP874 on a Thai workstation); a name that the code page cannot hold
// is stored as UTF-8 and flagged so. A name that is not valid UTF-8 is
// stored as its bytes.
StoredName encode(const std::string& name, bool translateOem, const std::string& codePage);

// The UTF-8 form of a stored member name, for comparing names.
std::string decode(const std::string& bytes, bool utf8Flag, const std::string& codePage);

bool isValidUtf8(const std::string& text);

// Equality without regard to letter case (ASCII letters; Thai has no case).
bool equalIgnoringCase(const std::string& a, const std::string& b);

// Wildcard match of a file name against a pattern with * and ?, without
// regard to letter case; "*.*" matches every name.
bool wildcardMatch(const std::string& pattern, const std::string& name);

} // namespace tevrak::zipname
