#include "ftp/DataListener.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "ftp/SocketUtil.h"

namespace tevrak {

TDataListener::TDataListener() = default;

TDataListener::~TDataListener()
{
    Close();
}

void TDataListener::Listen()
{
    Close();
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw EFtpSocketError(errno, "Cannot allocate socket.");
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<uint16_t>(BoundPort));
    if (!BoundIP.empty() && !socketutil::ParseDottedQuad(BoundIP, local.sin_addr)) {
        ::close(fd);
        throw EFtpSocketError(EADDRNOTAVAIL, "Could not bind socket. Address and port are already in use.");
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        const int error = errno;
        ::close(fd);
        throw EFtpSocketError(error, "Could not bind socket. Address and port are already in use.");
    }
    socklen_t length = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0 || ::listen(fd, Backlog) != 0) {
        const int error = errno;
        ::close(fd);
        throw EFtpSocketError(error);
    }
    BoundPort = ntohs(local.sin_port);
    fd_ = fd;
}

TDataListener::TWaitResult TDataListener::WaitForConnection(int timeout, const std::string& allowedPeer,
                                                            int controlHandle, const std::function<void()>& pulse)
{
    if (fd_ < 0)
        throw EFtpNotConnected();
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout > 0 ? timeout : 0);
    for (;;) {
        int wait = timeout > 0 ? socketutil::MillisecondsLeft(deadline) : -1;
        if (wait == 0)
            return TWaitResult::TimedOut;
        if (pulse && (wait < 0 || wait > socketutil::PulseInterval))
            wait = socketutil::PulseInterval;
        pollfd watched[2] = {{fd_, POLLIN, 0}, {controlHandle, POLLIN, 0}};
        const int n = ::poll(watched, controlHandle >= 0 ? 2 : 1, wait);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw EFtpSocketError(errno);
        }
        if (n == 0) {
            if (pulse)
                pulse();
            continue; // the deadline check above ends the wait
        }
        if (watched[0].revents == 0) {
            if (controlHandle >= 0 && watched[1].revents != 0)
                return TWaitResult::ControlReadable;
            continue;
        }
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const int accepted = ::accept4(fd_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
        if (accepted < 0) {
            if (errno == EINTR || errno == ECONNABORTED || errno == EAGAIN || errno == EPROTO)
                continue;
            throw EFtpSocketError(errno);
        }
        if (!allowedPeer.empty() && socketutil::AddressText(peer.sin_addr) != allowedPeer) {
            // Somebody else on the network: neither feed nor steal the transfer.
            ::close(accepted);
            ++refused_;
            continue;
        }
        ::close(fd_);
        fd_ = -1;
        connection_.RecvBufferSize = RecvBufferSize;
        connection_.SendBufferSize = SendBufferSize;
        connection_.Attach(accepted);
        return TWaitResult::Accepted;
    }
}

void TDataListener::Close()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    connection_.Close();
}

} // namespace tevrak
