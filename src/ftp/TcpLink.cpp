#include "ftp/TcpLink.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <optional>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "ftp/SocketUtil.h"

namespace tevrak {

namespace {

// Consumed bytes at the front of the input buffer are moved out once this many
// have accumulated.
constexpr size_t CompactionThreshold = 32768;

// No server needs more lines than this for one reply; a peer that sends more
// is feeding us without end.
constexpr size_t MaxReplyLines = 1000;

using Clock = std::chrono::steady_clock;

// The point in time a wait of timeout milliseconds ends; none for 0 or less.
std::optional<Clock::time_point> deadlineAfter(int timeout)
{
    if (timeout <= 0)
        return std::nullopt;
    return Clock::now() + std::chrono::milliseconds(timeout);
}

// What is left of a wait until deadline, as a timeout for one receive.
int remaining(const std::optional<Clock::time_point>& deadline)
{
    if (!deadline)
        return 0;
    const int left = socketutil::MillisecondsLeft(*deadline);
    if (left == 0)
        throw EFtpReadTimeout();
    return left;
}

bool equalsIgnoringCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace

TTcpLink::TTcpLink() = default;

TTcpLink::~TTcpLink()
{
    Close();
}

std::string TTcpLink::ResolveHost(const std::string& host)
{
    if (equalsIgnoringCase(host, "localhost"))
        return "127.0.0.1";
    in_addr address{};
    if (socketutil::ParseDottedQuad(host, address))
        return socketutil::AddressText(address);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rc != 0 || !found) {
        const int error = rc == EAI_SYSTEM ? errno : rc;
        throw EFtpSocketError(error, "Socket Error # " + std::to_string(error) + "\r\n" +
                                         (rc == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(rc)));
    }
    const std::string text =
        socketutil::AddressText(reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr);
    ::freeaddrinfo(found);
    return text;
}

void TTcpLink::Connect(int timeout)
{
    if (state_ == State::Open)
        throw EFtpAlreadyConnected();
    begin_ = end_ = 0;
    peerClosed_ = false;
    state_ = State::None;
    encrypted_ = resumed_ = cutOff_ = false;

    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw EFtpSocketError(errno, "Cannot allocate socket.");
    try {
        if (!BoundIP.empty() || BoundPort != 0) {
            sockaddr_in local{};
            local.sin_family = AF_INET;
            local.sin_port = htons(static_cast<uint16_t>(BoundPort));
            if (!BoundIP.empty() && !socketutil::ParseDottedQuad(ResolveHost(BoundIP), local.sin_addr))
                throw EFtpSocketError(EADDRNOTAVAIL,
                                      "Could not bind socket. Address and port are already in use.");
            if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
                throw EFtpSocketError(errno, "Could not bind socket. Address and port are already in use.");
        }
        sockaddr_in remote{};
        remote.sin_family = AF_INET;
        remote.sin_port = htons(static_cast<uint16_t>(Port));
        socketutil::ParseDottedQuad(ResolveHost(Host), remote.sin_addr);
        if (!UseNagle) {
            int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        }
        const int error = socketutil::ConnectWithin(fd, remote, timeout >= 0 ? timeout : ReadTimeout, OnWait);
        if (error != 0)
            throw EFtpSocketError(error);
    } catch (...) {
        ::close(fd);
        throw;
    }
    fd_ = fd;
    state_ = State::Open;
}

void TTcpLink::Attach(int socketHandle)
{
    if (state_ == State::Open)
        throw EFtpAlreadyConnected();
    begin_ = end_ = 0;
    peerClosed_ = false;
    encrypted_ = resumed_ = cutOff_ = false;
    fd_ = socketHandle;
    state_ = State::Open;
    if (!UseNagle) {
        int on = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
}

void TTcpLink::Close()
{
    tls_.reset();
    encrypted_ = resumed_ = cutOff_ = false;
    if (fd_ >= 0) {
        ::shutdown(fd_, SHUT_WR);
        ::close(fd_);
        fd_ = -1;
    }
    state_ = State::None;
    peerClosed_ = false;
}

void TTcpLink::DropSocket()
{
    tls_.reset();
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    state_ = State::Dropped;
}

void TTcpLink::PeerEnded()
{
    if (tls_)
        cutOff_ = tls_->End() == TTlsSession::TEnd::CutOff;
    peerClosed_ = true;
    DropSocket();
}

void TTcpLink::StartTls(TTlsContext& context, const std::string& host, TTlsRole role)
{
    CheckOpenForWrite();
    if (begin_ != end_)
        throw EFtpTlsError("The server sent unencrypted data after agreeing to encrypt the connection.");
    tls_ = std::make_unique<TTlsSession>(context, fd_, host, role, OnWait);
    encrypted_ = true;
    tls_->Handshake(ReadTimeout);
    resumed_ = tls_->Resumed();
}

void TTcpLink::EndSending()
{
    CheckOpenForWrite();
    if (tls_)
        tls_->SendCloseNotify(ReadTimeout);
    else
        ::shutdown(fd_, SHUT_WR);
}

void TTcpLink::AwaitTlsEnd()
{
    CheckOpenForWrite();
    if (tls_)
        tls_->AwaitServerEnd(ReadTimeout);
}

size_t TTcpLink::BufferedBytes() const
{
    return end_ - begin_ + (tls_ ? tls_->Pending() : 0);
}

void TTcpLink::RaiseSocketError(int error)
{
    if (error == ECONNABORTED || error == ECONNRESET || error == ESHUTDOWN || error == EPIPE) {
        DropSocket();
        peerClosed_ = true;
    }
    throw EFtpSocketError(error);
}

void TTcpLink::CheckOpenForWrite() const
{
    if (state_ == State::Dropped)
        throw EFtpClosed();
    if (state_ != State::Open)
        throw EFtpNotConnected();
}

void TTcpLink::RequireOpenForRead() const
{
    if (state_ == State::None)
        throw EFtpNotConnected();
}

void TTcpLink::WriteLine(const std::string& text)
{
    if (text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
        throw EFtpBadCommandText(text);
    std::string line;
    line.reserve(text.size() + 2);
    line += text;
    line += "\r\n";
    WriteBytes(line.data(), line.size());
}

void TTcpLink::WriteBytes(const char* data, size_t size)
{
    CheckOpenForWrite();
    if (tls_) {
        try {
            tls_->Write(data, size, ReadTimeout);
        } catch (const EFtpSocketError& failed) {
            RaiseSocketError(failed.ErrorNumber()); // a peer gone away, as on the plain path
        }
        return;
    }
    const int flags = MSG_NOSIGNAL | (ReadTimeout > 0 ? MSG_DONTWAIT : 0);
    while (size > 0) {
        const ssize_t sent = ::send(fd_, data, size, flags);
        if (sent >= 0) {
            data += sent;
            size -= static_cast<size_t>(sent);
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            const short events = socketutil::PollOne(fd_, POLLOUT, ReadTimeout, OnWait);
            if (events == 0)
                throw EFtpWriteTimeout();
            continue; // errors show on the next send
        }
        RaiseSocketError(errno);
    }
}

void TTcpLink::Reserve(size_t room)
{
    if (capacity_ - end_ >= room)
        return;
    if (begin_ > 0) {
        std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
        if (capacity_ - end_ >= room)
            return;
    }
    const size_t wanted = std::max(end_ + room, capacity_ * 2);
    std::unique_ptr<char[]> grown(new char[wanted]);
    if (end_ > 0)
        std::memcpy(grown.get(), buffer_.get(), end_);
    buffer_ = std::move(grown);
    capacity_ = wanted;
}

void TTcpLink::Consume(size_t count)
{
    begin_ += count;
    if (begin_ == end_) {
        begin_ = end_ = 0;
    } else if (begin_ >= CompactionThreshold) {
        std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
}

bool TTcpLink::WaitReadable(int timeout)
{
    const int limit = timeout >= 0 ? timeout : ReadTimeout;
    if (limit <= 0)
        return true; // the receive itself blocks
    return socketutil::PollOne(fd_, POLLIN, limit, OnWait) != 0;
}

bool TTcpLink::Fill(int timeout, bool raiseOnTimeout)
{
    RequireOpenForRead();
    if (peerClosed_ || fd_ < 0) {
        if (begin_ == end_)
            throw EFtpClosed();
        return false;
    }
    const size_t block = RecvBufferSize > 0 ? static_cast<size_t>(RecvBufferSize) : 32768;
    if (tls_) {
        Reserve(block);
        size_t received = 0;
        try {
            received = tls_->Read(buffer_.get() + end_, block, timeout >= 0 ? timeout : ReadTimeout);
        } catch (const EFtpReadTimeout&) {
            if (raiseOnTimeout)
                throw;
            return false;
        }
        if (received > 0) {
            end_ += received;
            return true;
        }
        PeerEnded();
        if (begin_ == end_)
            throw EFtpClosed();
        return false;
    }
    if (!WaitReadable(timeout)) {
        if (raiseOnTimeout)
            throw EFtpReadTimeout();
        return false;
    }
    Reserve(block);
    for (;;) {
        const ssize_t received = ::recv(fd_, buffer_.get() + end_, block, 0);
        if (received > 0) {
            end_ += static_cast<size_t>(received);
            return true;
        }
        if (received == 0) {
            peerClosed_ = true;
            DropSocket();
            if (begin_ == end_)
                throw EFtpClosed();
            return false;
        }
        if (errno == EINTR)
            continue;
        const int error = errno;
        if ((error == ECONNABORTED || error == ESHUTDOWN) && begin_ != end_) {
            peerClosed_ = true;
            DropSocket();
            return false;
        }
        RaiseSocketError(error);
    }
}

std::string TTcpLink::ReadLine(const std::string& terminator, int timeout, int maxLength)
{
    RequireOpenForRead();
    const std::string term = terminator.empty() ? std::string("\n") : terminator;
    const size_t limit = static_cast<size_t>(maxLength < 0 ? std::max(MaxLineLength, 0) : maxLength);
    // The limit bounds the whole line: a peer that trickles a byte now and
    // then cannot stretch the wait without end.
    const auto deadline = deadlineAfter(timeout >= 0 ? timeout : ReadTimeout);
    size_t searchFrom = 0; // relative to the unread part
    for (;;) {
        const char* unread = buffer_ ? buffer_.get() + begin_ : nullptr;
        const size_t unreadSize = end_ - begin_;
        const char* found = nullptr;
        if (unreadSize >= term.size() && searchFrom + term.size() <= unreadSize) {
            if (term.size() == 1) {
                found = static_cast<const char*>(
                    std::memchr(unread + searchFrom, term[0], unreadSize - searchFrom));
            } else {
                const char* hit =
                    std::search(unread + searchFrom, unread + unreadSize, term.begin(), term.end());
                found = hit == unread + unreadSize ? nullptr : hit;
            }
        }
        if (found) {
            const size_t length = static_cast<size_t>(found - unread);
            if (limit != 0 && length > limit)
                throw EFtpLineTooLong();
            std::string line(unread, length);
            Consume(length + term.size());
            if (term == "\n" && !line.empty() && line.back() == '\r')
                line.pop_back();
            return line;
        }
        if (limit != 0 && unreadSize > limit)
            throw EFtpLineTooLong();
        searchFrom = unreadSize >= term.size() ? unreadSize - term.size() + 1 : 0;
        if (peerClosed_ || fd_ < 0)
            throw EFtpClosed();
        Fill(deadline ? remaining(deadline) : timeout);
    }
}

std::string TTcpLink::NextReplyLine(const std::optional<std::chrono::steady_clock::time_point>& deadline)
{
    for (;;) {
        std::string line = TServerReply::Trim(ReadLine("\n", deadline ? remaining(deadline) : 0));
        if (!line.empty())
            return line;
    }
}

int TTcpLink::ReadReply(const std::vector<int>& accepted)
{
    // ReadTimeout bounds the whole reply, however its lines arrive.
    const auto deadline = deadlineAfter(ReadTimeout);
    std::vector<std::string> lines;
    lines.push_back(NextReplyLine(deadline));
    const std::string first = lines.front();
    if (first.size() > 3 && first[3] == '-') {
        // Only a line that starts with the same code and a space ends it (or
        // the bare code, which is what such a line is once trimmed); any other
        // line belongs to the text, however short.
        const std::string code = first.substr(0, 3);
        for (;;) {
            if (lines.size() >= MaxReplyLines)
                throw EFtpTooLarge("The server's reply has more than " + std::to_string(MaxReplyLines) +
                                   " lines.");
            lines.push_back(NextReplyLine(deadline));
            const std::string& line = lines.back();
            if (equalsIgnoringCase(line, code) ||
                (line.size() >= 4 && equalsIgnoringCase(line.substr(0, 4), code + " ")))
                break;
        }
    }
    lastReply_ = TServerReply::Parse(lines);
    if (!accepted.empty() &&
        std::find(accepted.begin(), accepted.end(), lastReply_.NumericCode) == accepted.end())
        throw EFtpReplyError(lastReply_);
    return lastReply_.NumericCode;
}

int TTcpLink::SendCommand(const std::string& line, const std::vector<int>& accepted)
{
    WriteLine(line);
    return ReadReply(accepted);
}

size_t TTcpLink::ReceiveBlock(char* data, size_t size)
{
    RequireOpenForRead();
    if (size == 0)
        return 0;
    if (begin_ != end_) {
        const size_t taken = std::min(size, end_ - begin_);
        std::memcpy(data, buffer_.get() + begin_, taken);
        Consume(taken);
        return taken;
    }
    if (peerClosed_ || fd_ < 0)
        return 0;
    const size_t block = std::min(size, static_cast<size_t>(RecvBufferSize > 0 ? RecvBufferSize : 32768));
    if (tls_) {
        size_t received = tls_->Read(data, block, ReadTimeout);
        if (received == 0)
            PeerEnded();
        // A record is at most 16 KiB: the records already received fill the
        // block, so that the file is written in blocks as large as in plain text.
        while (received > 0 && received < block && tls_->Pending() > 0) {
            const size_t more = tls_->Read(data + received, block - received, ReadTimeout);
            if (more == 0)
                break; // the end shows on the next call
            received += more;
        }
        return received;
    }
    if (!WaitReadable(-1))
        throw EFtpReadTimeout();
    for (;;) {
        const ssize_t received = ::recv(fd_, data, block, 0);
        if (received > 0)
            return static_cast<size_t>(received);
        if (received == 0) {
            peerClosed_ = true;
            DropSocket();
            return 0;
        }
        if (errno == EINTR)
            continue;
        RaiseSocketError(errno);
    }
}

namespace {

bool socketAddress(int fd, bool peer, sockaddr_in& address)
{
    if (fd < 0)
        return false;
    socklen_t length = sizeof address;
    auto* target = reinterpret_cast<sockaddr*>(&address);
    return (peer ? ::getpeername(fd, target, &length) : ::getsockname(fd, target, &length)) == 0;
}

} // namespace

size_t TTcpLink::QueuedBytes() const
{
    int queued = 0;
    if (fd_ < 0 || ::ioctl(fd_, SIOCOUTQ, &queued) != 0 || queued < 0)
        return 0;
    return static_cast<size_t>(queued);
}

std::string TTcpLink::LocalAddress() const
{
    sockaddr_in address{};
    return socketAddress(fd_, false, address) ? socketutil::AddressText(address.sin_addr) : std::string();
}

int TTcpLink::LocalPort() const
{
    sockaddr_in address{};
    return socketAddress(fd_, false, address) ? ntohs(address.sin_port) : 0;
}

std::string TTcpLink::PeerAddress() const
{
    sockaddr_in address{};
    return socketAddress(fd_, true, address) ? socketutil::AddressText(address.sin_addr) : std::string();
}

int TTcpLink::PeerPort() const
{
    sockaddr_in address{};
    return socketAddress(fd_, true, address) ? ntohs(address.sin_port) : 0;
}

} // namespace tevrak
