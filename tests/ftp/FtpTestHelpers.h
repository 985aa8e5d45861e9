#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "ftp/FtpLink.h"
#include "support/ScriptedFtpPeer.h"

namespace tevrak::test {

// A client aimed at a scripted peer; a read time-out keeps a faulty client
// from hanging the suite.
inline void aimAt(TFtpLink& link, const ScriptedFtpPeer& peer)
{
    link.Host = "127.0.0.1";
    link.Port = peer.port();
    link.Username = "online";
    link.Password = "tuvorplex";
    link.ReadTimeout = 5000;
    link.DataConnectTimeout = 5000;
}

inline std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

} // namespace tevrak::test
