#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "ftp/FtpLink.h"
#include "support/ScriptedFtpPeer.h"
#include "support/TestEnvironment.h"

#include <algorithm>
#include <vector>

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

// The commands the client sent after the login (USER, PASS, TYPE, SYST).
inline std::vector<std::string> commandsAfterLogin(const ScriptedFtpPeer& peer)
{
    const auto all = peer.commands();
    return std::vector<std::string>(all.begin() + std::min<size_t>(4, all.size()), all.end());
}

// A folder of the test process's own for one test file's scratch files.
inline std::filesystem::path scratchFolder(const std::string& name)
{
    const std::filesystem::path folder = std::filesystem::path(temporaryBase()) / name;
    std::filesystem::create_directories(folder);
    return folder;
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
