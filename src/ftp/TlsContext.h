#pragma once

#include <string>

// OpenSSL's types, named here so that users of the FTP client need no OpenSSL header.
struct ssl_st;
struct ssl_ctx_st;
struct ssl_session_st;

namespace tevrak {

// The client side of TLS for one FTP login: what is trusted and the session
// the data connections resume. The server's certificate must chain to the
// system's trusted certificates or to one in certificateFile (a CA, or the
// server's own certificate), and TLS 1.2 is the oldest version spoken.
class TTlsContext {
public:
    // certificateFile: a PEM file of extra trusted certificates; empty for
    // none. A file that cannot be read raises EFtpTlsError.
    explicit TTlsContext(const std::string& certificateFile);
    ~TTlsContext();
    TTlsContext(const TTlsContext&) = delete;
    TTlsContext& operator=(const TTlsContext&) = delete;

    ssl_ctx_st* Handle() const { return ctx_; }

    // Makes connection report the sessions the server hands it (at the end of
    // a TLS 1.2 handshake, in tickets after a TLS 1.3 one) to this context:
    // used for the control connection, whose session data connections resume.
    void KeepSessionsOf(ssl_st* connection);
    // The last resumable session of the control connection; null before one.
    ssl_session_st* ControlSession() const { return controlSession_; }

private:
    static int OnNewSession(ssl_st* connection, ssl_session_st* session);

    ssl_ctx_st* ctx_ = nullptr;
    ssl_session_st* controlSession_ = nullptr;
};

} // namespace tevrak
