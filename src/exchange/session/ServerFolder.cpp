#include "exchange/session/ServerFolder.h"

namespace tevrak::exchange {

namespace {

bool isDotEntry(const std::string& name)
{
    const std::string last = lastComponent(name);
    return last == "." || last == "..";
}

// The listing of `specifier`; nothing when the server calls the folder empty (450).
std::vector<std::string> listOrEmpty(TFtpLink& link, const std::string& specifier)
{
    std::vector<std::string> names;
    try {
        link.ListNames(&names, specifier, false);
    } catch (const EFtpReplyError& refused) {
        if (refused.NumericCode() != 450)
            throw;
        names.clear();
    }
    return names;
}

} // namespace

std::string lastComponent(const std::string& listedName)
{
    const size_t separator = listedName.find_last_of("/\\");
    return separator == std::string::npos ? listedName : listedName.substr(separator + 1);
}

std::vector<std::string> listServerFolder(TFtpLink& link)
{
    std::vector<std::string> names;
    try {
        names = listOrEmpty(link, "*.*");
    } catch (const EFtpReplyError& refused) {
        if (refused.NumericCode() != 550)
            throw;
        names = listOrEmpty(link, "");
    }
    std::erase_if(names, [](const std::string& name) { return name.empty() || isDotEntry(name); });
    return names;
}

std::set<std::string> namesHeld(const std::vector<std::string>& listed)
{
    std::set<std::string> names;
    for (const std::string& name : listed)
        names.insert(lastComponent(name));
    return names;
}

std::string foldCase(const std::string& name)
{
    std::string folded = name;
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

ServerNames::ServerNames(const std::set<std::string>& listed)
{
    for (const std::string& name : listed)
        add(name);
}

std::optional<std::string> ServerNames::find(const std::string& name) const
{
    const auto [first, last] = m_byFolded.equal_range(foldCase(name));
    for (auto it = first; it != last; ++it)
        if (it->second == name)
            return name;
    if (first != last)
        return first->second;
    return std::nullopt;
}

std::vector<std::string> ServerNames::startingWith(const std::string& prefix) const
{
    const std::string folded = foldCase(prefix);
    std::vector<std::string> names;
    for (auto it = m_byFolded.lower_bound(folded); it != m_byFolded.end() && it->first.starts_with(folded); ++it)
        names.push_back(it->second);
    return names;
}

std::string ServerNames::unused(const std::string& wanted) const
{
    std::string name = wanted;
    for (int n = 2; find(name); ++n)
        name = wanted + "-" + std::to_string(n);
    return name;
}

void ServerNames::add(const std::string& name)
{
    const std::string folded = foldCase(name);
    const auto [first, last] = m_byFolded.equal_range(folded);
    for (auto it = first; it != last; ++it)
        if (it->second == name)
            return;
    m_byFolded.emplace(folded, name);
}

void ServerNames::remove(const std::string& name)
{
    const auto [first, last] = m_byFolded.equal_range(foldCase(name));
    for (auto it = first; it != last; ++it)
        if (it->second == name) {
            m_byFolded.erase(it);
            return;
        }
}

} // namespace tevrak::exchange
