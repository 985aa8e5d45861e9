// Feeds arbitrary bytes to the reply reader as if a server had sent them:
// nothing may crash, and the input buffer must stay bounded by the line limit.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "ftp/TcpLink.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return 0;
    // The first byte picks the line limit, so short limits are explored too.
    const int limit = size > 0 ? 16 << (data[0] % 11) : 16384;
    int sendBuffer = 1 << 20;
    ::setsockopt(ends[0], SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
    ::fcntl(ends[0], F_SETFL, O_NONBLOCK);
    size_t written = 0;
    while (written < size) {
        const ssize_t n = ::send(ends[0], data + written, size - written, MSG_NOSIGNAL);
        if (n <= 0)
            break; // more than the socket holds: the rest is dropped
        written += static_cast<size_t>(n);
    }
    ::close(ends[0]);

    tevrak::TTcpLink link;
    link.MaxLineLength = limit;
    link.RecvBufferSize = 4096 << (size % 4);
    link.Attach(ends[1]);
    const size_t bound = static_cast<size_t>(limit) + 2 * static_cast<size_t>(link.RecvBufferSize) + 32768;
    for (;;) {
        try {
            const int code = link.ReadReply();
            const auto& reply = link.LastReply();
            if (reply.Text.empty() || code != reply.NumericCode || code < 0)
                std::abort();
        } catch (const tevrak::EFtpError&) {
            break;
        }
        if (link.BufferCapacity() > bound)
            std::abort();
    }
    if (link.BufferCapacity() > bound)
        std::abort();
    return 0;
}
