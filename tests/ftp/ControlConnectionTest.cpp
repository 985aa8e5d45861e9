// The control connection against a scripted peer: greetings, login, reply
// parsing, line limits, closes and time-outs.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "FtpTestHelpers.h"
#include "ftp/FtpLink.h"
#include "support/ScriptedFtpPeer.h"

namespace tevrak {
namespace {

using test::ScriptedFtpPeer;
using test::ScriptedFtpSession;
using Step = ScriptedFtpPeer::Step;

TEST(FtpControl, LogsInAndKeepsGreetingLoginReplyAndSystem)
{
    ScriptedFtpPeer peer({
        [](ScriptedFtpSession& s) { s.send("220-Welcome to the\r\n220-claims server\r\n220 ready\r\n"); },
        [](ScriptedFtpSession& s) { s.answer("USER online", "331 password please"); },
        [](ScriptedFtpSession& s) { s.answer("PASS tuvorplex", "230 logged in"); },
        [](ScriptedFtpSession& s) { s.answer("TYPE I", "200 binary"); },
        [](ScriptedFtpSession& s) { s.answer("SYST", "215 UNIX Type: L8"); },
    });
    TFtpLink link;
    test::aimAt(link, peer);
    link.OpenControl(true);
    EXPECT_TRUE(link.Connected());
    EXPECT_EQ(link.Greeting().NumericCode, 220);
    EXPECT_EQ(link.Greeting().Text, (std::vector<std::string>{"Welcome to the", "claims server", "ready"}));
    EXPECT_EQ(link.LoginReply().NumericCode, 230);
    EXPECT_EQ(link.SystemDescription(), "UNIX Type: L8");
    link.CloseControl();
    EXPECT_FALSE(link.Connected());
    peer.finish();
    EXPECT_EQ(peer.failure(), "");
    // No QUIT on close.
    EXPECT_EQ(peer.commands(), (std::vector<std::string>{"USER online", "PASS tuvorplex", "TYPE I", "SYST"}));
}

TEST(FtpControl, RefusingGreetingFailsAndLeavesTheConnectionClosed)
{
    for (const std::string greeting : {"120 try again in 5 minutes", "421 too many users"}) {
        ScriptedFtpPeer peer({[&](ScriptedFtpSession& s) { s.reply(greeting); }});
        TFtpLink link;
        test::aimAt(link, peer);
        try {
            link.OpenControl(true);
            ADD_FAILURE() << "greeting accepted: " << greeting;
        } catch (const EFtpReplyError& error) {
            EXPECT_EQ(error.NumericCode(), std::stoi(greeting.substr(0, 3)));
            EXPECT_EQ(std::string(error.what()), greeting.substr(4) + "\r\n");
        }
        EXPECT_FALSE(link.Connected());
        EXPECT_THROW(link.WriteLine("NOOP"), EFtpNotConnected);
        peer.finish();
        EXPECT_TRUE(peer.commands().empty()) << "a command followed a refused greeting";
    }
}

TEST(FtpControl, BlankLinesSpacesAndShortRepliesAreParsedAsServersSendThem)
{
    ScriptedFtpPeer peer({
        [](ScriptedFtpSession& s) { s.send("\r\n  \r\n\t220   hello there  \r\n"); },
        // A reply of exactly three characters: 230 logs in without PASS.
        [](ScriptedFtpSession& s) { s.answer("USER ", "230"); },
        [](ScriptedFtpSession& s) { s.answer("TYPE I", "  200 ok  "); },
        [](ScriptedFtpSession& s) { s.answer("SYST", "215 UNIX"); },
        // Non-numeric code.
        [](ScriptedFtpSession& s) { s.answer("NOOP", "abcd what"); },
        [](ScriptedFtpSession& s) { s.answer("NOOP", "1x3 really"); },
        // Multi-line reply with a blank line and a short line inside: only its code and a space end it.
        [](ScriptedFtpSession& s) { s.expect("STAT"); },
        [](ScriptedFtpSession& s) { s.send("211-first\r\n\r\n   second line\r\n12\r\nOK\r\n211 late\r\n"); },
        [](ScriptedFtpSession& s) { s.expect("NOOP"); },
        // The end marker is matched whatever the case, and only after a "-" first line.
        [](ScriptedFtpSession& s) { s.send("2a1-one\r\n2A1 two\r\n"); },
    });
    TFtpLink link;
    test::aimAt(link, peer);
    link.OpenControl(true);
    EXPECT_EQ(link.Greeting().Text, (std::vector<std::string>{"  hello there"}));
    EXPECT_EQ(link.LoginReply().NumericCode, 230);
    EXPECT_EQ(link.LoginReply().TextCode, "230");
    EXPECT_EQ(link.LoginReply().Text, (std::vector<std::string>{""}));

    try {
        link.SendCommand("NOOP", {200});
        ADD_FAILURE() << "a non-numeric code was accepted";
    } catch (const EFtpReplyError& error) {
        EXPECT_EQ(error.NumericCode(), 0);
        EXPECT_EQ(error.Reply().TextCode, "abcd");
        EXPECT_EQ(std::string(error.what()), " what\r\n"); // from the fifth character on
    }
    EXPECT_EQ(link.SendCommand("NOOP"), 0); // any code accepted
    EXPECT_EQ(link.LastReply().TextCode, "1x3");

    EXPECT_EQ(link.SendCommand("STAT", {211}), 211);
    EXPECT_EQ(link.LastReply().Text, (std::vector<std::string>{"first", "nd line", "", "", "late"}));

    link.SendCommand("NOOP");
    EXPECT_EQ(link.LastReply().Text, (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(link.LastReply().NumericCode, 0);
    link.CloseControl();
    peer.finish();
    EXPECT_EQ(peer.failure(), "");
    for (const auto& command : peer.commands())
        EXPECT_NE(command.rfind("PASS", 0), 0u) << "PASS sent after 230";
}

TEST(FtpControl, LoginFailuresCarryTheServerTextAndCloseTheConnection)
{
    struct Case {
        std::vector<Step> script;
        int code;
        std::string message;
    };
    std::vector<Case> cases;
    cases.push_back({{
                         [](ScriptedFtpSession& s) { s.reply("220 hi"); },
                         [](ScriptedFtpSession& s) { s.answer("USER ", "331 password please"); },
                         [](ScriptedFtpSession& s) { s.answer("PASS ", "530 Login incorrect."); },
                     },
                     530,
                     "Login incorrect.\r\n"});
    cases.push_back({{
                         [](ScriptedFtpSession& s) { s.reply("220 hi"); },
                         [](ScriptedFtpSession& s) { s.answer("USER ", "230 in"); },
                         [](ScriptedFtpSession& s) { s.answer("TYPE I", "200 ok"); },
                         [](ScriptedFtpSession& s) { s.answer("SYST", "502 Command not implemented."); },
                     },
                     502,
                     "Command not implemented.\r\n"});
    for (auto& c : cases) {
        ScriptedFtpPeer peer(std::move(c.script));
        TFtpLink link;
        test::aimAt(link, peer);
        try {
            link.OpenControl(true);
            ADD_FAILURE() << "login succeeded";
        } catch (const EFtpError& error) {
            const auto* reply = dynamic_cast<const EFtpReplyError*>(&error);
            ASSERT_NE(reply, nullptr) << error.what();
            EXPECT_EQ(reply->NumericCode(), c.code);
            EXPECT_EQ(std::string(error.what()), c.message);
        }
        EXPECT_FALSE(link.Connected());
        peer.finish();
        EXPECT_EQ(peer.failure(), "");
    }
}

TEST(FtpControl, SystAnsweredWith500GivesUnknownSystem)
{
    ScriptedFtpPeer peer({
        [](ScriptedFtpSession& s) { s.reply("220 hi"); },
        [](ScriptedFtpSession& s) { s.answer("USER ", "331 pass"); },
        [](ScriptedFtpSession& s) { s.answer("PASS ", "230 in"); },
        [](ScriptedFtpSession& s) { s.answer("TYPE I", "200 ok"); },
        [](ScriptedFtpSession& s) { s.answer("SYST", "500 SYST not understood"); },
    });
    TFtpLink link;
    test::aimAt(link, peer);
    link.OpenControl(true);
    EXPECT_TRUE(link.Connected());
    EXPECT_EQ(link.SystemDescription(), "Unknown");
    link.CloseControl();
}

TEST(FtpControl, LineLengthLimitAndLineEnds)
{
    const std::string longest(16384, 'x');
    ScriptedFtpPeer peer({
        [&](ScriptedFtpSession& s) {
            s.reply("220 hi");
            s.send(longest + "\n");
            s.send("200 crlf\r\n200 bare lf\n200 cr\rinside\n");
            // Sent in pieces: the reader has to come back for more.
            s.send(std::string(8000, 'y'));
            s.silence(50);
            s.send(std::string(8000, 'y') + "\n");
            s.send(longest + "z\n");
        },
    });
    TFtpLink link;
    test::aimAt(link, peer);
    link.OpenControl(false);
    EXPECT_EQ(link.ReadLine(), longest);
    EXPECT_EQ(link.ReadReply({200}), 200);
    EXPECT_EQ(link.LastReply().Text, (std::vector<std::string>{"crlf"}));
    link.ReadReply({200});
    EXPECT_EQ(link.LastReply().Text, (std::vector<std::string>{"bare lf"}));
    link.ReadReply({200});
    EXPECT_EQ(link.LastReply().Text, (std::vector<std::string>{"cr\rinside"}));
    EXPECT_EQ(link.ReadLine().size(), 16000u);
    try {
        link.ReadLine();
        ADD_FAILURE() << "a line of 16385 bytes was accepted";
    } catch (const EFtpLineTooLong& error) {
        EXPECT_STREQ(error.what(), "Max line length exceeded.");
    }
    // The input buffer stays bounded by the line limit plus a block or two.
    EXPECT_LE(link.BufferCapacity(), 16384u + 3 * 32768u);
    link.CloseControl();
}

TEST(FtpControl, LineWithoutEndIsRefusedOnceItPassesTheLimit)
{
    ScriptedFtpPeer peer({[](ScriptedFtpSession& s) {
        s.reply("220 hi");
        for (int i = 0; i < 64; ++i)
            s.send(std::string(4096, 'q')); // 256 KiB without a line end
        s.silence(200);
    }});
    TFtpLink link;
    test::aimAt(link, peer);
    link.MaxLineLength = 1000;
    link.OpenControl(false);
    EXPECT_THROW(link.ReadLine(), EFtpLineTooLong);
    EXPECT_LE(link.BufferCapacity(), 1000u + 3 * 32768u);
    link.CloseControl();
}

TEST(FtpControl, ServerClosingWhileAReplyIsAwaitedRaisesClosed)
{
    ScriptedFtpPeer peer({
        [](ScriptedFtpSession& s) { s.reply("220 hi"); },
        [](ScriptedFtpSession& s) {
            s.expect("USER ");
            s.send("331 half a line without its end");
            s.closeControl();
        },
    });
    TFtpLink link;
    test::aimAt(link, peer);
    try {
        link.OpenControl(true);
        ADD_FAILURE() << "login succeeded";
    } catch (const EFtpClosed& error) {
        EXPECT_STREQ(error.what(), "Connection Closed Gracefully.");
    }
    EXPECT_FALSE(link.Connected());
}

TEST(FtpControl, SendStatesAfterCloseAndNoSigpipe)
{
    TFtpLink never;
    EXPECT_THROW(never.WriteLine("NOOP"), EFtpNotConnected);
    EXPECT_THROW(never.ReadLine(), EFtpNotConnected);

    ScriptedFtpPeer peer({
        [](ScriptedFtpSession& s) { s.reply("220 hi"); },
        [](ScriptedFtpSession& s) { s.answer("NOOP", "200 ok"); },
        [](ScriptedFtpSession& s) { s.closeControl(); },
    });
    TFtpLink link;
    test::aimAt(link, peer);
    link.OpenControl(false);
    // A second open is refused and leaves the working connection alone.
    EXPECT_THROW(link.OpenControl(false), EFtpAlreadyConnected);
    EXPECT_TRUE(link.Connected());
    link.SendCommand("NOOP", {200});
    peer.finish();
    // Writing to a peer that has gone: an error every time, never SIGPIPE
    // (which would end this test program).
    bool raised = false;
    for (int i = 0; i < 100 && !raised; ++i) {
        try {
            link.WriteLine(std::string(1000, 'n'));
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        } catch (const EFtpError&) {
            raised = true;
        }
    }
    EXPECT_TRUE(raised);
    EXPECT_THROW(link.WriteLine("NOOP"), EFtpClosed);
    link.CloseControl();
    EXPECT_THROW(link.WriteLine("NOOP"), EFtpNotConnected);
}

TEST(FtpControl, SilentServerEndsInReadTimeout)
{
    ScriptedFtpPeer peer({
        [](ScriptedFtpSession& s) { s.reply("220 hi"); },
        [](ScriptedFtpSession& s) {
            s.expect("USER ");
            s.waitForClientClose(5000); // never answers
        },
    });
    TFtpLink link;
    test::aimAt(link, peer);
    link.ReadTimeout = 300;
    const auto start = std::chrono::steady_clock::now();
    try {
        link.OpenControl(true);
        ADD_FAILURE() << "login succeeded";
    } catch (const EFtpReadTimeout& error) {
        EXPECT_STREQ(error.what(), "Read Timeout");
    }
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_LT(waited, std::chrono::seconds(4));
    EXPECT_FALSE(link.Connected());
}

TEST(FtpControl, ConnectFailuresAreSocketErrors)
{
    // A port nobody listens on: take a free one and give it back.
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    const int port = ntohs(address.sin_port);
    ::close(probe);
    TFtpLink link;
    link.Host = "LocalHost";
    link.Port = port;
    try {
        link.OpenControl(true);
        ADD_FAILURE() << "connected to a closed port";
    } catch (const EFtpSocketError& error) {
        EXPECT_EQ(error.ErrorNumber(), ECONNREFUSED);
        EXPECT_EQ(
            std::string(error.what()).rfind("Socket Error # " + std::to_string(ECONNREFUSED) + "\r\n", 0),
            0u);
    }
    EXPECT_FALSE(link.Connected());
}

TEST(FtpControl, ServerTextInTheThaiCodePageBecomesUtf8)
{
    ScriptedFtpPeer peer({
        [](ScriptedFtpSession& s) { s.reply("220 hi"); },
        [](ScriptedFtpSession& s) { s.answer("CWD ", "550 \xA1\xD2\xC3 folder"); },
    });
    TFtpLink link;
    test::aimAt(link, peer);
    link.OpenControl(false);
    try {
        link.ChangeDirectory("Claim/\xA1\xD2\xC3");
        ADD_FAILURE() << "CWD accepted";
    } catch (const EFtpReplyError& error) {
        EXPECT_EQ(std::string(error.what()), "\u0E01\u0E32\u0E23 folder\r\n");
        EXPECT_EQ(error.Reply().Text.front(), "\xA1\xD2\xC3 folder"); // bytes as received
    }
    link.CloseControl();
    peer.finish();
    EXPECT_EQ(peer.commands(), (std::vector<std::string>{"CWD Claim/\xA1\xD2\xC3"}));
}

} // namespace
} // namespace tevrak
