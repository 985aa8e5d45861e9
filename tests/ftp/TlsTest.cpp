// FTP over TLS against the stand-in server (pyftpdlib with pyOpenSSL) and a
// scripted peer: encrypted transfers in both modes, the certificate checks,
// servers without TLS, and encrypted streams that end the wrong way. The
// certificates are made at run time by make-test-certificates.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "FtpTestHelpers.h"
#include "ftp/FtpLink.h"
#include "support/LocalFtpServer.h"
#include "support/ScriptedFtpPeer.h"
#include "support/TestEnvironment.h"

namespace tevrak {
namespace {

namespace fs = std::filesystem;
using test::ScriptedFtpPeer;
using test::ScriptedFtpSession;

class FtpTls : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        certificates_ = fs::path(test::temporaryBase()) / "tls-certificates";
        fs::remove_all(certificates_);
        fs::create_directories(certificates_);
        const std::string command = "bash '" + std::string(TEVRAK_SOURCE_DIR) +
                                    "/tests/ftp/make-test-certificates' '" + certificates_.string() + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }

    void SetUp() override
    {
        base_ = fs::path(test::temporaryBase()) / ("ftp-tls-" + std::to_string(++serial_));
        root_ = base_ / "server";
        local_ = base_ / "local";
        fs::create_directories(local_);
    }

    static std::string certificate(const std::string& name) { return (certificates_ / (name + ".pem")).string(); }
    static std::string key(const std::string& name) { return (certificates_ / (name + ".key")).string(); }

    // Starts the stand-in with the given options and its command log.
    void startServer(std::vector<std::string> options)
    {
        commandLog_ = base_ / ("commands-" + std::to_string(++starts_) + ".log");
        options.push_back("--command-log");
        options.push_back(commandLog_.string());
        port_ = server_.start(root_.string(), options);
    }

    std::vector<std::string> tlsOptions(const std::string& name, bool required = true)
    {
        std::vector<std::string> options = {"--tls", certificate(name), key(name)};
        if (required)
            options.push_back("--tls-required");
        return options;
    }

    void aim(TFtpLink& link, TTlsMode mode, bool passive = false, const std::string& host = "127.0.0.1")
    {
        link.Host = host;
        link.Port = port_;
        link.Username = test::LocalFtpServer::User;
        link.Password = test::LocalFtpServer::Password;
        link.ReadTimeout = 10000;
        link.DataConnectTimeout = 10000;
        link.Passive = passive;
        link.Tls = mode;
        link.CertificateFile = certificate("ca");
    }

    // The command lines the server received, in order.
    std::vector<std::string> commandsReceived() const
    {
        std::vector<std::string> lines;
        std::ifstream in(commandLog_);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    static inline fs::path certificates_;
    static inline int serial_ = 0;
    fs::path base_, root_, local_, commandLog_;
    int starts_ = 0;
    int port_ = 0;
    test::LocalFtpServer server_;
};

// Every byte value, in an order that a shifted or dropped block breaks.
std::string binaryBytes(size_t size)
{
    std::string bytes(size, '\0');
    std::uint32_t x = 2463534242u;
    for (auto& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<char>(x);
    }
    return bytes;
}

// The stand-in with TLS required refuses USER before AUTH TLS, data
// connections before PROT P, and (like vsftpd) a data connection that does not
// resume the control connection's TLS session: every transfer here passing
// shows the session was resumed. Trusted either through the CA or through the
// server's own certificate, dialled by address and by name.
TEST_F(FtpTls, RequiredCarriesUploadListingAndDownloadByteForByteInBothModes)
{
    startServer(tlsOptions("server"));
    const std::string photo = binaryBytes(700001);
    for (const bool passive : {false, true}) {
        SCOPED_TRACE(passive ? "passive, by name, trusting the server's certificate" : "active, by address");
        const std::string garage = passive ? "GaragePassive" : "GarageActive";
        fs::create_directories(root_ / "Claim" / garage);
        TFtpLink link;
        aim(link, TTlsMode::Required, passive, passive ? "localhost" : "127.0.0.1");
        if (passive)
            link.CertificateFile = certificate("server");
        link.OpenControl(true);
        EXPECT_TRUE(link.Encrypted());
        link.ChangeDirectory("Claim/" + garage);

        test::writeFile(local_ / "photo.jpg", photo);
        link.StoreFile((local_ / "photo.jpg").string(), "12345678001.jpg", true);
        EXPECT_TRUE(test::readFile(root_ / "Claim" / garage / "12345678001.jpg") == photo);
        test::writeFile(local_ / "empty.PX", "");
        link.StoreFile((local_ / "empty.PX").string(), "Tevrak2.PX", true);

        std::vector<std::string> names;
        link.ListNames(&names, "*.*", false);
        EXPECT_EQ(names, (std::vector<std::string>{"12345678001.jpg", "Tevrak2.PX"}));

        link.RetrieveFile("12345678001.jpg", (local_ / "back.jpg").string(), true, false);
        EXPECT_TRUE(test::readFile(local_ / "back.jpg") == photo);
        test::writeFile(local_ / "back.PX", "old");
        link.RetrieveFile("Tevrak2.PX", (local_ / "back.PX").string(), true, false);
        EXPECT_EQ(test::readFile(local_ / "back.PX"), "");
        link.CloseControl();
    }
    const std::vector<std::string> commands = commandsReceived();
    ASSERT_GE(commands.size(), 7u);
    EXPECT_EQ(std::vector<std::string>(commands.begin(), commands.begin() + 7),
              (std::vector<std::string>{"AUTH TLS", "USER online", "PASS ******", "PBSZ 0", "PROT P", "TYPE I",
                                        "SYST"}));
}

// A certificate that fails the check ends the connection right after the
// handshake, whatever the mode: the server hears nothing after AUTH TLS.
TEST_F(FtpTls, CertificateFailingTheCheckIsRefusedForItsReasonAndNothingFollowsAuth)
{
    struct Case {
        std::string certificate;
        std::string host;
        TTlsMode mode;
        TCertificateProblem reason;
        std::string said;
    };
    const std::vector<Case> cases = {
        {"unknown-authority", "127.0.0.1", TTlsMode::Required, TCertificateProblem::Untrusted, "not issued by"},
        {"other-name", "127.0.0.1", TTlsMode::Required, TCertificateProblem::WrongName,
         "for another name than \"127.0.0.1\""},
        {"other-name", "localhost", TTlsMode::IfOffered, TCertificateProblem::WrongName,
         "for another name than \"localhost\""},
        {"expired", "127.0.0.1", TTlsMode::IfOffered, TCertificateProblem::Expired, "has expired"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.certificate + " dialled as " + c.host);
        startServer(tlsOptions(c.certificate, c.mode == TTlsMode::Required));
        TFtpLink link;
        aim(link, c.mode, false, c.host);
        try {
            link.OpenControl(true);
            ADD_FAILURE() << "the certificate was accepted";
        } catch (const EFtpCertificateError& refused) {
            EXPECT_EQ(refused.Reason(), c.reason);
            EXPECT_NE(std::string(refused.what()).find(c.said), std::string::npos) << refused.what();
        }
        EXPECT_FALSE(link.Connected());
        server_.stop();
        EXPECT_EQ(commandsReceived(), std::vector<std::string>{"AUTH TLS"});
    }
}

// A server without TLS: Required stops before USER; IfOffered works as plain FTP.
TEST_F(FtpTls, PlainServerFailsRequiredBeforeUserAndServesIfOfferedInPlainText)
{
    startServer({});
    TFtpLink required;
    aim(required, TTlsMode::Required);
    EXPECT_THROW(required.OpenControl(true), EFtpTlsRequired);
    EXPECT_FALSE(required.Connected());
    EXPECT_EQ(commandsReceived(), std::vector<std::string>{"AUTH TLS"});

    fs::create_directories(root_ / "Claim" / "G");
    TFtpLink offered;
    aim(offered, TTlsMode::IfOffered);
    offered.OpenControl(true);
    EXPECT_FALSE(offered.Encrypted());
    offered.ChangeDirectory("Claim/G");
    test::writeFile(local_ / "a.jpg", "plain bytes");
    offered.StoreFile((local_ / "a.jpg").string(), "a.jpg", true);
    offered.RetrieveFile("a.jpg", (local_ / "b.jpg").string(), true, false);
    EXPECT_EQ(test::readFile(local_ / "b.jpg"), "plain bytes");
    offered.CloseControl();
    const std::vector<std::string> commands = commandsReceived();
    ASSERT_GE(commands.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(commands.begin(), commands.begin() + 5),
              (std::vector<std::string>{"AUTH TLS", "AUTH TLS", "USER online", "PASS ******", "TYPE I"}));
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "PBSZ 0"), 0);
}

// A download whose encrypted data connection ends with a plain TCP close
// instead of the server's close_notify is cut off, even with every byte there
// and the server reporting 226; the control connection goes on.
TEST_F(FtpTls, DownloadEndingWithoutCloseNotifyIsIncomplete)
{
    std::vector<std::string> options = tlsOptions("server");
    options.push_back("--tls-cut-data");
    startServer(options);
    fs::create_directories(root_ / "Claim" / "Download3" / "BR");
    test::writeFile(root_ / "Claim" / "Download3" / "BR" / "12345678.Zip", binaryBytes(50000));
    for (const bool passive : {false, true}) {
        SCOPED_TRACE(passive ? "passive" : "active");
        TFtpLink link;
        aim(link, TTlsMode::Required, passive);
        link.OpenControl(true);
        link.ChangeDirectory("Claim/Download3/BR");
        EXPECT_THROW(link.RetrieveFile("12345678.Zip", (local_ / "x.Zip").string(), true, false),
                     EFtpIncompleteTransfer);
        EXPECT_EQ(link.FileSize("12345678.Zip"), 50000u);
        link.CloseControl();
    }
}

// Faults on the control connection as a scripted peer makes them: a server
// that accepts AUTH TLS and then says nothing (the handshake waits no longer
// than ReadTimeout), and one that slips plain text in after its 234.
TEST(FtpTlsScripted, SilentHandshakeTimesOutAndPlainTextAfterAuthIsRefused)
{
    {
        ScriptedFtpPeer peer({
            [](ScriptedFtpSession& s) { s.reply("220 ready"); },
            [](ScriptedFtpSession& s) { s.answer("AUTH TLS", "234 go ahead"); },
            [](ScriptedFtpSession& s) { s.silence(1500); },
        });
        TFtpLink link;
        test::aimAt(link, peer);
        link.ReadTimeout = 300;
        link.Tls = TTlsMode::IfOffered;
        EXPECT_THROW(link.OpenControl(true), EFtpReadTimeout);
        EXPECT_FALSE(link.Connected());
        peer.finish();
        EXPECT_EQ(peer.failure(), "");
    }
    {
        ScriptedFtpPeer peer({
            [](ScriptedFtpSession& s) { s.reply("220 ready"); },
            [](ScriptedFtpSession& s) {
                s.expect("AUTH TLS");
                s.send("234 go ahead\r\n230 already logged in\r\n");
            },
        });
        TFtpLink link;
        test::aimAt(link, peer);
        link.Tls = TTlsMode::Required;
        EXPECT_THROW(link.OpenControl(true), EFtpTlsError);
        EXPECT_FALSE(link.Connected());
        peer.finish();
        EXPECT_EQ(peer.commands(), std::vector<std::string>{"AUTH TLS"});
    }
}

} // namespace
} // namespace tevrak
