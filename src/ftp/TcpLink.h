#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ftp/FtpErrors.h"
#include "ftp/ServerReply.h"
#include "ftp/SocketLayer.h"
#include "ftp/TlsSession.h"

namespace tevrak {

enum TMaxLineAction { maException };

// A client TCP connection with buffered line input: connects, sends lines,
// reads lines and server replies, and moves raw blocks for data connections.
// Every wait (connect, receive, send) is bounded by ReadTimeout when it is
// positive; 0 waits without limit.
class TTcpLink {
public:
    TTcpLink();
    virtual ~TTcpLink();
    TTcpLink(const TTcpLink&) = delete;
    TTcpLink& operator=(const TTcpLink&) = delete;

    std::string Host;
    int Port = 0;
    std::string BoundIP; // local address to bind before connecting; empty: any
    int BoundPort = 0;   // 0: any
    int ReadTimeout = 0; // milliseconds for each wait; 0: no limit
    int MaxLineLength = 16384;
    TMaxLineAction MaxLineAction = maException;
    int RecvBufferSize = 32768;
    int SendBufferSize = 32768;
    bool UseNagle = true;
    // Runs every socketutil::PulseInterval milliseconds while a limited wait of
    // this connection lasts (connect, reply, data, TLS): a chance to show
    // progress and to stop. What it throws abandons the operation in the
    // middle, and the caller closes the connection.
    std::function<void()> OnWait;

    // Opens the connection to Host:Port. timeout in milliseconds; -1 uses
    // ReadTimeout (0 there: a plain blocking connect).
    void Connect(int timeout = -1);
    // Shuts the socket down for sending and closes it; nothing is sent.
    void Close();

    // Sends text and CR LF. A text holding CR, LF or NUL is refused
    // (EFtpBadCommandText) before anything is sent.
    void WriteLine(const std::string& text);
    // Sends every byte (continuing partial sends).
    void WriteBytes(const char* data, size_t size);

    // The next line without its terminator (and, for LF, without one CR before
    // it). timeout (-1: ReadTimeout; 0 there: none) bounds the wait for the
    // whole line; maxLength -1 uses MaxLineLength, 0 no limit.
    std::string ReadLine(const std::string& terminator = "\n", int timeout = -1, int maxLength = -1);

    // Reads one reply into LastReply and returns its code; raises EFtpReplyError
    // when accepted is not empty and does not hold the code. ReadTimeout bounds
    // the whole reply; a multi-line reply ends only at a line that starts with
    // its code and a space, and may have at most 1,000 lines.
    int ReadReply(const std::vector<int>& accepted = {});
    int ReadReply(std::initializer_list<int> accepted) { return ReadReply(std::vector<int>(accepted)); }
    int SendCommand(const std::string& line, const std::vector<int>& accepted = {});
    int SendCommand(const std::string& line, std::initializer_list<int> accepted)
    {
        return SendCommand(line, std::vector<int>(accepted));
    }

    // Up to size bytes of incoming data: buffered bytes first, otherwise one
    // receive (over TLS, with the records already received behind it).
    // Returns 0 once the peer has closed the connection and nothing is left.
    size_t ReceiveBlock(char* data, size_t size);

    // Takes over an already connected socket (the accepted data connection).
    void Attach(int socketHandle);

    // Starts TLS, client side, on the open connection: the handshake (bounded
    // as a whole by ReadTimeout) and the check of the server's certificate
    // against host. From then on every read and write is encrypted, with the
    // same bounds. Bytes the server sent before the handshake came in the
    // clear after it agreed to encrypt: they are refused (EFtpTlsError).
    void StartTls(TTlsContext& context, const std::string& host, TTlsRole role);
    // Ends our side of the stream once all is written: an encrypted stream's
    // close_notify alert, then the TCP half-close (FIN). A peer acknowledges a
    // FIN at once, where the last bytes alone may wait up to its delayed
    // acknowledgement (40 ms on Linux, 200 ms on Windows), so the send queue
    // empties as soon as the line has carried them.
    void EndSending();
    // After EndSending, on an encrypted stream: the server's end of it (the
    // close of an encrypted upload; see TTlsSession::AwaitServerEnd).
    void AwaitTlsEnd();
    bool Encrypted() const { return encrypted_; }
    // The server resumed the offered TLS session.
    bool TlsResumed() const { return resumed_; }
    // The encrypted stream ended without the close_notify alert (a plain TCP
    // close or reset): whatever came before may be cut off.
    bool CutOff() const { return cutOff_; }

    bool Connected() const { return state_ == State::Open; }
    // True when the peer closed the connection (or the socket failed) and the
    // connection was not closed by Close() since.
    bool ClosedByPeer() const { return peerClosed_; }
    int Handle() const { return fd_; }
    // Input received and not yet read (decrypted input included).
    size_t BufferedBytes() const;
    // Bytes written that the peer has not yet acknowledged (still in the
    // system's send queue); 0 when not known.
    size_t QueuedBytes() const;
    size_t BufferCapacity() const { return capacity_; }
    const TServerReply& LastReply() const { return lastReply_; }

    std::string LocalAddress() const;
    int LocalPort() const;
    std::string PeerAddress() const;
    int PeerPort() const;

    // Resolves a host text to a dotted IPv4 address ("localhost" in any case
    // gives 127.0.0.1; dotted numbers pass unchanged; anything else is looked up).
    static std::string ResolveHost(const std::string& host);

protected:
    [[noreturn]] void RaiseSocketError(int error);

private:
    enum class State { None, Open, Dropped };

    void RequireOpenForRead() const;
    void CheckOpenForWrite() const;
    // Receives once into the input buffer; false when a limited wait expired
    // with raiseOnTimeout false, or when the peer closed with bytes buffered.
    bool Fill(int timeout, bool raiseOnTimeout = true);
    bool WaitReadable(int timeout);
    void Consume(size_t count);
    void Reserve(size_t room);
    void DropSocket();
    // The end of the stream as a receive saw it: the peer closed it.
    void PeerEnded();
    std::string NextReplyLine(const std::optional<std::chrono::steady_clock::time_point>& deadline);

    TSocketLayer layer_;
    int fd_ = -1;
    State state_ = State::None;
    bool peerClosed_ = false;
    std::unique_ptr<char[]> buffer_;
    size_t capacity_ = 0;
    size_t begin_ = 0;
    size_t end_ = 0;
    TServerReply lastReply_;
    std::unique_ptr<TTlsSession> tls_;
    bool encrypted_ = false;
    bool resumed_ = false;
    bool cutOff_ = false;
};

} // namespace tevrak
