#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ftp/DataListener.h"
#include "ftp/DataStream.h"
#include "ftp/TcpLink.h"
#include "ftp/TlsContext.h"

namespace tevrak {

enum TTransferType { ftBinary };

enum TProxyType { fpcmNone };

// Explicit FTP over TLS (AUTH TLS). Off: plain FTP. IfOffered: encrypted when
// the server agrees, plain text when it refuses. Required: a server that
// refuses fails the connection (EFtpTlsRequired) before USER is sent.
enum class TTlsMode { Off, IfOffered, Required };

struct TProxySettings {
    TProxyType ProxyType = fpcmNone; // the only kind: a direct connection
    std::string Host;
    std::string UserName;
    std::string Password;
    int Port = 0;
};

// What a progress callback learns after every block of a transfer.
struct TTransferProgress {
    bool Upload = false;
    std::uint64_t Done = 0;  // bytes moved so far in this transfer
    std::uint64_t Total = 0; // bytes the upload will send; 0 when not known (downloads)
};

// FTP client: the control connection with login, and the file commands with
// their data connections. Every operation blocks until it is done or raises
// an EFtpError; nothing is shown to the user. Strings are bytes as they go on
// the wire (folder names in the server's code page are converted by the caller).
class TFtpLink : public TTcpLink {
public:
    TFtpLink();
    ~TFtpLink() override;

    std::string Username;
    std::string Password;
    TTransferType TransferType = ftBinary;
    // false: the server connects to us for every transfer (PORT); true: we
    // connect to the server (EPSV where it offers it, otherwise PASV).
    bool Passive = false;
    TProxySettings ProxySettings;
    // With IfOffered or Required, AUTH TLS follows the greeting. 234: the
    // control connection is encrypted, and after the login PBSZ 0 and PROT P
    // make every data connection (either mode, either direction) encrypted
    // too, resuming the control connection's TLS session. 4xx/5xx: plain
    // text (IfOffered) or EFtpTlsRequired (Required). Once AUTH TLS is
    // accepted there is no plain text any more: every TLS failure
    // (EFtpTlsError) ends the connection. The server's certificate must chain
    // to the system's trusted certificates or to one in CertificateFile, be
    // valid today and be for Host (a name, or an address checked against the
    // certificate's IP entries); otherwise EFtpCertificateError, whose
    // Reason() says why, and nothing is sent after AUTH TLS. TLS 1.2 at least.
    // An encrypted download (or listing) counts as whole only when its data
    // connection ended with the server's close_notify alert; ended otherwise
    // it is EFtpIncompleteTransfer. An upload ends with our close_notify.
    TTlsMode Tls = TTlsMode::Off;
    // A PEM file of certificates trusted in addition to the system's: the
    // insurer's CA, or its server's own certificate. Empty: the system's only.
    std::string CertificateFile;
    // Limit in milliseconds on the wait for a data connection (the server's
    // connection in active mode, ours to the server in passive mode).
    int DataConnectTimeout = 60000;
    // A download of more bytes than this is broken off (EFtpTooLarge), and the
    // control connection stays usable; 0: no limit.
    std::uint64_t MaxRetrieveBytes = 0;
    // A data transfer that moves fewer than LowSpeedLimit bytes a second on
    // average over LowSpeedTime seconds fails (EFtpTooSlow), as curl's
    // --speed-limit/--speed-time; 0 in either: no such limit.
    std::uint64_t LowSpeedLimit = 0;
    int LowSpeedTime = 0;
    // Called after every block moved over a data connection (an upload's bytes
    // counted as they leave the system's send queue, also while the last of
    // them drain and the completion reply is awaited). An exception thrown from it abandons the
    // transfer (the data connection is closed).
    std::function<void(const TTransferProgress&)> OnProgress;

    // Connects, reads the greeting (220) and, with login, logs in (USER, PASS
    // when asked for), announces binary type and asks the system type.
    // timeout limits the connect in milliseconds (-1: ReadTimeout, 0 there: none).
    void OpenControl(bool login = true, int timeout = -1);
    // Closes the control connection (and a data connection, if one is open)
    // without sending QUIT.
    void CloseControl();

    void ChangeDirectory(const std::string& path);
    void RemoveFile(const std::string& remoteName);
    // APPE when append is true, STOR otherwise, STOU when remoteName is empty.
    // startAt > 0 sends the file from that byte on (with APPE: the rest of a
    // file whose beginning the server holds).
    void StoreFile(const std::string& localPath, const std::string& remoteName, bool append,
                   std::uint64_t startAt = 0);
    // RETR into a local file created (or emptied when canOverwrite) for it;
    // with resume and an existing local file, REST with its size and appending.
    // Succeeds only for a file delivered whole (see TDelivery::Whole).
    void RetrieveFile(const std::string& remoteName, const std::string& localPath, bool canOverwrite,
                      bool resume);
    // SIZE: the size of a remote file; nothing when the server does not say
    // (a 5xx reply: not offered, not allowed, or not a plain file).
    std::optional<std::uint64_t> FileSize(const std::string& remoteName);
    // RNFR and RNTO.
    void Rename(const std::string& from, const std::string& to);
    // NLST (details false) or LIST with the specifier; destination (may be
    // null) receives the lines of the listing.
    void ListNames(std::vector<std::string>* destination, const std::string& specifier, bool details);

    // What a download must show before it counts as done. AsReported: the
    // completion reply decides (a listing of an empty folder may come without
    // a data connection). Whole: the data came over a data connection, the
    // server did not report the transfer aborted (426/450), and the bytes
    // match the size a "(N bytes)" in the preliminary reply announced;
    // otherwise EFtpIncompleteTransfer.
    enum class TDelivery { AsReported, Whole };

    // The two transfer cores. restartAt > 0 sends REST before the command.
    void TransferIn(const std::string& command, TDataSink& destination, std::uint64_t restartAt = 0,
                    TDelivery delivery = TDelivery::AsReported);
    void TransferOut(const std::string& command, TDataSource& source);
    void SendPortCommand(const TDataListener& listener);

    const TServerReply& Greeting() const { return greeting_; }
    const TServerReply& LoginReply() const { return loginReply_; }
    const std::string& SystemDescription() const { return systemDescription_; }

    // Splits listing data into lines at CR LF, lone CR or lone LF; text after
    // the last line end is a last line; a NUL byte ends the text.
    static std::vector<std::string> SplitListing(const std::string& text);

private:
    enum class TArrival { Connected, AnsweredWithoutData };

    static void RequireSendable(const std::string& command);
    void SecureControl();
    void ProtectDataConnections();
    void OpenDataChannel();
    void OpenPassiveConnection();
    TArrival AwaitDataConnection(bool upload);
    // TLS on the data connection just made, when the control connection has it.
    void SecureDataConnection();
    void CloseDataChannel();
    // Reads the completion reply; false when the server reported the
    // transfer aborted (426/450, then 226/225; the first reply in lastAbort_).
    bool ReadCompletion();
    void Report(bool upload, std::uint64_t done, std::uint64_t total);
    // An upload's bytes that have left: written less what the system still queues.
    std::uint64_t Departed(std::uint64_t written) const;
    char* Block(size_t size);

    TServerReply greeting_;
    TServerReply loginReply_;
    std::string systemDescription_;
    bool epsvRefused_ = false;
    TServerReply lastAbort_;
    std::unique_ptr<TTlsContext> tlsContext_;
    std::unique_ptr<TDataListener> listener_;
    std::unique_ptr<TTcpLink> passiveLink_;
    TTcpLink* dataLink_ = nullptr;
    std::unique_ptr<char[]> block_;
    size_t blockSize_ = 0;
};

} // namespace tevrak
