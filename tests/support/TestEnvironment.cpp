#include "support/TestEnvironment.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace tevrak::test {

namespace {

std::string g_base;
int g_closedPort = 0;

// A loopback port held bound for the whole process without listening: a
// connection to it is refused at once, and no other program can take it.
int holdClosedLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot reserve a loopback port for the tests");
    return ntohs(address.sin_port); // the socket stays open until the process ends
}

void pinFtpServerUnlessNamed()
{
    // Plain FTP unless a test of the encrypted line asks for it: the scripted
    // servers and the plain stand-in speak no TLS.
    setenv("TEVRAK_FTP_ENCRYPTION", "Off", 1);
    if (std::getenv("TEVRAK_FTP_HOST") != nullptr)
        return;
    setenv("TEVRAK_FTP_HOST", loopbackNowhere, 1);
    setenv("TEVRAK_FTP_PORT", std::to_string(g_closedPort).c_str(), 1);
}

// A test may remove the variables once it is done with its own server; the
// next test starts pinned again.
class FtpServerPin : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { pinFtpServerUnlessNamed(); }
};

} // namespace

void useTemporaryWorkstation()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "tevrak-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder for the test");
    g_base = pattern;
    const std::filesystem::path base(g_base);
    std::filesystem::create_directories(base / "C");
    std::filesystem::create_directories(base / "config");
    std::filesystem::create_directories(base / "data");
    std::filesystem::create_directories(base / "system-config");
    setenv("TEVRAK_ROOT", (base / "C").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (base / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (base / "data").c_str(), 1);
    // Not the machine's /etc/xdg: an administrator's Tevrak settings there must not reach the tests.
    setenv("XDG_CONFIG_DIRS", (base / "system-config").c_str(), 1);
    setenv("HOME", g_base.c_str(), 1);

    g_closedPort = holdClosedLoopbackPort();
    unsetenv("TEVRAK_FTP_HOST"); // not even the caller's server: tests name their own
    unsetenv("TEVRAK_FTP_PORT");
    pinFtpServerUnlessNamed();
    ::testing::UnitTest::GetInstance()->listeners().Append(new FtpServerPin);
}

std::string temporaryBase() { return g_base; }

std::string driveCFolder() { return (std::filesystem::path(g_base) / "C").string(); }

int closedFtpPort()
{
    return g_closedPort;
}

}  // namespace tevrak::test
