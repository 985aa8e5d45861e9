#pragma once

#include "ftp/FtpLink.h"

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

} // namespace tevrak::exchange
