#pragma once

#include <string>
#include <vector>

namespace tevrak::test {

// A real FTP server for a test: the project's stand-in server script
// (scripts/ftp-server, pyftpdlib) on a free loopback port, serving rootFolder
// to user "online" with password "tuvorplex". Stopped on destruction (and
// killed with the test process should that die first).
class LocalFtpServer {
public:
    static constexpr const char* User = "online";
    static constexpr const char* Password = "tuvorplex";
    static constexpr const char* Host = "127.0.0.1";

    LocalFtpServer() = default;
    ~LocalFtpServer();
    LocalFtpServer(const LocalFtpServer&) = delete;
    LocalFtpServer& operator=(const LocalFtpServer&) = delete;

    // Starts the server (creating rootFolder when missing) and returns its
    // port once it accepts connections. Throws std::runtime_error on failure.
    // options go to the script as they are (for example "--rate", "400000").
    int start(const std::string& rootFolder, const std::vector<std::string>& options = {});
    void stop();

    bool running() const { return pid_ > 0; }
    int port() const { return port_; }
    const std::string& root() const { return root_; }

    // Where the server script lives (TEVRAK_SOURCE_DIR, else next to this source).
    static std::string scriptPath();

private:
    int pid_ = -1;
    int port_ = 0;
    std::string root_;
};

} // namespace tevrak::test
