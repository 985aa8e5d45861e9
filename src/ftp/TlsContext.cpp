#include "ftp/TlsContext.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include "ftp/FtpErrors.h"

namespace tevrak {

namespace {

// The ex-data slot of a connection that points at the context keeping its sessions.
int sessionOwnerIndex()
{
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}


} // namespace

std::string lastOpenSslError()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return "no details";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

TTlsContext::TTlsContext(const std::string& certificateFile)
{
    ERR_clear_error();
    ctx_ = SSL_CTX_new(TLS_client_method());
    if (!ctx_)
        throw EFtpTlsError("TLS cannot be prepared: " + lastOpenSslError());
    SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
    SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, nullptr);
    if (!certificateFile.empty() &&
        SSL_CTX_load_verify_locations(ctx_, certificateFile.c_str(), nullptr) != 1) {
        const std::string why = lastOpenSslError();
        SSL_CTX_free(ctx_);
        throw EFtpTlsError("The trusted certificates file \"" + FtpDisplayText(certificateFile) +
                           "\" cannot be read: " + why);
    }
    // A server certificate named in the file is trusted by itself, without
    // the CA that issued it.
    X509_VERIFY_PARAM_set_flags(SSL_CTX_get0_param(ctx_), X509_V_FLAG_PARTIAL_CHAIN);
    // Sessions are kept by the callback only (nothing in OpenSSL's own cache).
    SSL_CTX_set_session_cache_mode(ctx_, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(ctx_, &TTlsContext::OnNewSession);
}

TTlsContext::~TTlsContext()
{
    if (latestSession_)
        SSL_SESSION_free(latestSession_);
    SSL_CTX_free(ctx_);
}

void TTlsContext::TrustSystemCertificates()
{
    if (systemTrusted_)
        return;
    SSL_CTX_set_default_verify_paths(ctx_);
    ERR_clear_error(); // a missing system bundle leaves only the certificate file
    systemTrusted_ = true;
}

void TTlsContext::KeepSessionsOf(ssl_st* connection)
{
    SSL_set_ex_data(connection, sessionOwnerIndex(), this);
}

void TTlsContext::OfferSessionTo(ssl_st* connection) const
{
    if (!latestSession_)
        return;
    SSL_SESSION* copy = SSL_SESSION_dup(latestSession_);
    if (!copy)
        return; // a full handshake; a server that insists on resumption says so
    SSL_set_session(connection, copy);
    SSL_SESSION_free(copy); // the connection holds its own reference
}

int TTlsContext::OnNewSession(ssl_st* connection, ssl_session_st* session)
{
    // A copy is kept: the connection's own session object is retired by
    // OpenSSL when the connection ends without our close_notify.
    auto* owner = static_cast<TTlsContext*>(SSL_get_ex_data(connection, sessionOwnerIndex()));
    SSL_SESSION* copy = owner && SSL_SESSION_is_resumable(session) ? SSL_SESSION_dup(session) : nullptr;
    if (copy) {
        if (owner->latestSession_)
            SSL_SESSION_free(owner->latestSession_);
        owner->latestSession_ = copy;
    }
    return 0; // the connection keeps its reference to session
}

} // namespace tevrak
