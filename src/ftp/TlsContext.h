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
//
// The session is the control connection's. A TLS 1.3 server hands it out as
// tickets, after the handshake and again on every connection that resumed it;
// the latest ticket is offered to the next data connection. OpenSSL retires a
// session once a connection that used it receives a newer one, or ends without
// our close_notify, so the context keeps copies and gives each data connection
// a copy of its own: the kept ticket stays usable for the next connection even
// when a server sends no new tickets.
class TTlsContext {
public:
    // certificateFile: a PEM file of extra trusted certificates; empty for
    // none. A file that cannot be read raises EFtpTlsError. The system's
    // trusted certificates are read by TrustSystemCertificates.
    explicit TTlsContext(const std::string& certificateFile);
    ~TTlsContext();
    TTlsContext(const TTlsContext&) = delete;
    TTlsContext& operator=(const TTlsContext&) = delete;

    ssl_ctx_st* Handle() const { return ctx_; }

    // Adds the system's trusted certificates (once). Reading the system's
    // bundle costs some 30 ms, so it waits until a server agreed to encrypt:
    // a login to a server without TLS does without it.
    void TrustSystemCertificates();

    // Keeps the sessions the server hands connection (at the end of a TLS 1.2
    // handshake, in tickets after a TLS 1.3 one).
    void KeepSessionsOf(ssl_st* connection);
    // Offers connection (before its handshake) a copy of the latest kept session.
    void OfferSessionTo(ssl_st* connection) const;

private:
    static int OnNewSession(ssl_st* connection, ssl_session_st* session);

    ssl_ctx_st* ctx_ = nullptr;
    ssl_session_st* latestSession_ = nullptr;
    bool systemTrusted_ = false;
};

// The OpenSSL error queue's oldest entry in words ("no details" when empty);
// the queue is emptied.
std::string lastOpenSslError();

} // namespace tevrak
