// Data connections against a scripted peer: PORT, completion replies, refused
// commands, listings, bounded waits and foreign connections.
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

fs::path workFolder()
{
    return test::scratchFolder("ftp-data");
}

TEST(FtpData, RetrieveAnnouncesTheControlAddressAndFailsWhenTheServerReportsItAborted)
{
    const fs::path local = workFolder() / "retrieved.jpg";
    test::writeFile(local, std::string(5000, 'o')); // longer than the download: replaced
    ScriptedFtpPeer peer(ScriptedFtpPeer::afterLogin({
        [](ScriptedFtpSession& s) { s.answer("PORT ", "200 PORT ok"); },
        [](ScriptedFtpSession& s) {
            s.answer("RETR 12345678001.jpg", "150 opening data connection");
            s.openData();
            s.sendData("first part,");
            s.sendData(" second part");
            s.closeData();
            s.send("426 Connection closed; transfer aborted.\r\n226 Transfer complete.\r\n");
        },
        [](ScriptedFtpSession& s) { s.answer("NOOP", "200 still here"); },
    }));
    TFtpLink link;
    test::aimAt(link, peer);
    link.OpenControl(true);
    // 426 then 226: the server itself says the file did not come whole.
    EXPECT_THROW(link.RetrieveFile("12345678001.jpg", local.string(), true, false), EFtpIncompleteTransfer);
    EXPECT_EQ(test::readFile(local), "first part, second part");
    // The control connection is in step: the next reply belongs to the next command.
    EXPECT_EQ(link.SendCommand("NOOP", {200}), 200);
    link.CloseControl();
    peer.finish();
    EXPECT_EQ(peer.failure(), "");
    const auto commands = test::commandsAfterLogin(peer);
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[0].rfind("PORT 127,0,0,1,", 0), 0u) << commands[0];
    EXPECT_EQ(peer.dataConnections(), 1);
}

TEST(FtpData, PortCommandSpellsAddressAndPortInDecimal)
{
    ScriptedFtpPeer peer({
        [](ScriptedFtpSession& s) { s.reply("220 hi"); },
        [](ScriptedFtpSession& s) { s.answer("PORT ", "200 ok"); },
    });
    TFtpLink link;
    test::aimAt(link, peer);
    link.OpenControl(false);
    TDataListener listener;
    listener.BoundIP = "192.168.1.20";
    listener.BoundPort = 4660;
    link.SendPortCommand(listener);
    link.CloseControl();
    peer.finish();
    EXPECT_EQ(peer.commands(), (std::vector<std::string>{"PORT 192,168,1,20,18,52"}));
}

TEST(FtpData, RefusedStoreSendsNothingAndNeverWaitsForAConnection)
{
    const fs::path local = workFolder() / "refused.jpg";
    test::writeFile(local, "photo bytes");
    ScriptedFtpPeer peer(ScriptedFtpPeer::afterLogin({
        [](ScriptedFtpSession& s) { s.answer("PORT ", "200 ok"); },
        [](ScriptedFtpSession& s) { s.answer("STOR refused.jpg", "550 Permission denied."); },
        [](ScriptedFtpSession& s) { s.answer("NOOP", "200 ok"); },
    }));
    TFtpLink link;
    test::aimAt(link, peer);
    link.DataConnectTimeout = 30000;
    link.OpenControl(true);
    const auto start = std::chrono::steady_clock::now();
    try {
        link.StoreFile(local.string(), "refused.jpg", false);
        ADD_FAILURE() << "refused STOR succeeded";
    } catch (const EFtpReplyError& error) {
        EXPECT_EQ(error.NumericCode(), 550);
        EXPECT_EQ(std::string(error.what()), "Permission denied.\r\n");
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(link.SendCommand("NOOP", {200}), 200);
    link.CloseControl();
    peer.finish();
    EXPECT_EQ(peer.failure(), "");
    EXPECT_EQ(peer.dataConnections(), 0);
}

TEST(FtpData, ServerAnsweringInsteadOfConnectingEndsTheWaitAtOnce)
{
    ScriptedFtpPeer peer(ScriptedFtpPeer::afterLogin({
        [](ScriptedFtpSession& s) { s.answer("PORT ", "200 ok"); },
        [](ScriptedFtpSession& s) {
            s.answer("RETR a.jpg", "150 opening");
            s.reply("425 Can't open data connection.");
        },
    }));
    TFtpLink link;
    test::aimAt(link, peer);
    link.DataConnectTimeout = 30000;
    link.OpenControl(true);
    const auto start = std::chrono::steady_clock::now();
    try {
        link.RetrieveFile("a.jpg", (workFolder() / "a.jpg").string(), true, false);
        ADD_FAILURE() << "retrieve succeeded";
    } catch (const EFtpReplyError& error) {
        EXPECT_EQ(error.NumericCode(), 425);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    link.CloseControl();
}

TEST(FtpData, StoreSendsTheWholeFileAndAnEmptyFileSendsNoBytes)
{
    const fs::path photo = workFolder() / "12345678001.jpg";
    std::string bytes;
    for (int i = 0; i < 100000; ++i)
        bytes += static_cast<char>(i * 7 + i / 251);
    test::writeFile(photo, bytes);
    const fs::path empty = workFolder() / "empty.db";
    test::writeFile(empty, "");
    ScriptedFtpPeer peer(ScriptedFtpPeer::afterLogin({
        [](ScriptedFtpSession& s) { s.answer("PORT ", "200 ok"); },
        [&](ScriptedFtpSession& s) {
            s.answer("APPE 12345678001.jpg", "150 ok");
            s.openData();
            const std::string got = s.receiveData();
            s.reply(got.size() == 100000 ? "226 done" : "451 short file");
        },
        [](ScriptedFtpSession& s) { s.answer("PORT ", "200 ok"); },
        [](ScriptedFtpSession& s) {
            s.answer("STOR empty.db", "125 ok");
            s.openData();
            s.reply(s.receiveData().empty() ? "226 done" : "451 bytes arrived");
        },
        [](ScriptedFtpSession& s) { s.answer("PORT ", "200 ok"); },
        [](ScriptedFtpSession& s) {
            s.answer("APPE partial.db", "150 ok");
            s.openData();
            s.receiveData();
            s.reply("451 Local error in processing.");
        },
    }));
    TFtpLink link;
    test::aimAt(link, peer);
    std::vector<TTransferProgress> progress;
    link.OnProgress = [&](const TTransferProgress& p) { progress.push_back(p); };
    link.OpenControl(true);
    link.StoreFile(photo.string(), "12345678001.jpg", true);
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(progress.back().Upload);
    EXPECT_EQ(progress.back().Done, 100000u);
    EXPECT_EQ(progress.back().Total, 100000u);
    link.StoreFile(empty.string(), "empty.db", false);
    // The completion reply decides: 451 is a failure.
    EXPECT_THROW(link.StoreFile(empty.string(), "partial.db", true), EFtpReplyError);
    link.CloseControl();
    peer.finish();
    EXPECT_EQ(peer.failure(), "");
    EXPECT_EQ(peer.received(), bytes);
    EXPECT_EQ(peer.dataConnections(), 3);
}

TEST(FtpData, ListingsSplitAtEveryLineEndAndAnEmptyListingIsEmpty)
{
    ScriptedFtpPeer peer(ScriptedFtpPeer::afterLogin({
        [](ScriptedFtpSession& s) { s.answer("PORT ", "200 ok"); },
        [](ScriptedFtpSession& s) {
            s.answer("NLST *.*", "150 listing");
            s.openData();
            s.sendData("a.jpg\r\nb.zip\nc.db\rd.px");
            s.closeData();
            s.reply("226 done");
        },
        [](ScriptedFtpSession& s) { s.answer("PORT ", "200 ok"); },
        [](ScriptedFtpSession& s) {
            s.answer("NLST *.*", "150 listing");
            s.openData();
            s.closeData();
            s.reply("226 no files");
        },
        [](ScriptedFtpSession& s) { s.answer("PORT ", "200 ok"); },
        [](ScriptedFtpSession& s) {
            s.answer("LIST", "150 listing");
            s.openData();
            static const char listing[] = "x.jpg\r\n\r\ny.jpg\0z.jpg\r\n";
            s.sendData(std::string(listing, sizeof listing - 1));
            s.closeData();
            s.reply("226 done");
        },
    }));
    TFtpLink link;
    test::aimAt(link, peer);
    link.OpenControl(true);
    std::vector<std::string> names;
    link.ListNames(&names, "*.*", false);
    EXPECT_EQ(names, (std::vector<std::string>{"a.jpg", "b.zip", "c.db", "d.px"}));
    link.ListNames(&names, "*.*", false);
    EXPECT_TRUE(names.empty());
    // Surrounding spaces of the command go; lines stay unchanged; NUL ends the text.
    link.ListNames(&names, "  ", true);
    EXPECT_EQ(names, (std::vector<std::string>{"x.jpg", "", "y.jpg"}));
    link.CloseControl();
    peer.finish();
    EXPECT_EQ(peer.failure(), "");
}

TEST(FtpData, ServerThatNeverConnectsEndsInDataConnectionTimeout)
{
    ScriptedFtpPeer peer(ScriptedFtpPeer::afterLogin({
        [](ScriptedFtpSession& s) { s.answer("PORT ", "200 ok"); },
        [](ScriptedFtpSession& s) {
            s.answer("RETR a.jpg", "150 opening");
            s.waitForClientClose(5000);
        },
    }));
    TFtpLink link;
    test::aimAt(link, peer);
    link.DataConnectTimeout = 300;
    link.OpenControl(true);
    const auto start = std::chrono::steady_clock::now();
    try {
        link.RetrieveFile("a.jpg", (workFolder() / "never.jpg").string(), true, false);
        ADD_FAILURE() << "retrieve succeeded";
    } catch (const EFtpDataTimeout& error) {
        EXPECT_STREQ(error.what(), "Data connection timed out.");
    }
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(250));
    EXPECT_LT(waited, std::chrono::seconds(4));
    link.CloseControl();
}

TEST(FtpData, ListenerRefusesConnectionsFromOtherAddresses)
{
    ScriptedFtpPeer peer(ScriptedFtpPeer::afterLogin({
        [](ScriptedFtpSession& s) { s.answer("PORT ", "200 ok"); },
        [](ScriptedFtpSession& s) {
            s.answer("RETR a.jpg", "150 opening");
            // Somebody else on the network gets in first: refused, and the wait goes on.
            if (!s.foreignConnectionRefused("127.0.0.2"))
                throw test::ScriptAbort{"the foreign connection was accepted"};
            s.openData();
            s.sendData("the real photo");
            s.closeData();
            s.reply("226 done");
        },
    }));
    TFtpLink link;
    test::aimAt(link, peer);
    link.OpenControl(true);
    const fs::path local = workFolder() / "foreign.jpg";
    link.RetrieveFile("a.jpg", local.string(), true, false);
    EXPECT_EQ(test::readFile(local), "the real photo");
    link.CloseControl();
    peer.finish();
    EXPECT_EQ(peer.failure(), "");
}

TEST(FtpData, LocalFileProblemsSendNothing)
{
    const fs::path existing = workFolder() / "existing.jpg";
    test::writeFile(existing, "keep me");
    ScriptedFtpPeer peer(ScriptedFtpPeer::afterLogin({
        [](ScriptedFtpSession& s) { s.answer("NOOP", "200 ok"); },
    }));
    TFtpLink link;
    test::aimAt(link, peer);
    link.OpenControl(true);
    try {
        link.StoreFile((workFolder() / "missing.jpg").string(), "missing.jpg", true);
        ADD_FAILURE() << "stored a missing file";
    } catch (const EFtpFileError& error) {
        EXPECT_NE(std::string(error.what()).find("missing.jpg"), std::string::npos) << error.what();
    }
    EXPECT_THROW(link.RetrieveFile("x.jpg", (workFolder() / "no" / "such" / "x.jpg").string(), true, false),
                 EFtpFileError);
    try {
        link.RetrieveFile("existing.jpg", existing.string(), false, false);
        ADD_FAILURE() << "overwrote a file";
    } catch (const EFtpDestinationExists& error) {
        EXPECT_STREQ(error.what(), "Destination file already exists.");
    }
    EXPECT_EQ(test::readFile(existing), "keep me");
    EXPECT_EQ(link.SendCommand("NOOP", {200}), 200);
    link.CloseControl();
    peer.finish();
    EXPECT_EQ(test::commandsAfterLogin(peer), (std::vector<std::string>{"NOOP"}));
}

TEST(FtpData, ResumeAsksForTheRestAndAppends)
{
    const fs::path local = workFolder() / "resumed.zip";
    test::writeFile(local, "0123456789");
    ScriptedFtpPeer peer(ScriptedFtpPeer::afterLogin({
        [](ScriptedFtpSession& s) { s.answer("PORT ", "200 ok"); },
        [](ScriptedFtpSession& s) { s.answer("REST 10", "350 Restarting at 10."); },
        [](ScriptedFtpSession& s) {
            s.answer("RETR resumed.zip", "150 ok");
            s.openData();
            s.sendData("abcdef");
            s.closeData();
            s.reply("226 done");
        },
    }));
    TFtpLink link;
    test::aimAt(link, peer);
    link.OpenControl(true);
    link.RetrieveFile("resumed.zip", local.string(), false, true);
    EXPECT_EQ(test::readFile(local), "0123456789abcdef");
    link.CloseControl();
    peer.finish();
    EXPECT_EQ(peer.failure(), "");
}

TEST(FtpData, DataConnectionBrokenByTheServerIsAnError)
{
    ScriptedFtpPeer peer(ScriptedFtpPeer::afterLogin({
        [](ScriptedFtpSession& s) { s.answer("PORT ", "200 ok"); },
        [](ScriptedFtpSession& s) {
            s.answer("RETR big.zip", "150 ok");
            s.openData();
            s.sendData(std::string(100000, 'b'));
            s.resetData();
            s.waitForClientClose(5000);
        },
    }));
    TFtpLink link;
    test::aimAt(link, peer);
    link.OpenControl(true);
    const fs::path local = workFolder() / "broken.zip";
    EXPECT_THROW(link.RetrieveFile("big.zip", local.string(), true, false), EFtpSocketError);
    link.CloseControl();
}

TEST(FtpData, DataConnectionThatGoesSilentEndsInReadTimeout)
{
    ScriptedFtpPeer peer(ScriptedFtpPeer::afterLogin({
        [](ScriptedFtpSession& s) { s.answer("PORT ", "200 ok"); },
        [](ScriptedFtpSession& s) {
            s.answer("RETR stalled.zip", "150 ok");
            s.openData();
            s.sendData("the first bytes");
            s.waitForClientClose(5000); // neither more data nor a close
        },
    }));
    TFtpLink link;
    test::aimAt(link, peer);
    link.ReadTimeout = 300;
    link.OpenControl(true);
    const fs::path local = workFolder() / "stalled.zip";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(link.RetrieveFile("stalled.zip", local.string(), true, false), EFtpReadTimeout);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    // What arrived before the stall stays in the local file.
    EXPECT_EQ(test::readFile(local), "the first bytes");
    link.CloseControl();
}

TEST(FtpData, PassiveFallsBackToPasvAndConnectsToTheControlPeer)
{
    ScriptedFtpPeer peer(ScriptedFtpPeer::afterLogin({
        [](ScriptedFtpSession& s) { s.answer("EPSV", "500 EPSV not understood"); },
        [](ScriptedFtpSession& s) {
            s.expect("PASV");
            const int port = s.listenForData();
            // A private address behind a NAT router: ignored, the control peer is used.
            s.reply("227 Entering Passive Mode (10,1,2,3," + std::to_string(port / 256) + "," +
                    std::to_string(port % 256) + ").");
            s.acceptData();
        },
        [](ScriptedFtpSession& s) {
            s.answer("RETR a.jpg", "150 ok");
            s.sendData("passive bytes");
            s.closeData();
            s.reply("226 done");
        },
        [](ScriptedFtpSession& s) {
            s.expect("PASV"); // no second EPSV on this connection
            const int port = s.listenForData();
            s.reply("227 =127,0,0,1," + std::to_string(port / 256) + "," + std::to_string(port % 256));
            s.acceptData();
        },
        [](ScriptedFtpSession& s) {
            s.answer("STOR b.jpg", "150 ok");
            s.receiveData();
            s.reply("226 done");
        },
    }));
    TFtpLink link;
    test::aimAt(link, peer);
    link.Passive = true;
    link.OpenControl(true);
    const fs::path local = workFolder() / "passive.jpg";
    link.RetrieveFile("a.jpg", local.string(), true, false);
    EXPECT_EQ(test::readFile(local), "passive bytes");
    link.StoreFile(local.string(), "b.jpg", false);
    link.CloseControl();
    peer.finish();
    EXPECT_EQ(peer.failure(), "");
    EXPECT_EQ(peer.received(), "passive bytes");
}

} // namespace
} // namespace tevrak
