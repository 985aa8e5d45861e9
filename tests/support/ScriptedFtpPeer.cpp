#include "support/ScriptedFtpPeer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace tevrak::test {

namespace {

constexpr int StepTimeoutMs = 5000;

bool waitReadable(int fd, int timeoutMs)
{
    pollfd p{fd, POLLIN, 0};
    for (;;) {
        const int n = ::poll(&p, 1, timeoutMs);
        if (n >= 0)
            return n > 0;
        if (errno != EINTR)
            return false;
    }
}

void sendAll(int fd, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw ScriptAbort{std::string("send failed: ") + std::strerror(errno)};
        }
        done += static_cast<size_t>(n);
    }
}

} // namespace

ScriptedFtpPeer::ScriptedFtpPeer(std::vector<Step> script)
{
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 4) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("scripted FTP peer cannot listen");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this, s = std::move(script)]() mutable { run(std::move(s)); });
}

ScriptedFtpPeer::~ScriptedFtpPeer()
{
    finish();
}

void ScriptedFtpPeer::finish()
{
    if (thread_.joinable())
        thread_.join();
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        listenFd_ = -1;
    }
}

void ScriptedFtpPeer::fail(const std::string& what)
{
    std::lock_guard<std::mutex> hold(lock_);
    if (failure_.empty())
        failure_ = what;
}

std::vector<std::string> ScriptedFtpPeer::commands() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return commands_;
}

std::string ScriptedFtpPeer::failure() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return failure_;
}

std::string ScriptedFtpPeer::received() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return received_;
}

void ScriptedFtpPeer::run(std::vector<Step> script)
{
    if (!waitReadable(listenFd_, StepTimeoutMs)) {
        fail("the client never connected");
        return;
    }
    const int control = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (control < 0) {
        fail("accept failed");
        return;
    }
    ScriptedFtpSession session(*this, control);
    try {
        for (auto& step : script)
            step(session);
    } catch (const ScriptAbort& abort) {
        fail(abort.why);
    } catch (const std::exception& error) {
        fail(error.what());
    }
    session.closeData();
    if (session.passive_ >= 0)
        ::close(session.passive_);
    if (session.control_ >= 0) {
        // Let the client read everything, then wait (bounded) for its close.
        ::shutdown(session.control_, SHUT_WR);
        session.waitForClientClose(3000);
        session.closeControl();
    }
}

std::vector<ScriptedFtpPeer::Step> ScriptedFtpPeer::login()
{
    return {
        [](ScriptedFtpSession& s) { s.reply("220 scripted peer ready"); },
        [](ScriptedFtpSession& s) { s.answer("USER ", "331 password please"); },
        [](ScriptedFtpSession& s) { s.answer("PASS ", "230 logged in"); },
        [](ScriptedFtpSession& s) { s.answer("TYPE I", "200 binary"); },
        [](ScriptedFtpSession& s) { s.answer("SYST", "215 UNIX Type: L8"); },
    };
}

std::vector<ScriptedFtpPeer::Step> ScriptedFtpPeer::afterLogin(std::vector<Step> steps)
{
    std::vector<Step> script = login();
    for (auto& step : steps)
        script.push_back(std::move(step));
    return script;
}

void ScriptedFtpSession::send(const std::string& bytes)
{
    if (control_ < 0)
        throw ScriptAbort{"send on a closed control connection"};
    sendAll(control_, bytes);
}

void ScriptedFtpSession::reply(const std::string& line)
{
    send(line + "\r\n");
}

std::string ScriptedFtpSession::expect(const std::string& prefix)
{
    for (;;) {
        const size_t end = input_.find("\r\n");
        if (end != std::string::npos) {
            std::string line = input_.substr(0, end);
            input_.erase(0, end + 2);
            {
                std::lock_guard<std::mutex> hold(peer_.lock_);
                peer_.commands_.push_back(line);
            }
            if (line.rfind(prefix, 0) != 0)
                throw ScriptAbort{"expected \"" + prefix + "\", got \"" + line + "\""};
            if (line.rfind("PORT ", 0) == 0) {
                unsigned h1, h2, h3, h4, p1, p2;
                if (std::sscanf(line.c_str() + 5, "%u,%u,%u,%u,%u,%u", &h1, &h2, &h3, &h4, &p1, &p2) == 6) {
                    portAddress_ = std::to_string(h1) + "." + std::to_string(h2) + "." + std::to_string(h3) +
                                   "." + std::to_string(h4);
                    portNumber_ = static_cast<int>(p1 * 256 + p2);
                }
            }
            return line;
        }
        if (control_ < 0 || !waitReadable(control_, StepTimeoutMs))
            throw ScriptAbort{"no command came (expected \"" + prefix + "\")"};
        char chunk[4096];
        const ssize_t n = ::recv(control_, chunk, sizeof chunk, 0);
        if (n <= 0)
            throw ScriptAbort{"client closed while \"" + prefix + "\" was expected"};
        input_.append(chunk, static_cast<size_t>(n));
    }
}

void ScriptedFtpSession::answer(const std::string& prefix, const std::string& line)
{
    expect(prefix);
    reply(line);
}

void ScriptedFtpSession::closeControl()
{
    if (control_ >= 0) {
        ::close(control_);
        control_ = -1;
    }
}

bool ScriptedFtpSession::waitForClientClose(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (control_ >= 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count();
        if (left <= 0 || !waitReadable(control_, static_cast<int>(left)))
            return false;
        char chunk[4096];
        const ssize_t n = ::recv(control_, chunk, sizeof chunk, 0);
        if (n <= 0)
            return true;
        // Whatever the client still sends is recorded: a command after the
        // script's end (a DELE no step expected) shows in commands().
        input_.append(chunk, static_cast<size_t>(n));
        for (size_t end; (end = input_.find("\r\n")) != std::string::npos;) {
            std::lock_guard<std::mutex> hold(peer_.lock_);
            peer_.commands_.push_back(input_.substr(0, end));
            input_.erase(0, end + 2);
        }
    }
    return true;
}

void ScriptedFtpSession::silence(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int ScriptedFtpSession::connectToPort(const std::string& sourceAddress)
{
    if (portNumber_ == 0)
        throw ScriptAbort{"no PORT command to connect to"};
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, sourceAddress.c_str(), &local.sin_addr);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(static_cast<uint16_t>(portNumber_));
    ::inet_pton(AF_INET, portAddress_.c_str(), &remote.sin_addr);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
        const std::string why = std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        throw ScriptAbort{"cannot connect to the PORT address: " + why};
    }
    return fd;
}

void ScriptedFtpSession::openData()
{
    closeData();
    data_ = connectToPort("127.0.0.1");
    ++peer_.dataConnections_;
}

void ScriptedFtpSession::sendData(const std::string& bytes)
{
    if (data_ < 0)
        throw ScriptAbort{"no data connection"};
    sendAll(data_, bytes);
}

std::string ScriptedFtpSession::receiveData()
{
    if (data_ < 0)
        throw ScriptAbort{"no data connection"};
    std::string bytes;
    for (;;) {
        if (!waitReadable(data_, StepTimeoutMs))
            throw ScriptAbort{"the client neither sent nor closed the data connection"};
        char chunk[65536];
        const ssize_t n = ::recv(data_, chunk, sizeof chunk, 0);
        if (n < 0)
            throw ScriptAbort{std::string("data receive failed: ") + std::strerror(errno)};
        if (n == 0)
            break;
        bytes.append(chunk, static_cast<size_t>(n));
    }
    std::lock_guard<std::mutex> hold(peer_.lock_);
    peer_.received_ += bytes;
    return bytes;
}

void ScriptedFtpSession::closeData()
{
    if (data_ >= 0) {
        ::close(data_);
        data_ = -1;
    }
}

int ScriptedFtpSession::listenForData()
{
    if (passive_ >= 0)
        ::close(passive_);
    passive_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (passive_ < 0 || ::bind(passive_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(passive_, 1) != 0 ||
        ::getsockname(passive_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw ScriptAbort{"cannot listen for a passive data connection"};
    return ntohs(address.sin_port);
}

void ScriptedFtpSession::acceptData()
{
    if (passive_ < 0 || !waitReadable(passive_, StepTimeoutMs))
        throw ScriptAbort{"the client did not open the passive data connection"};
    closeData();
    data_ = ::accept4(passive_, nullptr, nullptr, SOCK_CLOEXEC);
    ::close(passive_);
    passive_ = -1;
    if (data_ < 0)
        throw ScriptAbort{"accept of the passive data connection failed"};
    ++peer_.dataConnections_;
}

void ScriptedFtpSession::resetData()
{
    if (data_ >= 0) {
        linger abort{1, 0};
        ::setsockopt(data_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        ::close(data_);
        data_ = -1;
    }
}

bool ScriptedFtpSession::foreignConnectionRefused(const std::string& sourceAddress, int timeoutMs)
{
    const int fd = connectToPort(sourceAddress);
    // A refused connection is closed by the client without a byte either way.
    bool refused = false;
    if (waitReadable(fd, timeoutMs)) {
        char byte;
        refused = ::recv(fd, &byte, 1, 0) <= 0;
    }
    ::close(fd);
    return refused;
}

} // namespace tevrak::test
