#pragma once

// Lets one test address two scripted servers under one port: the exchange
// opens its upload and its download connection to the same host and port,
// while a ScriptedFtpPeer serves one connection only. The router listens on a
// loopback port and forwards its n-th connection to the n-th target port,
// byte for byte in both directions (half-closes included).

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tevrak::test {

class ConnectionRouter {
public:
    explicit ConnectionRouter(std::vector<int> targetPorts) : targets_(std::move(targetPorts))
    {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listen_, 4) != 0 ||
            ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("router cannot listen");
        port_ = ntohs(address.sin_port);
        acceptor_ = std::thread([this] { acceptAll(); });
    }

    ~ConnectionRouter()
    {
        stop_ = true;
        acceptor_.join();
        for (auto& pump : pumps_)
            pump.join();
        ::close(listen_);
    }

    int port() const { return port_; }

private:
    void acceptAll()
    {
        for (size_t next = 0; next < targets_.size() && !stop_;) {
            pollfd p{listen_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0)
                continue;
            const int client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in target{};
            target.sin_family = AF_INET;
            target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            target.sin_port = htons(static_cast<uint16_t>(targets_[next++]));
            if (::connect(server, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
                ::close(server);
                ::close(client);
                continue;
            }
            pumps_.emplace_back([this, client, server] { pump(client, server); });
        }
    }

    // Copies both ways until both directions have ended (or the router stops).
    void pump(int a, int b)
    {
        bool aOpen = true;
        bool bOpen = true;
        char buffer[65536];
        while ((aOpen || bOpen) && !stop_) {
            pollfd p[2] = {{aOpen ? a : -1, POLLIN, 0}, {bOpen ? b : -1, POLLIN, 0}};
            if (::poll(p, 2, 100) <= 0)
                continue;
            for (int i = 0; i < 2; ++i) {
                if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                const int from = i == 0 ? a : b;
                const int to = i == 0 ? b : a;
                const ssize_t n = ::recv(from, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    ::shutdown(to, SHUT_WR);
                    (i == 0 ? aOpen : bOpen) = false;
                    continue;
                }
                for (ssize_t sent = 0; sent < n;) {
                    const ssize_t s = ::send(to, buffer + sent, static_cast<size_t>(n - sent), MSG_NOSIGNAL);
                    if (s <= 0)
                        break;
                    sent += s;
                }
            }
        }
        ::close(a);
        ::close(b);
    }

    std::vector<int> targets_;
    int listen_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread acceptor_;
    std::vector<std::thread> pumps_;
};

} // namespace tevrak::test
