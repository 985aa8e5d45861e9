#pragma once

// Finding the files a FileSpec entry names, and the attribute filter the
// component applies to them.

#include <cstdint>
#include <functional>
#include <string>
#include <sys/stat.h>

namespace tevrak {

struct FoundFile {
    std::string path;
    std::string relativeName; // below the FileSpec entry's folder, "/" separated
    std::string name;         // the last part
    struct stat st;
};

// Calls `found` for every regular, not hidden file that `entry` (a path whose
// last part may hold * and ?) names, folder by folder in case-folded name
// order; with `recurse`, also in the sub-folders (not through links to
// folders, at most 64 deep).
void scanSources(const std::string& entry, bool recurse, const std::function<void(const FoundFile&)>& found);

// The attribute bits a directory scan on the workstation reports for a file.
std::uint32_t attributesOf(const std::string& name, const struct stat& st);

// Whether a file with attribute bits `attrs` is taken, given the
// Attributes and AttributesEx sets (TFileAttr members).
bool attributesTaken(std::uint32_t attrs, std::uint32_t attributesSet, std::uint32_t attributesExSet);

} // namespace tevrak
