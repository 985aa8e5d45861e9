#pragma once

// Every failure of the FTP client is an EFtpError: callers that only need to
// know that something went wrong catch that one type; what() is the message in
// UTF-8 (server texts that are not UTF-8 are read as the Thai code page).

#include <stdexcept>
#include <string>

#include "ftp/ServerReply.h"

namespace tevrak {

// Makes a byte string presentable: valid UTF-8 stays as it is, anything else is
// read as CP874 (the server's and the workstation's single-byte code page).
std::string FtpDisplayText(const std::string& bytes);

class EFtpError : public std::runtime_error {
public:
    explicit EFtpError(const std::string& message) : std::runtime_error(message) {}
};

// A reply code that is not among the accepted ones; the message is the reply's
// text lines, each followed by CR LF.
class EFtpReplyError : public EFtpError {
public:
    explicit EFtpReplyError(const TServerReply& reply);
    int NumericCode() const { return reply_.NumericCode; }
    const TServerReply& Reply() const { return reply_; }

private:
    TServerReply reply_;
};

class EFtpClosed : public EFtpError {
public:
    EFtpClosed() : EFtpError("Connection Closed Gracefully.") {}
};

class EFtpLineTooLong : public EFtpError {
public:
    EFtpLineTooLong() : EFtpError("Max line length exceeded.") {}
};

class EFtpNotConnected : public EFtpError {
public:
    EFtpNotConnected() : EFtpError("Not Connected") {}
};

class EFtpAlreadyConnected : public EFtpError {
public:
    EFtpAlreadyConnected() : EFtpError("Already connected.") {}
};

// A failed socket call: "Socket Error # <errno>\r\n<description>", or one of
// the fixed texts for a socket that cannot be created or bound.
class EFtpSocketError : public EFtpError {
public:
    explicit EFtpSocketError(int errorNumber);
    EFtpSocketError(int errorNumber, const std::string& message) : EFtpError(message), error_(errorNumber) {}
    int ErrorNumber() const { return error_; }

private:
    int error_;
};

class EFtpReadTimeout : public EFtpError {
public:
    EFtpReadTimeout() : EFtpError("Read Timeout") {}
};

// A send that could not hand its bytes to the system within ReadTimeout
// (the peer stopped reading).
class EFtpWriteTimeout : public EFtpError {
public:
    EFtpWriteTimeout() : EFtpError("Write Timeout") {}
};

// The server accepted a transfer but its data connection never came (or, in
// passive mode, could not be opened) within DataConnectTimeout.
class EFtpDataTimeout : public EFtpError {
public:
    EFtpDataTimeout() : EFtpError("Data connection timed out.") {}
};

// A local file that cannot be opened, created, read or written.
class EFtpFileError : public EFtpError {
public:
    EFtpFileError(const std::string& what, const std::string& path, int errorNumber);
};

class EFtpDestinationExists : public EFtpError {
public:
    EFtpDestinationExists() : EFtpError("Destination file already exists.") {}
};

class EFtpNoData : public EFtpError {
public:
    EFtpNoData() : EFtpError("No data to read.") {}
};

// A command whose argument holds CR, LF or NUL: sent as it is, the server
// would read it as two commands. Nothing is sent.
class EFtpBadCommandText : public EFtpError {
public:
    explicit EFtpBadCommandText(const std::string& command);
};

// A reply of more lines, or a listing of more bytes, than a server ever needs.
class EFtpTooLarge : public EFtpError {
public:
    explicit EFtpTooLarge(const std::string& what) : EFtpError(what) {}
};

// A download broken off at the client's limit on its size; the control
// connection is still usable.
class EFtpDownloadTooLarge : public EFtpTooLarge {
public:
    explicit EFtpDownloadTooLarge(const std::string& what) : EFtpTooLarge(what) {}
};

// A data connection slower than the client's low-speed limit for its time.
class EFtpTooSlow : public EFtpError {
public:
    explicit EFtpTooSlow(const std::string& what) : EFtpError(what) {}
};

// A download that the server did not deliver whole: it answered without a
// data connection, reported the transfer aborted (426/450), or closed the
// data connection before the size it announced.
class EFtpIncompleteTransfer : public EFtpError {
public:
    explicit EFtpIncompleteTransfer(const std::string& what) : EFtpError(what) {}
};

// A TLS failure: the handshake, a broken encrypted stream, or a trusted
// certificates file that cannot be read. The connection is closed; there is
// never a fall-back to plain text.
class EFtpTlsError : public EFtpError {
public:
    explicit EFtpTlsError(const std::string& what) : EFtpError(what) {}
};

// Why the server's certificate was refused.
enum class TCertificateProblem {
    Untrusted, // from an unknown authority, or self-signed
    Expired,   // expired, or not yet valid
    WrongName, // for another host name or address than the one dialled
    Other,
};

// The server's certificate failed the check; nothing was sent after AUTH TLS.
// The message says why in plain words.
class EFtpCertificateError : public EFtpTlsError {
public:
    EFtpCertificateError(TCertificateProblem reason, const std::string& what) : EFtpTlsError(what), reason_(reason)
    {
    }
    TCertificateProblem Reason() const { return reason_; }

private:
    TCertificateProblem reason_;
};

// Encryption was required but the server refused AUTH TLS (nothing more was
// sent: no USER), or refused to encrypt the data connections (PROT P).
class EFtpTlsRequired : public EFtpError {
public:
    EFtpTlsRequired(const std::string& command, const TServerReply& reply);
};

// A passive-mode reply (227/229) whose address cannot be understood.
class EFtpBadPassiveReply : public EFtpError {
public:
    explicit EFtpBadPassiveReply(const TServerReply& reply);
};

} // namespace tevrak
