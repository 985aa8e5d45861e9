#include "ftp/SocketUtil.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

namespace tevrak::socketutil {

int MillisecondsLeft(std::chrono::steady_clock::time_point deadline)
{
    using namespace std::chrono;
    const auto now = steady_clock::now();
    if (now >= deadline)
        return 0;
    const auto left = duration_cast<milliseconds>(deadline - now).count();
    return left < 1 ? 1 : static_cast<int>(left);
}

short PollOne(int fd, short events, int timeout, const std::function<void()>& pulse)
{
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout > 0 ? timeout : 0);
    for (;;) {
        pollfd p{fd, events, 0};
        int wait = timeout > 0 ? MillisecondsLeft(deadline) : -1;
        if (timeout > 0 && wait == 0)
            return 0;
        if (pulse && (wait < 0 || wait > PulseInterval))
            wait = PulseInterval;
        const int n = ::poll(&p, 1, wait);
        if (n > 0)
            return p.revents;
        if (n == 0) {
            if (!pulse)
                return 0;
            pulse();
            continue; // the deadline check above ends the wait
        }
        if (errno != EINTR)
            return POLLERR;
    }
}

std::string AddressText(const in_addr& address)
{
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

bool ParseDottedQuad(const std::string& text, in_addr& address)
{
    unsigned parts[4];
    int count = 0;
    size_t i = 0;
    while (count < 4) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9')
            return false;
        unsigned value = 0;
        size_t digits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            value = value * 10 + static_cast<unsigned>(text[i] - '0');
            if (++digits > 3)
                return false;
            ++i;
        }
        if (value > 255)
            return false;
        parts[count++] = value;
        if (count < 4) {
            if (i >= text.size() || text[i] != '.')
                return false;
            ++i;
        }
    }
    if (i != text.size())
        return false;
    address.s_addr = htonl((parts[0] << 24) | (parts[1] << 16) | (parts[2] << 8) | parts[3]);
    return true;
}

int ConnectWithin(int fd, const sockaddr_in& address, int timeout, const std::function<void()>& pulse)
{
    const auto* target = reinterpret_cast<const sockaddr*>(&address);
    if (timeout <= 0) {
        if (::connect(fd, target, sizeof address) == 0)
            return 0;
        if (errno != EINTR)
            return errno;
        // Interrupted: the connect goes on in the background; wait for its end.
        PollOne(fd, POLLOUT, 0, pulse);
        int result = 0;
        socklen_t length = sizeof result;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &result, &length) != 0)
            result = errno;
        return result;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int result = 0;
    if (::connect(fd, target, sizeof address) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            result = errno;
        } else if (PollOne(fd, POLLOUT, timeout, pulse) == 0) {
            result = ETIMEDOUT;
        } else {
            socklen_t length = sizeof result;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &result, &length) != 0)
                result = errno;
        }
    }
    ::fcntl(fd, F_SETFL, flags);
    return result;
}

} // namespace tevrak::socketutil
