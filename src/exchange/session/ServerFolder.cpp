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

} // namespace tevrak::exchange
