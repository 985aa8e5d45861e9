#include "ftp/TlsSession.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>

#include "ftp/FtpErrors.h"
#include "ftp/SocketUtil.h"

namespace tevrak {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t ReadAheadBytes = 65536;

// A socket BIO whose sends never raise SIGPIPE (OpenSSL's own writes with
// write(2)) and never block: OpenSSL asks again after our poll.
int socketOf(BIO* bio)
{
    return static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(bio)));
}

int bioWrite(BIO* bio, const char* data, int size)
{
    BIO_clear_retry_flags(bio);
    for (;;) {
        const ssize_t sent = ::send(socketOf(bio), data, static_cast<size_t>(size), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0)
            return static_cast<int>(sent);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            BIO_set_retry_write(bio);
        return -1;
    }
}

int bioRead(BIO* bio, char* data, int size)
{
    BIO_clear_retry_flags(bio);
    for (;;) {
        const ssize_t received = ::recv(socketOf(bio), data, static_cast<size_t>(size), MSG_DONTWAIT);
        if (received >= 0)
            return static_cast<int>(received);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            BIO_set_retry_read(bio);
        return -1;
    }
}

long bioControl(BIO*, int command, long, void*)
{
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

BIO_METHOD* socketMethod()
{
    static BIO_METHOD* const method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "tevrak socket");
        BIO_meth_set_write(m, bioWrite);
        BIO_meth_set_read(m, bioRead);
        BIO_meth_set_ctrl(m, bioControl);
        return m;
    }();
    return method;
}

bool isDottedQuad(const std::string& host)
{
    in_addr address{};
    return socketutil::ParseDottedQuad(host, address);
}

EFtpCertificateError certificateError(long code, const std::string& host)
{
    const std::string detail = X509_verify_cert_error_string(code);
    switch (code) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
    case X509_V_ERR_CERT_REJECTED:
    case X509_V_ERR_INVALID_CA:
        return EFtpCertificateError(TCertificateProblem::Untrusted,
                                    "The server's certificate is not issued by an authority this "
                                    "workstation trusts (" + detail + ").");
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return EFtpCertificateError(TCertificateProblem::Expired,
                                    "The server's certificate has expired or is not yet valid (" + detail +
                                        ").");
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return EFtpCertificateError(TCertificateProblem::WrongName,
                                    "The server's certificate is for another name than \"" +
                                        FtpDisplayText(host) + "\" (" + detail + ").");
    default:
        return EFtpCertificateError(TCertificateProblem::Other,
                                    "The server's certificate was refused (" + detail + ").");
    }
}

// Milliseconds left of a wait that started with timeout (0 or less: no
// limit, returned as 0); -1 once the time is up.
int leftOf(int timeout, Clock::time_point start)
{
    if (timeout <= 0)
        return 0;
    const int left = socketutil::MillisecondsLeft(start + std::chrono::milliseconds(timeout));
    return left == 0 ? -1 : left;
}

} // namespace

TTlsSession::TTlsSession(TTlsContext& context, int socketHandle, const std::string& host, TTlsRole role,
                         const std::function<void()>& pulse)
    : context_(context), fd_(socketHandle), host_(host), role_(role), pulse_(pulse)
{
    ERR_clear_error();
    ssl_ = SSL_new(context.Handle());
    BIO* bio = ssl_ ? BIO_new(socketMethod()) : nullptr;
    if (!bio) {
        SSL_free(ssl_);
        throw EFtpTlsError("TLS cannot be prepared: " + lastOpenSslError());
    }
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<std::intptr_t>(fd_)));
    BIO_set_init(bio, 1);
    SSL_set_bio(ssl_, bio, bio);
    // The name checked is the one dialled: an address against the
    // certificate's IP entries, a name against its DNS names.
    const bool address = isDottedQuad(host);
    const int named = address ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), host.c_str())
                              : SSL_set1_host(ssl_, host.c_str());
    if (named != 1 || (!address && SSL_set_tlsext_host_name(ssl_, host.c_str()) != 1)) {
        SSL_free(ssl_);
        throw EFtpTlsError("TLS cannot check the name \"" + FtpDisplayText(host) + "\".");
    }
    SSL_set_hostflags(ssl_, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    if (role == TTlsRole::Data) {
        // A data connection carries nothing but the stream: one receive takes
        // in as many records as have come (up to 64 KiB), where OpenSSL alone
        // asks twice for every record, for its header and then for its body.
        SSL_set_read_ahead(ssl_, 1);
        SSL_set_default_read_buffer_len(ssl_, ReadAheadBytes);
    }
    context.KeepSessionsOf(ssl_);
}

TTlsSession::~TTlsSession()
{
    SSL_free(ssl_);
}

bool TTlsSession::AwaitRetry(int error, int timeout)
{
    if (timeout < 0)
        return false;
    const short wanted = error == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN;
    return socketutil::PollOne(fd_, wanted, timeout, pulse_) != 0;
}

void TTlsSession::Handshake(int timeout)
{
    if (role_ == TTlsRole::Data)
        context_.OfferSessionTo(ssl_);
    const auto start = Clock::now();
    for (;;) {
        ERR_clear_error();
        const int result = SSL_connect(ssl_);
        if (result == 1)
            return;
        const int error = SSL_get_error(ssl_, result);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
            if (!AwaitRetry(error, leftOf(timeout, start)))
                throw EFtpReadTimeout();
            continue;
        }
        const long verified = SSL_get_verify_result(ssl_);
        if (verified != X509_V_OK)
            throw certificateError(verified, host_);
        if (error == SSL_ERROR_SYSCALL || error == SSL_ERROR_ZERO_RETURN ||
            ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
            ERR_clear_error();
            throw EFtpTlsError("The server ended the connection during the TLS handshake.");
        }
        throw EFtpTlsError("The TLS handshake with the server failed: " + lastOpenSslError());
    }
}

bool TTlsSession::Resumed() const
{
    return SSL_session_reused(ssl_) == 1;
}

size_t TTlsSession::Read(char* data, size_t size, int timeout)
{
    if (end_ != TEnd::Open || size == 0)
        return 0;
    const auto start = Clock::now();
    for (;;) {
        ERR_clear_error();
        size_t received = 0;
        const int result = SSL_read_ex(ssl_, data, size, &received);
        if (result == 1)
            return received;
        const int error = SSL_get_error(ssl_, result);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
            if (!AwaitRetry(error, leftOf(timeout, start)))
                throw EFtpReadTimeout();
            continue;
        }
        if (error == SSL_ERROR_ZERO_RETURN) {
            end_ = TEnd::CloseNotify;
            return 0;
        }
        // The TCP connection ended (closed or reset) without the alert.
        if (error == SSL_ERROR_SYSCALL ||
            ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
            ERR_clear_error();
            end_ = TEnd::CutOff;
            return 0;
        }
        throw EFtpTlsError("The encrypted connection failed: " + lastOpenSslError());
    }
}

void TTlsSession::Write(const char* data, size_t size, int timeout)
{
    while (size > 0) {
        ERR_clear_error();
        size_t sent = 0;
        const int result = SSL_write_ex(ssl_, data, size, &sent);
        if (result == 1) {
            data += sent;
            size -= sent;
            continue;
        }
        const int error = SSL_get_error(ssl_, result);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
            // Each wait for room is bounded, as for a plain send.
            if (!AwaitRetry(error, timeout > 0 ? timeout : 0))
                throw EFtpWriteTimeout();
            continue;
        }
        if (error == SSL_ERROR_SYSCALL) {
            const int cause = errno != 0 ? errno : EPIPE;
            ERR_clear_error();
            throw EFtpSocketError(cause);
        }
        throw EFtpTlsError("The encrypted connection failed: " + lastOpenSslError());
    }
}

void TTlsSession::SendCloseNotify(int timeout)
{
    if (end_ == TEnd::CutOff)
        return;
    for (;;) {
        ERR_clear_error();
        const int result = SSL_shutdown(ssl_);
        if (result >= 0)
            break;
        const int error = SSL_get_error(ssl_, result);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
            if (!AwaitRetry(error, timeout > 0 ? timeout : 0))
                throw EFtpWriteTimeout();
            continue;
        }
        throw EFtpTlsError("The encrypted connection could not be closed: " + lastOpenSslError());
    }
    ::shutdown(fd_, SHUT_WR);
}

void TTlsSession::AwaitServerEnd(int timeout)
{
    char discarded[4096];
    while (Read(discarded, sizeof discarded, timeout) > 0) {
    }
}

size_t TTlsSession::Pending() const
{
    const int pending = SSL_pending(ssl_);
    if (pending > 0)
        return static_cast<size_t>(pending);
    // Records read ahead and not yet decrypted: the socket no longer shows them.
    return SSL_has_pending(ssl_) == 1 ? 1 : 0;
}

} // namespace tevrak
