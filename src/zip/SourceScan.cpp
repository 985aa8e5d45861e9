#include "zip/SourceScan.h"

#include "zip/FileIo.h"
#include "zip/MemberName.h"
#include "zip/Zip.h"

#include <algorithm>
#include <dirent.h>
#include <strings.h>
#include <utility>
#include <vector>

namespace tevrak {

namespace {

constexpr int MaxFolderDepth = 64;

// The attribute bits that the members of a TFileAttr set stand for.
std::uint32_t attributesOfSet(std::uint32_t set)
{
    static constexpr std::pair<std::uint32_t, std::uint32_t> bits[] = {
        {fsReadOnly, fs_attr::ReadOnly},     {fsHidden, fs_attr::Hidden},       {fsSysFile, fs_attr::SysFile},
        {fsVolumeID, fs_attr::VolumeId},     {fsDirectory, fs_attr::Directory}, {fsArchive, fs_attr::Archive},
        {fsCompressed, fs_attr::Compressed}, {fsEncrypted, fs_attr::Encrypted},
    };
    std::uint32_t attrs = 0;
    for (const auto& [member, bit] : bits)
        if (set & member)
            attrs |= bit;
    return attrs;
}

// The names in `folder` but the hidden ones (and "." and ".."), sorted
// without regard to case.
std::vector<std::string> visibleNames(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(dir)) {
            if (e->d_name[0] != '.')
                names.emplace_back(e->d_name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const int c = ::strcasecmp(a.c_str(), b.c_str());
        return c != 0 ? c < 0 : a < b;
    });
    return names;
}

void scanFolder(const std::string& folder, const std::string& pattern, const std::string& prefix, int depth,
                bool recurse, const std::function<void(const FoundFile&)>& found)
{
    std::vector<std::string> folders;
    for (const auto& name : visibleNames(folder)) {
        const bool matches = zipname::wildcardMatch(pattern, name);
        if (!matches && !recurse)
            continue;
        const std::string path = zipio::join(folder, name);
        struct stat st;
        if (::stat(path.c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            struct stat link;
            if (recurse && depth < MaxFolderDepth && ::lstat(path.c_str(), &link) == 0 &&
                S_ISDIR(link.st_mode))
                folders.push_back(name);
            continue;
        }
        if (matches && S_ISREG(st.st_mode)) // never a pipe or a device: reading one could block
            found({path, prefix + name, name, st});
    }
    for (const auto& sub : folders)
        scanFolder(zipio::join(folder, sub), pattern, prefix + sub + "/", depth + 1, recurse, found);
}

} // namespace

void scanSources(const std::string& rawEntry, bool recurse,
                 const std::function<void(const FoundFile&)>& found)
{
    const std::string entry = zipio::withSlashes(rawEntry);
    const std::string pattern = zipio::nameOf(entry);
    if (pattern.empty())
        return;
    scanFolder(zipio::folderOf(entry), pattern, std::string(), 0, recurse, found);
}

std::uint32_t attributesOf(const std::string& name, const struct stat& st)
{
    std::uint32_t attrs = fs_attr::Archive;
    if (!(st.st_mode & S_IWUSR))
        attrs |= fs_attr::ReadOnly;
    if (!name.empty() && name[0] == '.')
        attrs |= fs_attr::Hidden;
    return attrs;
}

bool attributesTaken(std::uint32_t attrs, std::uint32_t attributesSet, std::uint32_t attributesExSet)
{
    const std::uint32_t plain = attrs & ~fs_attr::Normal;
    bool take;
    if (plain == 0)
        take = attributesSet & fsZeroAttr;
    else
        take = (attrs & attributesOfSet(attributesSet)) != 0 || (attrs & fs_attr::NotContentIndexed) != 0;
    return take && (attrs & attributesOfSet(attributesExSet)) == 0;
}

} // namespace tevrak
