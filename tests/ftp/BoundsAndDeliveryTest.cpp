// What the client refuses to be held or fed by, and the downloads it refuses
// to count as delivered, against a scripted peer.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "FtpTestHelpers.h"
#include "ftp/FtpLink.h"
#include "support/ScriptedFtpPeer.h"
#include "support/TestEnvironment.h"

namespace tevrak {
namespace {

namespace fs = std::filesystem;
using test::ScriptedFtpPeer;
using test::ScriptedFtpSession;
using Step = ScriptedFtpPeer::Step;
using Clock = std::chrono::steady_clock;

fs::path workFile(const std::string& name)
{
    return test::scratchFolder("ftp-bounds") / name;
}

Step port()
{
    return [](ScriptedFtpSession& s) { s.answer("PORT ", "200 ok"); };
}

TEST(FtpBounds, ReplyAlreadyBufferedWithThePreliminaryOneEndsTheDataWaitAtOnce)
{
    ScriptedFtpPeer peer(ScriptedFtpPeer::afterLogin({
        port(),
        [](ScriptedFtpSession& s) {
            s.expect("RETR a.jpg");
            s.send("150 opening\r\n425 Can't open data connection.\r\n"); // one segment
        },
    }));
    TFtpLink link;
    test::aimAt(link, peer);
    link.DataConnectTimeout = 30000;
    link.OpenControl(true);
    const auto start = Clock::now();
    try {
        link.RetrieveFile("a.jpg", workFile("a.jpg").string(), true, false);
        ADD_FAILURE() << "retrieve succeeded";
    } catch (const EFtpReplyError& error) {
        EXPECT_EQ(error.NumericCode(), 425);
    }
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5)); // not the 30 s wait
    link.CloseControl();
}

TEST(FtpBounds, ReplyLinesAndListingsHaveALimit)
{
    auto reply = [](int middleLines) {
        std::string text = "211-start\r\n";
        for (int i = 0; i < middleLines; ++i)
            text += "line\r\n";
        return text + "211 end\r\n";
    };
    ScriptedFtpPeer peer(ScriptedFtpPeer::afterLogin({
        [&](ScriptedFtpSession& s) {
            s.expect("STAT");
            s.send(reply(998)); // 1,000 lines in all
        },
        [&](ScriptedFtpSession& s) {
            s.expect("STAT");
            s.send(reply(999));
        },
    }));
    TFtpLink link;
    test::aimAt(link, peer);
    link.OpenControl(true);
    EXPECT_EQ(link.SendCommand("STAT", {211}), 211);
    EXPECT_EQ(link.LastReply().Text.size(), 1000u);
    EXPECT_THROW(link.SendCommand("STAT", {211}), EFtpTooLarge);
    link.CloseControl();
    peer.finish();

    const std::string name(30, 'n');
    std::string block;
    while (block.size() < (1u << 20))
        block += name + "\r\n";
    ScriptedFtpPeer lister(ScriptedFtpPeer::afterLogin({
        port(),
        [&](ScriptedFtpSession& s) {
            s.answer("NLST *.*", "150 here it comes");
            s.openData();
            for (int i = 0; i < 17; ++i)
                s.sendData(block);
            s.closeData();
            s.reply("226 done");
        },
    }));
    TFtpLink listing;
    test::aimAt(listing, lister);
    listing.OpenControl(true);
    std::vector<std::string> names;
    EXPECT_THROW(listing.ListNames(&names, "*.*", false), EFtpTooLarge);
    listing.CloseControl();
}

TEST(FtpBounds, ReadTimeoutBoundsTheWholeReplyHoweverItTrickles)
{
    ScriptedFtpPeer peer(ScriptedFtpPeer::afterLogin({
        [](ScriptedFtpSession& s) {
            s.expect("NOOP");
            for (const char c : std::string("200 still there, one byte at a time\r\n")) {
                s.send(std::string(1, c));
                s.silence(200);
            }
        },
    }));
    TFtpLink link;
    test::aimAt(link, peer);
    link.OpenControl(true);
    link.ReadTimeout = 300;
    const auto start = Clock::now();
    EXPECT_THROW(link.SendCommand("NOOP", {200}), EFtpReadTimeout);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));
    link.CloseControl();
}

TEST(FtpBounds, LineBreakOrNulInAnArgumentIsRefusedBeforeAnythingIsSent)
{
    ScriptedFtpPeer peer(ScriptedFtpPeer::afterLogin({
        [](ScriptedFtpSession& s) { s.answer("NOOP", "200 ok"); },
    }));
    const fs::path local = workFile("line.jpg");
    test::writeFile(local, "photo");
    TFtpLink link;
    test::aimAt(link, peer);
    link.OpenControl(true);
    try {
        link.StoreFile(local.string(), "evil\nDELE x.jpg", true);
        ADD_FAILURE() << "a name with LF was sent";
    } catch (const EFtpBadCommandText& refused) {
        EXPECT_NE(std::string(refused.what()).find("evil\\nDELE x.jpg"), std::string::npos) << refused.what();
    }
    EXPECT_THROW(link.RetrieveFile("a\r.jpg", workFile("r.jpg").string(), true, false), EFtpBadCommandText);
    EXPECT_THROW(link.RemoveFile(std::string("n\0ul.jpg", 8)), EFtpBadCommandText);
    EXPECT_THROW(link.ChangeDirectory("Claim/x\r\nCWD /"), EFtpBadCommandText);
    EXPECT_EQ(link.SendCommand("NOOP", {200}), 200);
    link.CloseControl();
    peer.finish();
    EXPECT_EQ(test::commandsAfterLogin(peer), std::vector<std::string>{"NOOP"}); // not even a PORT went out
}

TEST(FtpDelivery, ADownloadCountsOnlyWhenItCameWholeOverADataConnection)
{
    ScriptedFtpPeer peer(ScriptedFtpPeer::afterLogin({
        // Completion without any data connection.
        port(), [](ScriptedFtpSession& s) { s.answer("RETR a.pdf", "150 ok"); s.reply("226 done"); },
        // Fewer bytes than the preliminary reply announced.
        port(),
        [](ScriptedFtpSession& s) {
            s.answer("RETR b.pdf", "150 Opening BINARY mode data connection for b.pdf (10 bytes).");
            s.openData();
            s.sendData("12345");
            s.closeData();
            s.reply("226 done");
        },
        // Reported aborted, without data.
        port(), [](ScriptedFtpSession& s) { s.answer("RETR c.pdf", "150 ok"); s.send("450 aborted\r\n226 ok\r\n"); },
        // A connection from another address is refused; the server then calls it done.
        port(),
        [](ScriptedFtpSession& s) {
            s.answer("RETR e.pdf", "150 ok");
            if (!s.foreignConnectionRefused("127.0.0.2"))
                throw test::ScriptAbort{"the foreign connection was not refused"};
            s.reply("226 done");
        },
        // Whole: the announced size came.
        port(),
        [](ScriptedFtpSession& s) {
            s.answer("RETR d.pdf", "150 Opening data connection for d.pdf (3 bytes)");
            s.openData();
            s.sendData("abc");
            s.closeData();
            s.reply("226 done");
        },
        // A listing may come without a data connection: an empty folder.
        port(), [](ScriptedFtpSession& s) { s.answer("NLST *.*", "150 ok"); s.reply("226 nothing"); },
        // An upload the server broke off is not stored.
        port(),
        [](ScriptedFtpSession& s) {
            s.answer("APPE up.jpg", "150 ok");
            s.openData();
            s.receiveData();
            s.closeData();
            s.send("426 Connection closed; transfer aborted.\r\n226 ok\r\n");
        },
        [](ScriptedFtpSession& s) { s.answer("NOOP", "200 in step"); },
    }));
    TFtpLink link;
    test::aimAt(link, peer);
    link.OpenControl(true);
    for (const char* name : {"a.pdf", "b.pdf", "c.pdf", "e.pdf"}) {
        SCOPED_TRACE(name);
        EXPECT_THROW(link.RetrieveFile(name, workFile(name).string(), true, false), EFtpError);
    }
    EXPECT_EQ(fs::file_size(workFile("e.pdf")), 0u);
    link.RetrieveFile("d.pdf", workFile("d.pdf").string(), true, false);
    EXPECT_EQ(test::readFile(workFile("d.pdf")), "abc");
    std::vector<std::string> names{"stale"};
    link.ListNames(&names, "*.*", false);
    EXPECT_TRUE(names.empty());
    test::writeFile(workFile("up.jpg"), "photo");
    EXPECT_THROW(link.StoreFile(workFile("up.jpg").string(), "up.jpg", true), EFtpIncompleteTransfer);
    EXPECT_EQ(link.SendCommand("NOOP", {200}), 200);
    link.CloseControl();
    peer.finish();
    EXPECT_EQ(peer.failure(), "");
}

TEST(FtpBounds, ADownloadPastItsLimitIsBrokenOffAndTheControlConnectionGoesOn)
{
    ScriptedFtpPeer peer(ScriptedFtpPeer::afterLogin({
        port(),
        [](ScriptedFtpSession& s) {
            s.answer("RETR big.pdf", "150 sending");
            s.openData();
            s.sendData(std::string(64 * 1024, 'b'));
            s.resetData(); // what a server sees as the client's close: the transfer is broken off
            s.reply("426 Connection closed; transfer aborted.");
        },
        port(),
        [](ScriptedFtpSession& s) {
            s.answer("RETR small.pdf", "150 sending");
            s.openData();
            s.sendData("small");
            s.closeData();
            s.reply("226 done");
        },
    }));
    TFtpLink link;
    test::aimAt(link, peer);
    link.MaxRetrieveBytes = 1000;
    link.OpenControl(true);
    EXPECT_THROW(link.RetrieveFile("big.pdf", workFile("big.pdf").string(), true, false), EFtpDownloadTooLarge);
    EXPECT_LE(fs::file_size(workFile("big.pdf")), 1000u); // nothing past the limit reached the disk
    link.RetrieveFile("small.pdf", workFile("small.pdf").string(), true, false);
    EXPECT_EQ(test::readFile(workFile("small.pdf")), "small");
    link.CloseControl();
    peer.finish();
    EXPECT_EQ(peer.failure(), "");
}

TEST(FtpBounds, ADataConnectionThatTricklesBelowTheLowSpeedLimitFails)
{
    ScriptedFtpPeer peer(ScriptedFtpPeer::afterLogin({
        port(),
        [](ScriptedFtpSession& s) {
            s.answer("RETR slow.pdf", "150 sending");
            s.openData();
            // A byte now and then, each well within the read time-out.
            for (int i = 0; i < 4; ++i) {
                s.sendData("x");
                s.silence(700);
            }
            s.closeData();
            s.reply("226 done");
        },
    }));
    TFtpLink link;
    test::aimAt(link, peer);
    link.LowSpeedLimit = 100;
    link.LowSpeedTime = 1;
    link.OpenControl(true);
    EXPECT_THROW(link.RetrieveFile("slow.pdf", workFile("slow.pdf").string(), true, false), EFtpTooSlow);
    link.CloseControl();
}

} // namespace
} // namespace tevrak
