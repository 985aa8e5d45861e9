#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "ftp/TlsContext.h"

namespace tevrak {

// What a TLS connection is to the FTP login. A data connection offers the
// control connection's session to be resumed (servers such as vsftpd refuse a
// data connection that does not resume it).
enum class TTlsRole { Control, Data };

// TLS, client side, over one connected socket (made non-blocking for it).
// Every wait is a poll bounded by the timeout given to the call (milliseconds,
// 0 or less: without limit), so the encrypted connection keeps the plain one's
// bounds. Failures raise EFtpTlsError, EFtpCertificateError, EFtpReadTimeout
// or EFtpWriteTimeout.
class TTlsSession {
public:
    // host: the name or dotted address that was dialled; the certificate must
    // be for it. Nothing is sent yet.
    // pulse: the connection's TTcpLink::OnWait, run while a wait lasts.
    TTlsSession(TTlsContext& context, int socketHandle, const std::string& host, TTlsRole role,
                const std::function<void()>& pulse);
    ~TTlsSession();
    TTlsSession(const TTlsSession&) = delete;
    TTlsSession& operator=(const TTlsSession&) = delete;

    // The handshake, bounded as a whole by timeout; a data connection offers
    // the context's session for the server to resume. A certificate that fails
    // the check raises EFtpCertificateError.
    void Handshake(int timeout);
    // True when the server resumed the offered session.
    bool Resumed() const;

    // How an encrypted stream ended.
    enum class TEnd { Open, CloseNotify, CutOff };

    // Up to size bytes; waits at most timeout for them (EFtpReadTimeout).
    // Returns 0 once the stream has ended: End() then says how.
    size_t Read(char* data, size_t size, int timeout);
    TEnd End() const { return end_; }
    // Sends every byte; each wait for room is bounded by timeout (EFtpWriteTimeout).
    void Write(const char* data, size_t size, int timeout);
    // Sends the close_notify alert and ends the socket's sending side (each
    // wait for room bounded by timeout).
    void SendCloseNotify(int timeout);
    // After SendCloseNotify: waits at most timeout for the server's end of
    // the stream (its alert, or a TCP close), discarding what comes first
    // (such as TLS 1.3 session tickets): a socket closed with unread input is
    // reset, and the reset can destroy the end of an upload that the server
    // has received but not yet read.
    void AwaitServerEnd(int timeout);
    // Bytes already decrypted and waiting to be read; at least 1 while records
    // read ahead wait to be decrypted (a Read then needs no receive).
    size_t Pending() const;

private:
    // Waits for what OpenSSL asked for (SSL_ERROR_WANT_READ or _WRITE) at
    // most timeout (0: without limit; below 0: already expired); false when
    // the wait expired.
    bool AwaitRetry(int error, int timeout);

    ssl_st* ssl_ = nullptr;
    TTlsContext& context_;
    int fd_;
    std::string host_;
    TTlsRole role_;
    const std::function<void()>& pulse_;
    TEnd end_ = TEnd::Open;
};

} // namespace tevrak
