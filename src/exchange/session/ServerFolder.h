#pragma once

#include "ftp/FtpLink.h"

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tevrak::exchange {

// The names in the server's current folder, as the server lists them: "NLST *.*";
// when that is refused with 550 (servers that do not expand wildcards), a
// plain "NLST". A 450 to either, or a listing of only "." and "..", is an
// empty folder; a 550 to the plain NLST is a failure (the folder cannot be
// read). "." and ".." never appear in the result.
std::vector<std::string> listServerFolder(TFtpLink& link);

// The last path component of a listed name ("Claim/x/a.jpg" gives "a.jpg").
std::string lastComponent(const std::string& listedName);

// The names of a listing by their last component, for asking whether the
// server holds a file.
std::set<std::string> namesHeld(const std::vector<std::string>& listed);

// `name` with its ASCII letters in lower case: the bytes by which two names
// are one file on a server that ignores case (Thai bytes have no case).
std::string foldCase(const std::string& name);

// The names of the garage's folder as the upload knows them, looked up without
// regard to ASCII letter case: insurers often run their server on Windows,
// where "ab123456.Zip" and "AB123456.Zip" are one file. Each name keeps the
// server's spelling, which is the one to use for that file's commands.
class ServerNames {
public:
    explicit ServerNames(const std::set<std::string>& listed);

    // The server's spelling of the file `name` names (an exact match first).
    std::optional<std::string> find(const std::string& name) const;
    // The names that begin with `prefix`, without regard to case.
    std::vector<std::string> startingWith(const std::string& prefix) const;
    // `wanted`, or `wanted` with "-2", "-3", ... after it: a name no file has.
    std::string unused(const std::string& wanted) const;

    void add(const std::string& name);
    void remove(const std::string& name);

private:
    std::multimap<std::string, std::string> m_byFolded; // folded name -> spelling
};

} // namespace tevrak::exchange
