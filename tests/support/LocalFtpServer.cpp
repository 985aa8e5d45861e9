#include "support/LocalFtpServer.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tevrak::test {

std::string LocalFtpServer::scriptPath()
{
    if (const char* source = std::getenv("TEVRAK_SOURCE_DIR"); source && *source)
        return (std::filesystem::path(source) / "scripts" / "ftp-server").string();
    // The checkout this program was built from (not __FILE__, which a compiler
    // cache may have made relative).
    return (std::filesystem::path(TEVRAK_SOURCE_DIR) / "scripts" / "ftp-server").string();
}

LocalFtpServer::~LocalFtpServer()
{
    stop();
}

int LocalFtpServer::start(const std::string& rootFolder, const std::vector<std::string>& options)
{
    stop();
    std::filesystem::create_directories(rootFolder);
    root_ = std::filesystem::absolute(rootFolder).string();
    const std::string script = scriptPath();
    if (!std::filesystem::exists(script))
        throw std::runtime_error("FTP server script not found: " + script);

    // Built before the fork: the child only calls what is safe there.
    std::vector<const char*> argv = {"/usr/bin/python3", script.c_str(), root_.c_str(), "0", "--quiet"};
    for (const std::string& option : options)
        argv.push_back(option.c_str());
    argv.push_back(nullptr);

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(out[0]);
        ::close(out[1]);
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(1);
        ::dup2(out[1], STDOUT_FILENO);
        ::execv(argv[0], const_cast<char* const*>(argv.data()));
        ::_exit(127);
    }
    ::close(out[1]);
    pid_ = pid;

    // The script's first line is "listening on 127.0.0.1:<port>".
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (line.find('\n') == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count();
        pollfd p{out[0], POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0)
            break;
        char chunk[256];
        const ssize_t n = ::read(out[0], chunk, sizeof chunk);
        if (n <= 0)
            break;
        line.append(chunk, static_cast<size_t>(n));
    }
    ::close(out[0]);
    const size_t colon = line.rfind(':');
    port_ = colon == std::string::npos ? 0 : std::atoi(line.c_str() + colon + 1);
    if (line.rfind("listening on ", 0) != 0 || port_ <= 0) {
        stop();
        throw std::runtime_error("FTP server did not start: " + line);
    }
    return port_;
}

void LocalFtpServer::stop()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    port_ = 0;
}

} // namespace tevrak::test
