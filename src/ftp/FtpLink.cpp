#include "ftp/FtpLink.h"

#include <algorithm>
#include <chrono>
#include <arpa/inet.h>
#include <optional>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ftp/SocketUtil.h"

namespace tevrak {

namespace {

// A local file being stored: opened for reading, others may read and write it.
// With a start offset, the file from that byte on (the rest of a file whose
// beginning the server already holds).
class TFileSource : public TDataSource {
public:
    TFileSource(const std::string& path, std::uint64_t startAt) : path_(path), startAt_(startAt)
    {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0)
            throw EFtpFileError("Cannot open file", path, errno);
        if (startAt_ > 0 && ::lseek(fd_, static_cast<off_t>(startAt_), SEEK_SET) < 0) {
            const int error = errno;
            ::close(fd_);
            throw EFtpFileError("Cannot read file", path, error);
        }
    }
    ~TFileSource() override { ::close(fd_); }
    std::uint64_t Size() override
    {
        struct stat info {};
        if (::fstat(fd_, &info) != 0)
            throw EFtpFileError("Cannot read file", path_, errno);
        const auto size = static_cast<std::uint64_t>(info.st_size);
        return size > startAt_ ? size - startAt_ : 0;
    }
    size_t Read(char* data, size_t size) override
    {
        for (;;) {
            const ssize_t n = ::read(fd_, data, size);
            if (n >= 0)
                return static_cast<size_t>(n);
            if (errno != EINTR)
                throw EFtpFileError("Cannot read file", path_, errno);
        }
    }

private:
    std::string path_;
    std::uint64_t startAt_ = 0;
    int fd_ = -1;
};

// A local file being retrieved into.
class TFileSink : public TDataSink {
public:
    TFileSink(const std::string& path, bool append) : path_(path)
    {
        fd_ = append ? ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC)
                     : ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd_ < 0)
            throw EFtpFileError("Cannot create file", path, errno);
    }
    ~TFileSink() override { ::close(fd_); }
    void Write(const char* data, size_t size) override
    {
        while (size > 0) {
            const ssize_t n = ::write(fd_, data, size);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                throw EFtpFileError("Cannot write file", path_, errno);
            }
            data += n;
            size -= static_cast<size_t>(n);
        }
    }

private:
    std::string path_;
    int fd_ = -1;
};

// A listing collected in memory, up to a size no real folder listing reaches.
class TListingSink : public TDataSink {
public:
    static constexpr size_t Limit = 16u << 20;
    void Write(const char* data, size_t size) override
    {
        if (text.size() + size > Limit)
            throw EFtpTooLarge("The server's listing is larger than 16 MiB.");
        text.append(data, size);
    }
    std::string text;
};

// The size a preliminary reply announces, as in "150 Opening BINARY mode data
// connection for x.pdf (1234 bytes).": the last "(<digits> bytes" in its text.
std::optional<std::uint64_t> announcedSize(const TServerReply& reply)
{
    const std::string text = reply.JoinedText();
    std::optional<std::uint64_t> found;
    for (size_t open = text.find('('); open != std::string::npos; open = text.find('(', open + 1)) {
        size_t i = open + 1;
        std::uint64_t value = 0;
        size_t digits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 19) {
            value = value * 10 + static_cast<std::uint64_t>(text[i++] - '0');
            ++digits;
        }
        if (digits > 0 && text.compare(i, 6, " bytes") == 0)
            found = value;
    }
    return found;
}

bool isCompletion(int code)
{
    return code == 225 || code == 226 || code == 250;
}

// "... (h1,h2,h3,h4,p1,p2)": the port of a PASV reply.
bool parsePasvPort(const std::string& text, int& port)
{
    for (size_t start = 0; start < text.size(); ++start) {
        if (text[start] < '0' || text[start] > '9')
            continue;
        int numbers[6];
        size_t i = start;
        int count = 0;
        while (count < 6) {
            if (i >= text.size() || text[i] < '0' || text[i] > '9')
                break;
            int value = 0;
            while (i < text.size() && text[i] >= '0' && text[i] <= '9' && value <= 255)
                value = value * 10 + (text[i++] - '0');
            if (value > 255)
                break;
            numbers[count++] = value;
            if (count < 6) {
                if (i >= text.size() || text[i] != ',')
                    break;
                ++i;
            }
        }
        if (count == 6) {
            port = numbers[4] * 256 + numbers[5];
            return port > 0;
        }
    }
    return false;
}

// "... (|||port|)": the port of an EPSV reply.
bool parseEpsvPort(const std::string& text, int& port)
{
    const size_t open = text.find('(');
    if (open == std::string::npos || open + 4 >= text.size())
        return false;
    const char d = text[open + 1];
    if (text[open + 2] != d || text[open + 3] != d)
        return false;
    size_t i = open + 4;
    long value = 0;
    size_t digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 6) {
        value = value * 10 + (text[i++] - '0');
        ++digits;
    }
    if (digits == 0 || i >= text.size() || text[i] != d || value < 1 || value > 65535)
        return false;
    port = static_cast<int>(value);
    return true;
}

} // namespace

TFtpLink::TFtpLink()
{
    Port = 21;
}

TFtpLink::~TFtpLink()
{
    CloseControl();
}

void TFtpLink::OpenControl(bool login, int timeout)
{
    // Refused before anything else: the connection that is open stays usable.
    if (Connected())
        throw EFtpAlreadyConnected();
    try {
        epsvRefused_ = false;
        Connect(timeout);
        ReadReply({220});
        greeting_ = LastReply();
        if (Tls != TTlsMode::Off)
            SecureControl();
        if (login) {
            if (SendCommand("USER " + Username, {230, 331}) == 331)
                SendCommand("PASS " + Password, {230});
            loginReply_ = LastReply();
            if (Encrypted())
                ProtectDataConnections();
            SendCommand("TYPE I", {200});
            const int code = SendCommand("SYST", {200, 215, 500});
            if (code == 500)
                systemDescription_ = "Unknown";
            else
                systemDescription_ = LastReply().Text.empty() ? std::string() : LastReply().Text.front();
        }
    } catch (...) {
        CloseControl();
        throw;
    }
}

void TFtpLink::CloseControl()
{
    CloseDataChannel();
    Close();
    tlsContext_.reset();
}

void TFtpLink::SecureControl()
{
    // Prepared first: trusted certificates that cannot be read fail before
    // anything is sent. The system's own are read only for a server that
    // agreed to encrypt.
    auto context = std::make_unique<TTlsContext>(CertificateFile);
    const int code = SendCommand("AUTH TLS");
    if (code == 234) {
        context->TrustSystemCertificates();
        tlsContext_ = std::move(context);
        StartTls(*tlsContext_, Host, TTlsRole::Control);
        return;
    }
    if (code < 400 || code > 599)
        throw EFtpReplyError(LastReply());
    if (Tls == TTlsMode::Required)
        throw EFtpTlsRequired("AUTH TLS", LastReply());
    // Not offered: the plain protocol, as with TTlsMode::Off.
}

void TFtpLink::ProtectDataConnections()
{
    for (const std::string command : {"PBSZ 0", "PROT P"})
        if (SendCommand(command) != 200)
            throw EFtpTlsRequired(command, LastReply());
}

void TFtpLink::SecureDataConnection()
{
    if (Encrypted())
        dataLink_->StartTls(*tlsContext_, Host, TTlsRole::Data);
}

void TFtpLink::ChangeDirectory(const std::string& path)
{
    SendCommand("CWD " + path, {200, 250});
}

void TFtpLink::RemoveFile(const std::string& remoteName)
{
    SendCommand("DELE " + remoteName, {250});
}

void TFtpLink::StoreFile(const std::string& localPath, const std::string& remoteName, bool append,
                         std::uint64_t startAt)
{
    TFileSource source(localPath, startAt);
    std::string command;
    if (remoteName.empty())
        command = "STOU ";
    else
        command = (append ? "APPE " : "STOR ") + remoteName;
    TransferOut(command, source);
}

void TFtpLink::RetrieveFile(const std::string& remoteName, const std::string& localPath, bool canOverwrite,
                            bool resume)
{
    struct stat info {};
    const bool exists = ::stat(localPath.c_str(), &info) == 0;
    if (exists && !canOverwrite && !resume)
        throw EFtpDestinationExists();
    const bool append = resume && exists && S_ISREG(info.st_mode) && info.st_size > 0;
    TFileSink sink(localPath, append);
    TransferIn("RETR " + remoteName, sink, append ? static_cast<std::uint64_t>(info.st_size) : 0,
               TDelivery::Whole);
}

std::optional<std::uint64_t> TFtpLink::FileSize(const std::string& remoteName)
{
    const int code = SendCommand("SIZE " + remoteName);
    if (code == 213) {
        const std::string text =
            LastReply().Text.empty() ? std::string() : TServerReply::Trim(LastReply().Text.front());
        std::uint64_t value = 0;
        size_t digits = 0;
        for (; digits < text.size() && digits < 19 && text[digits] >= '0' && text[digits] <= '9'; ++digits)
            value = value * 10 + static_cast<std::uint64_t>(text[digits] - '0');
        if (digits > 0 && digits == text.size())
            return value;
        return std::nullopt;
    }
    if (code >= 500 && code <= 599)
        return std::nullopt; // not offered, not allowed here, or not a plain file
    throw EFtpReplyError(LastReply());
}

void TFtpLink::Rename(const std::string& from, const std::string& to)
{
    SendCommand("RNFR " + from, {350});
    SendCommand("RNTO " + to, {250});
}

void TFtpLink::ListNames(std::vector<std::string>* destination, const std::string& specifier, bool details)
{
    const std::string command = TServerReply::Trim(std::string(details ? "LIST " : "NLST ") + specifier);
    TListingSink listing;
    TransferIn(command, listing);
    if (destination)
        *destination = SplitListing(listing.text);
}

std::vector<std::string> TFtpLink::SplitListing(const std::string& text)
{
    std::vector<std::string> lines;
    const size_t end = std::min(text.find('\0'), text.size());
    size_t start = 0;
    size_t i = 0;
    while (i < end) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(text.substr(start, i - start));
            if (c == '\r' && i + 1 < end && text[i + 1] == '\n')
                ++i;
            start = ++i;
        } else {
            ++i;
        }
    }
    if (start < end)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

void TFtpLink::RequireSendable(const std::string& command)
{
    // Checked before the data connection is announced, so nothing at all goes out.
    if (command.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
        throw EFtpBadCommandText(command);
}

void TFtpLink::SendPortCommand(const TDataListener& listener)
{
    std::string address = listener.BoundIP;
    std::replace(address.begin(), address.end(), '.', ',');
    SendCommand("PORT " + address + "," + std::to_string(listener.BoundPort / 256) + "," +
                    std::to_string(listener.BoundPort % 256),
                {200});
}

void TFtpLink::OpenDataChannel()
{
    CloseDataChannel();
    if (Passive) {
        OpenPassiveConnection();
        return;
    }
    listener_ = std::make_unique<TDataListener>();
    listener_->RecvBufferSize = RecvBufferSize;
    listener_->SendBufferSize = SendBufferSize;
    listener_->BoundIP = LocalAddress();
    listener_->BoundPort = 0;
    listener_->Listen();
    SendPortCommand(*listener_);
}

void TFtpLink::OpenPassiveConnection()
{
    int port = 0;
    bool known = false;
    if (!epsvRefused_) {
        try {
            SendCommand("EPSV", {229});
            if (!parseEpsvPort(LastReply().JoinedText(), port))
                throw EFtpBadPassiveReply(LastReply());
            known = true;
        } catch (const EFtpReplyError& refused) {
            // Servers without the extended command say so with a 5xx reply.
            if (refused.NumericCode() < 500 || refused.NumericCode() > 504)
                throw;
            epsvRefused_ = true;
        }
    }
    if (!known) {
        SendCommand("PASV", {227});
        if (!parsePasvPort(LastReply().JoinedText(), port))
            throw EFtpBadPassiveReply(LastReply());
    }
    // The data connection goes to the control connection's peer: the address
    // inside a PASV reply is often a private one behind a NAT router, and
    // following it would let a server point us at any host.
    passiveLink_ = std::make_unique<TTcpLink>();
    passiveLink_->Host = PeerAddress();
    passiveLink_->Port = port;
    passiveLink_->ReadTimeout = ReadTimeout;
    passiveLink_->RecvBufferSize = RecvBufferSize;
    passiveLink_->SendBufferSize = SendBufferSize;
    passiveLink_->OnWait = OnWait;
    try {
        passiveLink_->Connect(DataConnectTimeout > 0 ? DataConnectTimeout : 0);
    } catch (const EFtpSocketError& failed) {
        if (failed.ErrorNumber() == ETIMEDOUT)
            throw EFtpDataTimeout();
        throw;
    }
}

TFtpLink::TArrival TFtpLink::AwaitDataConnection(bool upload)
{
    if (Passive) {
        dataLink_ = passiveLink_.get();
        SecureDataConnection();
        return TArrival::Connected;
    }
    // A reply that came in with the preliminary one already sits in the input
    // buffer, where waiting on the socket would not see it. A server sends its
    // completion only after its data connection is made, so a connection
    // waiting to be accepted still goes first.
    auto result = TDataListener::TWaitResult::ControlReadable;
    if (BufferedBytes() == 0)
        result = listener_->WaitForConnection(DataConnectTimeout, PeerAddress(), Handle(), OnWait);
    else if (listener_->WaitForConnection(1, PeerAddress()) == TDataListener::TWaitResult::Accepted)
        result = TDataListener::TWaitResult::Accepted;
    if (result == TDataListener::TWaitResult::TimedOut)
        throw EFtpDataTimeout();
    if (result == TDataListener::TWaitResult::ControlReadable) {
        // The server answered instead of connecting: either an error, or (for
        // an empty download) the completion without a data connection.
        int code = ReadReply();
        if (code == 426 || code == 450) {
            const TServerReply aborted = LastReply();
            code = ReadReply({226, 225});
            if (!upload)
                throw EFtpReplyError(aborted);
        }
        if (!isCompletion(code) || upload)
            throw EFtpReplyError(LastReply());
        return TArrival::AnsweredWithoutData;
    }
    dataLink_ = &listener_->Connection();
    dataLink_->ReadTimeout = ReadTimeout;
    dataLink_->OnWait = OnWait;
    SecureDataConnection();
    return TArrival::Connected;
}

void TFtpLink::CloseDataChannel()
{
    dataLink_ = nullptr;
    listener_.reset();
    passiveLink_.reset();
}

bool TFtpLink::ReadCompletion()
{
    const int code = ReadReply({225, 226, 250, 426, 450});
    if (code != 426 && code != 450)
        return true;
    const TServerReply aborted = LastReply();
    ReadReply({226, 225});
    lastAbort_ = aborted;
    return false;
}

void TFtpLink::Report(bool upload, std::uint64_t done, std::uint64_t total)
{
    if (OnProgress)
        OnProgress(TTransferProgress{upload, done, total});
}

std::uint64_t TFtpLink::Departed(std::uint64_t written) const
{
    return written - std::min<std::uint64_t>(dataLink_->QueuedBytes(), written);
}

char* TFtpLink::Block(size_t size)
{
    if (blockSize_ < size) {
        block_.reset(new char[size]);
        blockSize_ = size;
    }
    return block_.get();
}

// Watches a data transfer's pace: fewer than `limit` bytes a second on
// average over any `seconds` in a row is too slow.
class TPaceWatch {
public:
    TPaceWatch(std::uint64_t limit, int seconds) : limit_(limit), window_(std::chrono::seconds(seconds))
    {
        start_ = std::chrono::steady_clock::now();
    }
    void Moved(std::uint64_t bytes)
    {
        if (limit_ == 0 || window_.count() == 0)
            return;
        moved_ += bytes;
        const auto now = std::chrono::steady_clock::now();
        if (now - start_ < window_)
            return;
        const auto seconds = std::chrono::duration<double>(now - start_).count();
        if (double(moved_) < double(limit_) * seconds)
            throw EFtpTooSlow("The data connection moved " + std::to_string(moved_) + " bytes in " +
                              std::to_string(int(seconds)) + " seconds, below the limit of " +
                              std::to_string(limit_) + " bytes a second.");
        start_ = now;
        moved_ = 0;
    }

private:
    std::uint64_t limit_;
    std::chrono::steady_clock::duration window_;
    std::chrono::steady_clock::time_point start_;
    std::uint64_t moved_ = 0;
};

void TFtpLink::TransferIn(const std::string& command, TDataSink& destination, std::uint64_t restartAt,
                          TDelivery delivery)
{
    bool answered = false;
    bool overLimit = false;
    bool cutOff = false;
    std::optional<std::uint64_t> announced;
    std::uint64_t done = 0;
    RequireSendable(command);
    try {
        OpenDataChannel();
        if (restartAt > 0)
            SendCommand("REST " + std::to_string(restartAt), {350});
        SendCommand(command, {125, 150, 154});
        announced = announcedSize(LastReply());
        if (AwaitDataConnection(false) == TArrival::AnsweredWithoutData) {
            answered = true;
        } else {
            const size_t size = static_cast<size_t>(RecvBufferSize > 0 ? RecvBufferSize : 32768);
            char* block = Block(size);
            TPaceWatch pace(LowSpeedLimit, LowSpeedTime);
            for (;;) {
                const size_t received = dataLink_->ReceiveBlock(block, size);
                if (received == 0) {
                    cutOff = dataLink_->CutOff();
                    break;
                }
                if (delivery == TDelivery::Whole && MaxRetrieveBytes > 0 &&
                    restartAt + done + received > MaxRetrieveBytes) {
                    overLimit = true;
                    break;
                }
                destination.Write(block, received);
                done += received;
                Report(false, done, 0);
                pace.Moved(received);
            }
        }
    } catch (...) {
        CloseDataChannel();
        throw;
    }
    CloseDataChannel();
    if (overLimit) {
        // Our end of the data connection is closed: the server ends the
        // transfer with an abort (or, rarely, a completion) that is read here,
        // so that the control connection can go on.
        try {
            ReadReply();
        } catch (const EFtpReplyError&) {
        }
        throw EFtpDownloadTooLarge("The file is larger than the limit of " + std::to_string(MaxRetrieveBytes) +
                           " bytes for a download.");
    }
    if (cutOff) {
        // An encrypted stream that ends without the alert may have been cut
        // anywhere, whatever the server reports; listings too, since a name
        // missing from one would be taken for a file the server lacks.
        try {
            ReadCompletion();
        } catch (const EFtpReplyError&) {
        }
        throw EFtpIncompleteTransfer("The data connection ended after " + std::to_string(done) +
                                     " bytes without the server's TLS closing alert (close_notify): the "
                                     "transfer may have been cut off.");
    }
    const bool completed = answered || ReadCompletion();
    if (delivery == TDelivery::AsReported)
        return;
    if (answered)
        throw EFtpIncompleteTransfer("The server reported the transfer complete without sending any data (" +
                                     FtpDisplayText(TServerReply::Trim(LastReply().JoinedText())) + ").");
    if (!completed)
        throw EFtpIncompleteTransfer("The server broke the transfer off (" +
                                     FtpDisplayText(TServerReply::Trim(lastAbort_.JoinedText())) + ").");
    if (announced && restartAt + done != *announced)
        throw EFtpIncompleteTransfer("The server sent " + std::to_string(restartAt + done) + " of the " +
                                     std::to_string(*announced) + " bytes it announced.");
}

void TFtpLink::TransferOut(const std::string& command, TDataSource& source)
{
    RequireSendable(command);
    const std::uint64_t total = source.Size();
    const std::function<void()> pulse = OnWait;
    const std::function<void()> following = [this, total, pulse] {
        Report(true, Departed(total), total);
        if (pulse)
            pulse();
    };
    try {
        OpenDataChannel();
        SendCommand(command, {125, 150});
        AwaitDataConnection(true);
        const size_t size = static_cast<size_t>(SendBufferSize > 0 ? SendBufferSize : 32768);
        char* block = Block(size);
        std::uint64_t done = 0;
        TPaceWatch pace(LowSpeedLimit, LowSpeedTime);
        while (done < total) {
            const size_t wanted = static_cast<size_t>(std::min<std::uint64_t>(size, total - done));
            const size_t read = source.Read(block, wanted);
            if (read == 0)
                throw EFtpNoData();
            dataLink_->WriteBytes(block, read);
            done += read;
            Report(true, Departed(done), total);
            pace.Moved(read);
        }
        // On a slow line the system may hold much of the file after the last
        // write: from here until the completion reply the data connection
        // stays open, and the progress follows the bytes still queued. Only a
        // whole upload ends with the alert (and the half-close).
        dataLink_->OnWait = following;
        dataLink_->EndSending();
        dataLink_->AwaitTlsEnd();
    } catch (...) {
        OnWait = pulse;
        CloseDataChannel();
        throw;
    }
    bool completed = false;
    OnWait = following;
    try {
        completed = ReadCompletion();
    } catch (...) {
        OnWait = pulse;
        CloseDataChannel();
        throw;
    }
    OnWait = pulse;
    CloseDataChannel();
    Report(true, total, total);
    // An upload the server broke off is not stored, whatever reply follows.
    if (!completed)
        throw EFtpIncompleteTransfer("The server broke the transfer off (" +
                                     FtpDisplayText(TServerReply::Trim(lastAbort_.JoinedText())) + ").");
}

} // namespace tevrak
