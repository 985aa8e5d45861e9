// The server exchange without a window, against scripted servers that give the
// replies a real server rarely gives.

#include "exchange/ConnectionRouter.h"
#include "exchange/ExchangeTestSupport.h"
#include "exchange/session/DownloadNames.h"
#include "exchange/session/ExchangeSession.h"
#include "platform/core/FileSystem.h"
#include "support/LocalFtpServer.h"
#include "support/ScriptedFtpPeer.h"
#include "support/faults/PlantedFaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <iostream>
#include <iterator>
#include <limits>
#include <thread>

namespace tevrak {
namespace {

using namespace test;
using Step = ScriptedFtpPeer::Step;

const QString garage = QStringLiteral("อู่สมชาย");
const QString branch = QStringLiteral("สาขาหาดใหญ่");

// Records what the exchange showed.
struct Watcher : exchange::ExchangeObserver {
    QStringList events;
    void uploadStarting(int n) override { events << QStringLiteral("start %1").arg(n); }
    void uploadingFile(const QString& name) override { events << "send " + name; }
    void uploadEnded() override { events << "end"; }
    void openDownload(const QString& file, const QString&) override
    {
        events << "open " + QFileInfo(file).fileName();
    }
};

// --- scripted servers ---------------------------------------------------------

Step listing(const std::string& command, const std::string& data);

// A new name appended to the garage's folder.
Step appended(const std::string& name)
{
    return [name](ScriptedFtpSession& s) {
        s.answer("PORT ", "200 ok");
        s.answer("APPE " + name, "150 go");
        s.openData();
        s.receiveData();
        s.closeData();
        s.reply("226 done");
    };
}

// The upload connection: the garage's folder is listed once (here it holds
// `onServer`), then each new name is appended.
std::vector<Step> uploads(const std::vector<std::string>& names, const std::string& onServer = "")
{
    std::vector<Step> steps = ScriptedFtpPeer::login();
    steps.push_back([](ScriptedFtpSession& s) { s.answer("CWD Claim/" + cp874(garage), "250 ok"); });
    steps.push_back(listing("NLST *.*", onServer));
    for (const auto& name : names)
        steps.push_back(appended(name));
    return steps;
}

std::vector<Step> downloadLogin()
{
    std::vector<Step> steps = ScriptedFtpPeer::login();
    steps.push_back(
        [](ScriptedFtpSession& s) { s.answer("CWD Claim/Download3/" + cp874(branch), "250 ok"); });
    return steps;
}

Step listing(const std::string& command, const std::string& data)
{
    return [command, data](ScriptedFtpSession& s) {
        s.answer("PORT ", "200 ok");
        s.answer(command, "150 here");
        s.openData();
        s.sendData(data);
        s.closeData();
        s.reply("226 done");
    };
}

Step refusal(const std::string& command, const std::string& reply)
{
    return [command, reply](ScriptedFtpSession& s) {
        s.answer("PORT ", "200 ok");
        s.answer(command, reply);
    };
}

Step retrieve(const std::string& name, const std::string& data)
{
    return [name, data](ScriptedFtpSession& s) {
        s.answer("PORT ", "200 ok");
        s.answer("RETR " + name, "150 sending");
        s.openData();
        s.sendData(data);
        s.closeData();
        s.reply("226 done");
    };
}

Step remove(const std::string& name)
{
    return [name](ScriptedFtpSession& s) { s.answer("DELE " + name, "250 deleted"); };
}

// The sizes asked for after the branch's listing, one a name to fetch; an
// empty size: the server does not tell it.
Step sizes(const std::vector<std::pair<std::string, std::string>>& named)
{
    return [named](ScriptedFtpSession& s) {
        for (const auto& [name, size] : named)
            s.answer("SIZE " + name, size.empty() ? "550 Not a regular file" : "213 " + size);
    };
}

class ScriptedExchangeTest : public ::testing::Test {
protected:
    void SetUp() override { cleanWorkstation(); }

    bool runAgainst(int port)
    {
        session = std::make_unique<exchange::ExchangeSession>(garage);
        session->link().Host = "127.0.0.1";
        session->link().Port = port;
        session->ReadTimeout = 3000;
        session->Observer = &watcher;
        return session->run().succeeded;
    }

    // An exchange with an empty outbox whose download connection plays `down`
    // and must fail: the reason. downCommands keeps what the client sent there.
    QString failingDownload(std::vector<Step> down)
    {
        ScriptedFtpPeer up(uploads({}));
        ScriptedFtpPeer downPeer(std::move(down));
        ConnectionRouter router({up.port(), downPeer.port()});
        EXPECT_FALSE(runAgainst(router.port()));
        const QString failure = session->failure();
        session.reset(); // closes the connection the failure left open
        downPeer.finish();
        EXPECT_EQ(downPeer.failure(), "");
        downCommands = downPeer.commands();
        return failure;
    }

    std::unique_ptr<exchange::ExchangeSession> session;
    Watcher watcher;
    std::vector<std::string> downCommands;
};

TEST_F(ScriptedExchangeTest, FolderWhoseListingsAreBothRefusedCountsAsEmpty)
{
    writeBranchFile(branch);
    writeBytes(outboxFile("c.JPG"), "c");
    writeBytes(outboxFile("B.jpg"), "b");
    writeBytes(outboxFile("a.zip"), "a");
    // The script expects the uploads in case-insensitive name order.
    ScriptedFtpPeer up(uploads({"a.zip", "B.jpg", "c.JPG"}));
    std::vector<Step> down = downloadLogin();
    down.push_back(refusal("NLST *.*", "550 No files found"));
    down.push_back(refusal("NLST", "450 No files found"));
    ScriptedFtpPeer downPeer(down);
    ConnectionRouter router({up.port(), downPeer.port()});

    EXPECT_TRUE(runAgainst(router.port())) << session->failure().toStdString();
    up.finish();
    downPeer.finish();
    EXPECT_EQ(up.failure(), "");
    EXPECT_EQ(downPeer.failure(), "");
    const auto commands = downPeer.commands();
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[commands.size() - 3], "NLST *.*");
    EXPECT_EQ(commands.back(), "NLST");
    EXPECT_EQ(up.received(), "abc");
    EXPECT_EQ(watcher.events, (QStringList{"start 3", "send a.zip", "send B.jpg", "send c.JPG", "end"}));
    // New files cost one listing of the garage's folder, whatever their number: no SIZE per file.
    const auto sent = up.commands();
    auto count = [&](const char* prefix) {
        return std::count_if(sent.begin(), sent.end(), [&](const std::string& c) { return c.rfind(prefix, 0) == 0; });
    };
    EXPECT_EQ(count("NLST"), 1);
    EXPECT_EQ(count("SIZE"), 0);
    EXPECT_EQ(count("APPE"), 3);
}

TEST_F(ScriptedExchangeTest, PlainListingRefusedWith550IsAFailureNotAnEmptyFolder)
{
    writeBranchFile(branch);
    std::vector<Step> down = downloadLogin();
    down.push_back(refusal("NLST *.*", "550 No such file"));
    down.push_back(refusal("NLST", "550 Permission denied."));

    const QString failure = failingDownload(down);
    EXPECT_TRUE(failure.startsWith("อ่านรายชื่อไฟล์ในโฟลเดอร์ของสาขาบนเซิร์ฟเวอร์ไม่สำเร็จ: เซิร์ฟเวอร์ตอบปฏิเสธ\n"))
        << failure.toStdString();
    EXPECT_TRUE(failure.contains("550 Permission denied")) << failure.toStdString();
}

TEST_F(ScriptedExchangeTest, FoldersAndSecondNamesForOneLocalFileStayOnTheServer)
{
    writeBranchFile(branch);
    // 84 Thai characters: 252 bytes in UTF-8, so ".<name>.part" would pass the 255-byte limit.
    const QString longThai = QString(80, QChar(0x0E01)) + QStringLiteral(".pdf");
    const std::string longName = cp874(longThai);
    ScriptedFtpPeer up(uploads({}));
    std::vector<Step> down = downloadLogin();
    down.push_back(listing("NLST *.*", ".\r\n..\r\nsub\r\na/x.pdf\r\nb/x.pdf\r\nB/X.PDF\r\n" + longName + "\r\n"));
    down.push_back(sizes({{"sub", ""}, {"a/x.pdf", "7"}, {longName, "9"}}));
    down.push_back(refusal("RETR sub", "550 Not a regular file"));
    down.push_back([](ScriptedFtpSession& s) { s.answer("CWD sub", "250 ok"); });
    down.push_back([](ScriptedFtpSession& s) { s.answer("CWD ..", "250 ok"); });
    down.push_back(retrieve("a/x.pdf", "first x"));
    down.push_back(remove("a/x.pdf"));
    down.push_back(retrieve(longName, "long name"));
    down.push_back(remove(longName));
    ScriptedFtpPeer downPeer(down);
    ConnectionRouter router({up.port(), downPeer.port()});

    EXPECT_TRUE(runAgainst(router.port())) << session->failure().toStdString();
    downPeer.finish();
    EXPECT_EQ(downPeer.failure(), "");
    EXPECT_EQ(readBytes(dayFolder() + "/x.pdf"), "first x");
    EXPECT_EQ(readBytes(dayFolder() + "/" + longThai), "long name");
    for (const auto& command : downPeer.commands())
        EXPECT_TRUE(command.find("b/x.pdf") == std::string::npos && command.find("B/X.PDF") == std::string::npos &&
                    command != "DELE sub")
            << command;
}

TEST_F(ScriptedExchangeTest, DownloadThatDidNotComeWholeIsNeverDeleted)
{
    writeBranchFile(branch);
    std::vector<Step> down = downloadLogin();
    down.push_back(listing("NLST *.*", "only.pdf\r\n"));
    down.push_back(sizes({{"only.pdf", "100"}}));
    down.push_back([](ScriptedFtpSession& s) {
        s.answer("PORT ", "200 ok");
        s.answer("RETR only.pdf", "150 Opening data connection for only.pdf (100 bytes)");
        s.openData();
        s.sendData(std::string(60, 'p'));
        s.closeData();
        s.reply("226 Transfer complete");
    });

    const QString failure = failingDownload(down);
    EXPECT_TRUE(failure.contains("60 of the 100 bytes")) << failure.toStdString();
    EXPECT_EQ(QDir(dayFolder()).entryList(QDir::Files | QDir::Hidden), QStringList{});
    for (const auto& command : downCommands)
        EXPECT_NE(command.rfind("DELE", 0), 0u) << command;
}

// Decides each server copy by its name's last letters, and records what it was asked.
struct FixedMerger : exchange::ServerCopyMerger {
    using Outcome = exchange::MergeResult::Outcome;
    bool combines(const QString&) const override { return true; }
    std::uint64_t largestCopy(const QString&) const override { return 1 << 20; }
    exchange::MergeResult merge(const QString& ours, const QString& theirs, const QString& name) override
    {
        asked << name + ":" + QString::fromLatin1(readBytes(theirs)) + "/" + QString::fromLatin1(readBytes(ours));
        if (name.endsWith(".PX"))
            return {Outcome::KeepAside, "unreadable", "not an index"};
        return {Outcome::Merged, {}, {}};
    }
    std::optional<QString> ownerOf(const QString&) override { return std::nullopt; }
    void note(const QString& event) override { notes << event; }
    QStringList asked;
    QStringList notes;
};

Step fetchCopy(const std::string& name, const std::string& bytes)
{
    return [name, bytes](ScriptedFtpSession& s) {
        s.answer("SIZE " + name, "213 " + std::to_string(bytes.size()));
        s.answer("PORT ", "200 ok");
        s.answer("RETR " + name, "150 sending");
        s.openData();
        s.sendData(bytes);
        s.closeData();
        s.reply("226 done");
    };
}

Step store(const std::string& command)
{
    return [command](ScriptedFtpSession& s) {
        s.answer("PORT ", "200 ok");
        s.answer(command, "150 go");
        s.openData();
        s.receiveData();
        s.closeData();
        s.reply("226 stored");
    };
}

Step reply(const std::string& command, const std::string& answer)
{
    return [command, answer](ScriptedFtpSession& s) { s.answer(command, answer); };
}

class ScriptedReplacementTest : public ScriptedExchangeTest {
protected:
    // Runs the exchange of Tevrak2.DB and Tevrak2.PX against `replacement`,
    // played after the listing that shows both on the server.
    // `downloads`: the exchange gets as far as the branch's folder.
    bool replaceAgainst(const std::vector<Step>& replacement, bool downloads = true,
                        const std::string& listed = "tevrak2.db\r\nTevrak2.PX\r\n")
    {
        writeBranchFile(branch);
        writeBytes(outboxFile("Tevrak2.PX"), "new index");
        writeBytes(outboxFile("Tevrak2.DB"), "new table");
        std::vector<Step> steps = ScriptedFtpPeer::login();
        steps.push_back([](ScriptedFtpSession& s) { s.answer("CWD Claim/" + cp874(garage), "250 ok"); });
        steps.push_back(listing("NLST *.*", listed));
        steps.insert(steps.end(), replacement.begin(), replacement.end());
        ScriptedFtpPeer up(steps);
        std::vector<Step> down = downloadLogin();
        down.push_back(listing("NLST *.*", ""));
        ScriptedFtpPeer downPeer(downloads ? down : ScriptedFtpPeer::login());
        ConnectionRouter router({up.port(), downPeer.port()});
        session = std::make_unique<exchange::ExchangeSession>(garage);
        session->Merger = &merger;
        session->link().Host = "127.0.0.1";
        session->link().Port = router.port();
        session->ReadTimeout = 3000;
        const bool succeeded = session->run().succeeded;
        failure = session->failure();
        session.reset(); // closes the connection a failure left open
        up.finish();
        if (downloads)
            downPeer.finish();
        EXPECT_EQ(up.failure(), "");
        received = up.received();
        return succeeded;
    }

    FixedMerger merger;
    std::string received;
    QString failure;
};

// A server that will not rename over a file: theirs is renamed aside before
// ours is renamed in, and deleted only after that; a copy that cannot be
// merged keeps its bytes under a name that says why. The server's spelling of
// a name in another case is the one used.
TEST_F(ScriptedReplacementTest, ServerThatWillNotRenameOverAFileLosesNothingAtAnyStep)
{
    EXPECT_TRUE(replaceAgainst({
        fetchCopy("tevrak2.db", "old table"),
        store("STOR tevrak2.db.tevrak-part-"),
        reply("RNFR tevrak2.db.tevrak-part-", "350 ready"),
        reply("RNTO tevrak2.db", "553 File exists"),
        reply("RNFR tevrak2.db", "350 ready"),
        reply("RNTO tevrak2.db.tevrak-old-", "250 renamed"),
        reply("RNFR tevrak2.db.tevrak-part-", "350 ready"),
        reply("RNTO tevrak2.db", "250 renamed"),
        reply("DELE tevrak2.db.tevrak-old-", "250 deleted"),
        // The index cannot be merged: kept aside whole, ours goes up under the name.
        fetchCopy("Tevrak2.PX", "old index"),
        reply("RNFR Tevrak2.PX", "350 ready"),
        reply("RNTO Tevrak2.PX.unreadable-", "250 renamed"),
        store("STOR Tevrak2.PX.tevrak-part-"),
        reply("RNFR Tevrak2.PX.tevrak-part-", "350 ready"),
        reply("RNTO Tevrak2.PX", "250 renamed"),
    })) << failure.toStdString();
    EXPECT_EQ(merger.asked, (QStringList{"Tevrak2.DB:old table/new table", "Tevrak2.PX:old index/new index"}));
    EXPECT_EQ(received, "new tablenew index");
    EXPECT_EQ(merger.notes.size(), 1);
    EXPECT_TRUE(merger.notes.value(0).contains("Tevrak2.PX.unreadable-")) << merger.notes.value(0).toStdString();
    EXPECT_EQ(platform::listFiles(platform::paths::outbox + "\\*.*"), QStringList{});
}

// A server without RNFR: ours is stored over the name only once a whole copy
// of it is on the server (a STOR cut short loses nothing), and a copy that
// would have to be kept aside is left alone, the Transfer failing with why.
TEST_F(ScriptedReplacementTest, ServerWithoutRenameStoresOverOnlyBehindAWholeCopy)
{
    EXPECT_FALSE(replaceAgainst({
        fetchCopy("tevrak2.db", "old table"),
        store("STOR tevrak2.db.tevrak-part-"),
        reply("RNFR tevrak2.db.tevrak-part-", "502 Command not implemented"),
        store("STOR tevrak2.db"),
        reply("DELE tevrak2.db.tevrak-part-", "250 deleted"),
        fetchCopy("Tevrak2.PX", "old index"),
    }, false));
    EXPECT_EQ(received, "new tablenew table");
    EXPECT_TRUE(failure.startsWith("ส่งไฟล์ไม่สำเร็จ: ") && failure.contains("\n    Tevrak2.PX: ") &&
                failure.contains("RNFR"))
        << failure.toStdString();
    EXPECT_EQ(platform::listFiles(platform::paths::outbox + "\\*.*"), QStringList{"Tevrak2.PX"});
}

// A server that does not tell a file's size and sends more than a copy of
// that name may have: the download is given up at the cap, the replies kept in
// step, and the copy kept aside unread.
TEST_F(ScriptedReplacementTest, CopyLargerThanItsCapIsKeptAsideUnread)
{
    EXPECT_TRUE(replaceAgainst({
        reply("SIZE Tevrak2.DB", "550 Could not get file size."),
        [](ScriptedFtpSession& s) {
            s.answer("PORT ", "200 ok");
            s.answer("RETR Tevrak2.DB", "150 sending");
            s.openData();
            try {
                s.sendData(std::string(3 << 20, 'x'));
            } catch (const ScriptAbort&) {
                // the client closed the data connection, as it should
            }
            s.closeData();
            s.reply("426 Connection closed; transfer aborted.");
        },
        reply("NOOP", "200 ok"),
        reply("RNFR Tevrak2.DB", "350 ready"),
        reply("RNTO Tevrak2.DB.too-large-", "250 renamed"),
        store("STOR Tevrak2.DB.tevrak-part-"),
        reply("RNFR Tevrak2.DB.tevrak-part-", "350 ready"),
        reply("RNTO Tevrak2.DB", "250 renamed"),
        store("APPE Tevrak2.PX"),
    }, true, "Tevrak2.DB\r\n")) << failure.toStdString();
    EXPECT_EQ(merger.asked, QStringList{});
    EXPECT_EQ(received, "new tablenew index");
    EXPECT_EQ(QDir(local(platform::paths::outbox)).entryList(QDir::Files | QDir::Dirs | QDir::Hidden |
                                                              QDir::NoDotAndDotDot),
              QStringList{});
}

TEST_F(ScriptedExchangeTest, UnsafeListedNamesAreNeitherFetchedNorDeleted)
{
    writeBranchFile(branch);
    ScriptedFtpPeer up(uploads({}));
    std::vector<Step> down = downloadLogin();
    down.push_back(refusal("NLST *.*", "550 Wildcards not understood"));
    down.push_back(listing("NLST", ".\r\n..\r\n\r\n../../escape.txt\r\nsub/inner.txt\r\nbell\x07.txt\r\n"));
    down.push_back(sizes({{"../../escape.txt", "15"}, {"sub/inner.txt", "5"}}));
    down.push_back(retrieve("../../escape.txt", "tried to escape"));
    down.push_back(remove("../../escape.txt"));
    down.push_back(retrieve("sub/inner.txt", "inner"));
    down.push_back(remove("sub/inner.txt"));
    ScriptedFtpPeer downPeer(down);
    ConnectionRouter router({up.port(), downPeer.port()});

    EXPECT_TRUE(runAgainst(router.port())) << session->failure().toStdString();
    downPeer.finish();
    EXPECT_EQ(downPeer.failure(), "");
    // Only the last component is used locally: both land in the day folder, nothing above it.
    EXPECT_EQ(readBytes(dayFolder() + "/escape.txt"), "tried to escape");
    EXPECT_EQ(readBytes(dayFolder() + "/inner.txt"), "inner");
    EXPECT_FALSE(QFile::exists(local(platform::paths::load) + "/../escape.txt"));
    EXPECT_EQ(QDir(dayFolder()).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"escape.txt", "inner.txt"}));
    EXPECT_EQ(watcher.events.filter("open "), (QStringList{"open escape.txt", "open inner.txt"}));
    for (const auto& command : downPeer.commands())
        EXPECT_TRUE(command.find("bell") == std::string::npos && command != "RETR ." && command != "RETR ..")
            << command;
}

TEST_F(ScriptedExchangeTest, DownloadFailingHalfWayKeepsWhatCameBefore)
{
    writeBranchFile(branch);
    ScriptedFtpPeer up(uploads({}));
    std::vector<Step> down = downloadLogin();
    down.push_back(listing("NLST *.*", "first.pdf\r\nsecond.pdf\r\n"));
    down.push_back(sizes({{"first.pdf", "14"}, {"second.pdf", "40000"}}));
    down.push_back(retrieve("first.pdf", "complete first"));
    down.push_back(remove("first.pdf"));
    down.push_back([](ScriptedFtpSession& s) {
        s.answer("PORT ", "200 ok");
        s.answer("RETR second.pdf", "150 sending");
        s.openData();
        s.sendData(std::string(20000, 'x'));
        s.resetData();
        s.closeControl();
    });
    ScriptedFtpPeer downPeer(down);
    ConnectionRouter router({up.port(), downPeer.port()});

    EXPECT_FALSE(runAgainst(router.port()));
    downPeer.finish();
    EXPECT_EQ(downPeer.failure(), "");
    EXPECT_EQ(readBytes(dayFolder() + "/first.pdf"), "complete first");
    EXPECT_EQ(readBytes(local("c:\\LOAD\\ALL\\first.pdf")), "complete first");
    // No half file under the real name, and none left hidden either.
    EXPECT_EQ(QDir(dayFolder()).entryList(QDir::Files | QDir::Hidden), QStringList{"first.pdf"});
    EXPECT_EQ(watcher.events.filter("open "), QStringList{"open first.pdf"});
    for (const auto& command : downPeer.commands())
        EXPECT_NE(command, "DELE second.pdf");
}

TEST_F(ScriptedExchangeTest, OneFileThatCannotBeSentOrKeptHoldsBackNoOther)
{
    writeBranchFile(branch);
    writeBytes(outboxFile("11111111001.jpg"), "refused by the server");
    writeBytes(outboxFile("22222222001.jpg"), "goes up");
    std::vector<Step> upSteps = ScriptedFtpPeer::login();
    upSteps.push_back([](ScriptedFtpSession& s) { s.answer("CWD Claim/" + cp874(garage), "250 ok"); });
    upSteps.push_back(listing("NLST *.*", ""));
    upSteps.push_back(refusal("APPE 11111111001.jpg", "553 Could not create file."));
    upSteps.push_back(appended("22222222001.jpg"));
    ScriptedFtpPeer up(upSteps);
    const std::string longName = std::string(252, 'n') + ".pdf"; // 256 bytes: no file name here can carry it
    std::vector<Step> down = downloadLogin();
    down.push_back(listing("NLST *.*", "a.pdf\r\n.tevrak-download.part\r\n" + longName + "\r\nb.pdf\r\n"));
    down.push_back(sizes({{"a.pdf", "22"}, {"b.pdf", "5"}}));
    down.push_back(retrieve("a.pdf", "cannot be put in place"));
    down.push_back(retrieve("b.pdf", "whole"));
    down.push_back(remove("b.pdf"));
    ScriptedFtpPeer downPeer(down);
    ConnectionRouter router({up.port(), downPeer.port()});
    QStringList failed, left;
    test::FailedRename renameFails("/a.pdf"); // the day folder's disk refuses the final name

    session = std::make_unique<exchange::ExchangeSession>(garage);
    session->link().Host = "127.0.0.1";
    session->link().Port = router.port();
    session->ReadTimeout = 3000;
    session->Observer = &watcher;
    session->OnFileFailed = [&](const QString& name, const QString&) { failed << name; };
    session->OnFileLeft = [&](const QString& name, const QString&) { left << name.left(20); };
    const exchange::ExchangeOutcome outcome = session->run();
    session.reset();
    up.finish();
    downPeer.finish();

    EXPECT_FALSE(outcome.succeeded);
    EXPECT_EQ(failed, (QStringList{"11111111001.jpg", "a.pdf"}));
    EXPECT_TRUE(outcome.failure.contains("ส่งไฟล์ไม่สำเร็จ: เซิร์ฟเวอร์ตอบปฏิเสธ\n    11111111001.jpg: 553"))
        << outcome.failure.toStdString();
    EXPECT_TRUE(outcome.failure.contains("รับไฟล์ไม่สำเร็จ: ") && outcome.failure.contains("\n    a.pdf: "))
        << outcome.failure.toStdString();
    EXPECT_EQ(left, (QStringList{".tevrak-download.par", QString::fromStdString(longName).left(20)}));
    EXPECT_EQ(up.received(), "goes up");
    EXPECT_EQ(platform::listFiles(platform::paths::outbox + "\\*.*"), QStringList{"11111111001.jpg"});
    EXPECT_EQ(QDir(dayFolder()).entryList(QDir::Files | QDir::Hidden), QStringList{"b.pdf"});
    // The peer records what came after its script too: a.pdf and the names
    // left on the server were never deleted, nor fetched.
    const std::vector<std::string> commands = downPeer.commands();
    for (const std::string& command : commands) {
        EXPECT_NE(command, "DELE a.pdf");
        EXPECT_EQ(command.find(".tevrak-"), std::string::npos) << command;
        EXPECT_EQ(command.find(longName), std::string::npos) << command;
    }
    EXPECT_NE(std::find(commands.begin(), commands.end(), "DELE b.pdf"), commands.end());
}

TEST_F(ScriptedExchangeTest, ADiskWithoutTheFreeMarginLeavesEveryDownloadOnTheServer)
{
    writeBranchFile(branch);
    ScriptedFtpPeer up(uploads({}));
    std::vector<Step> down = downloadLogin();
    down.push_back(listing("NLST *.*", "a.pdf\r\nb.pdf\r\n"));
    down.push_back(sizes({{"a.pdf", "1"}, {"b.pdf", "1"}}));
    ScriptedFtpPeer downPeer(down);
    ConnectionRouter router({up.port(), downPeer.port()});
    session = std::make_unique<exchange::ExchangeSession>(garage);
    session->link().Host = "127.0.0.1";
    session->link().Port = router.port();
    session->ReadTimeout = 3000;
    session->FreeSpaceMargin = std::numeric_limits<std::uint64_t>::max() / 4; // more than any disk holds
    const exchange::ExchangeOutcome outcome = session->run();
    session.reset();
    downPeer.finish();

    EXPECT_FALSE(outcome.succeeded);
    EXPECT_EQ(outcome.failure.count(QStringLiteral("พื้นที่ดิสก์เหลือไม่พอ")), 2) << outcome.failure.toStdString();
    for (const std::string& command : downPeer.commands()) {
        EXPECT_NE(command.rfind("RETR", 0), 0u) << command;
        EXPECT_NE(command.rfind("DELE", 0), 0u) << command;
    }
    EXPECT_TRUE(QDir(dayFolder()).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

TEST(DownloadNames, LastComponentOnlyAndNothingUnsafe)
{
    using exchange::localDownloadName;
    EXPECT_EQ(localDownloadName("report.pdf").value(), "report.pdf");
    EXPECT_EQ(localDownloadName("/Claim/Download3/x/report.pdf").value(), "report.pdf");
    EXPECT_EQ(localDownloadName("..\\..\\boot.ini").value(), "boot.ini");
    EXPECT_EQ(localDownloadName(cp874(QStringLiteral("ใบเสนอราคา.doc"))).value(),
              QStringLiteral("ใบเสนอราคา.doc"));
    EXPECT_EQ(localDownloadName("ใบเสนอราคา.doc").value(), QStringLiteral("ใบเสนอราคา.doc")); // UTF-8 stays
    for (const std::string& bad :
         std::vector<std::string>{"", ".", "..", "sub/", "a/..", "tab\there", std::string("nul\0x", 5),
                                  "del\x7f", "\xc2\x85next-line"})
        EXPECT_FALSE(localDownloadName(bad).has_value()) << bad;
}

// A step of the exchange held by the server (it says nothing more) while the
// clerk presses Cancel from elsewhere: the exchange must end within a second,
// close its connections and leave the outbox and the day folder as they were.
struct HeldStep {
    const char* name;
    bool uploadHeld; // the upload connection holds; otherwise the download one
    std::function<void(std::vector<Step>& script, std::atomic<bool>& holding)> script;
};

void PrintTo(const HeldStep& step, std::ostream* out)
{
    *out << step.name;
}

Step holdUntilClosed(std::atomic<bool>& holding, std::atomic<bool>& closed)
{
    return [&holding, &closed](ScriptedFtpSession& s) {
        holding = true;
        closed = s.waitForClientClose(5000);
    };
}

class CancelledExchange : public ScriptedExchangeTest, public ::testing::WithParamInterface<HeldStep> {};

TEST_P(CancelledExchange, EndsWithinASecondAndLeavesEverythingForTheNextOne)
{
    writeBranchFile(branch);
    const QByteArray photo(4 << 20, 'p'); // more than the socket buffers take in
    writeBytes(outboxFile("11111111001.jpg"), photo);
    writeBytes(outboxFile("Tevrak2.DB"), "our table");
    std::atomic<bool> holding{false}, closed{false};

    std::vector<Step> held;
    GetParam().script(held, holding);
    held.push_back(holdUntilClosed(holding, closed));
    std::vector<Step> upSteps = GetParam().uploadHeld ? held : uploads({"11111111001.jpg", "Tevrak2.DB"});
    ScriptedFtpPeer up(upSteps);
    std::unique_ptr<ScriptedFtpPeer> down;
    std::vector<int> ports{up.port()};
    if (!GetParam().uploadHeld) {
        down = std::make_unique<ScriptedFtpPeer>(held);
        ports.push_back(down->port());
    }
    ConnectionRouter router(ports);

    platform::CancelRequest cancel;
    std::chrono::steady_clock::time_point pressed;
    std::thread clerk([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!holding && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(200)); // well inside the held step
        pressed = std::chrono::steady_clock::now();
        cancel.request();
    });
    session = std::make_unique<exchange::ExchangeSession>(garage);
    session->link().Host = "127.0.0.1";
    session->link().Port = router.port();
    session->ReadTimeout = 8000; // a wait for the server alone would not end in time
    session->Cancel = &cancel;
    FixedMerger merger; // server copies are fetched to be combined
    session->Merger = &merger;
    const exchange::ExchangeOutcome outcome = session->run();
    const auto ended = std::chrono::steady_clock::now();
    clerk.join();
    session.reset();
    up.finish();
    if (down)
        down->finish();

    ASSERT_TRUE(holding) << "the server never reached the held step";
    EXPECT_LT(ended - pressed, std::chrono::seconds(1));
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_TRUE(closed) << "the connection stayed open after the cancel";
    // Nothing of ours is lost: what was not sent is still in the outbox; no
    // download was given its name.
    if (GetParam().uploadHeld)
        EXPECT_EQ(readBytes(local(platform::paths::outbox) + "/Tevrak2.DB"), "our table");
    else
        EXPECT_EQ(up.received(), (photo + "our table").toStdString());
    EXPECT_TRUE(merger.asked.isEmpty()); // nothing was combined from a copy cut off
    EXPECT_EQ(QDir(dayFolder()).entryList(QDir::Files | QDir::Hidden), QStringList{});
}

INSTANTIATE_TEST_SUITE_P(
    AtEachStep, CancelledExchange,
    ::testing::Values(
        HeldStep{"connecting", true, [](std::vector<Step>&, std::atomic<bool>&) {}},
        HeldStep{"listing", true,
                 [](std::vector<Step>& script, std::atomic<bool>&) {
                     script = ScriptedFtpPeer::login();
                     script.push_back([](ScriptedFtpSession& s) { s.answer("CWD Claim/" + cp874(garage), "250 ok"); });
                     script.push_back([](ScriptedFtpSession& s) {
                         s.answer("PORT ", "200 ok");
                         s.answer("NLST", "150 here");
                         s.openData();
                     });
                 }},
        HeldStep{"uploading", true,
                 [](std::vector<Step>& script, std::atomic<bool>&) {
                     script = ScriptedFtpPeer::login();
                     script.push_back([](ScriptedFtpSession& s) { s.answer("CWD Claim/" + cp874(garage), "250 ok"); });
                     script.push_back(listing("NLST *.*", ""));
                     script.push_back([](ScriptedFtpSession& s) {
                         s.answer("PORT ", "200 ok");
                         s.answer("APPE 11111111001.jpg", "150 go");
                         s.openData(); // and never read
                     });
                 }},
        HeldStep{"fetching the server's copy to combine", true,
                 [](std::vector<Step>& script, std::atomic<bool>&) {
                     script = ScriptedFtpPeer::login();
                     script.push_back([](ScriptedFtpSession& s) { s.answer("CWD Claim/" + cp874(garage), "250 ok"); });
                     script.push_back(listing("NLST *.*", "Tevrak2.DB\r\n"));
                     script.push_back(appended("11111111001.jpg"));
                     script.push_back([](ScriptedFtpSession& s) {
                         s.answer("SIZE Tevrak2.DB", "213 4000");
                         s.answer("PORT ", "200 ok");
                         s.answer("RETR Tevrak2.DB", "150 sending");
                         s.openData();
                         s.sendData("their");
                     });
                 }},
        HeldStep{"downloading", false,
                 [](std::vector<Step>& script, std::atomic<bool>&) {
                     script = downloadLogin();
                     script.push_back(listing("NLST *.*", "a.pdf\r\n"));
                     script.push_back(sizes({{"a.pdf", "100000"}}));
                     script.push_back([](ScriptedFtpSession& s) {
                         s.answer("PORT ", "200 ok");
                         s.answer("RETR a.pdf", "150 sending");
                         s.openData();
                         s.sendData(std::string(1000, 'a'));
                     });
                 }}),
    [](const auto& info) { return "Step" + std::to_string(info.index); });


// Every progress report of an exchange, with the moment it came.
struct ProgressRecorder : exchange::ExchangeObserver {
    struct Seen {
        std::chrono::steady_clock::time_point at;
        exchange::ProgressReport report;
    };
    void progress(const exchange::ProgressReport& report) override
    {
        seen.push_back({std::chrono::steady_clock::now(), report});
    }
    std::vector<Seen> of(exchange::ProgressStage stage) const
    {
        std::vector<Seen> chosen;
        std::copy_if(seen.begin(), seen.end(), std::back_inserter(chosen),
                     [stage](const Seen& s) { return s.report.stage == stage; });
        return chosen;
    }
    std::vector<Seen> seen;
};

TEST(ExchangeProgress, OnASlowLineTheBytesOnlyGrowEndExactAndTheTimeLeftHolds)
{
    cleanWorkstation();
    writeBranchFile(branch);
    const std::string root = freshServerRoot();
    fs::create_directories(fs::path(root) / "Claim" / cp874(garage));
    fs::create_directories(fs::path(root) / "Claim" / "Download3" / cp874(branch));
    quint64 sending = 0;
    for (int i = 1; i <= 3; ++i) {
        writeBytes(outboxFile(QStringLiteral("1111111100%1.jpg").arg(i)), QByteArray(400000 + i, 'p'));
        sending += 400000 + i;
    }
    for (const char* name : {"a.pdf", "b.pdf"})
        writeServerFile(fs::path(root) / "Claim" / "Download3" / cp874(branch) / name, std::string(300000, 'd'));
    LocalFtpServer server;
    const int port = server.start(root, {"--rate", "200000"});

    ProgressRecorder recorder;
    exchange::ExchangeSession session(garage);
    session.link().Host = "127.0.0.1";
    session.link().Port = port;
    session.Observer = &recorder;
    ASSERT_TRUE(session.run().succeeded) << session.failure().toStdString();

    for (const auto& [stage, total] : {std::pair{exchange::ProgressStage::Sending, sending},
                                       std::pair{exchange::ProgressStage::Receiving, quint64(600000)}}) {
        const std::vector<ProgressRecorder::Seen> seen = recorder.of(stage);
        ASSERT_GE(seen.size(), 3u); // each file's start, and the end
        double worst = 0;
        std::chrono::steady_clock::duration longestGap{};
        for (size_t i = 0; i < seen.size(); ++i) {
            const exchange::ProgressReport& report = seen[i].report;
            EXPECT_EQ(report.bytesTotal, total);
            if (i > 0) {
                EXPECT_GE(report.bytesDone, seen[i - 1].report.bytesDone) << "report " << i;
                EXPECT_GE(report.fileNumber, seen[i - 1].report.fileNumber) << "report " << i;
                longestGap = std::max(longestGap, seen[i].at - seen[i - 1].at);
            }
            // The time left against the time the phase really took from
            // there, once a tenth of the bytes is done and the rate has been
            // measured for its first seconds (the last two seconds aside, where
            // the stand-in's throttling steps of a few tenths are already a
            // large share).
            const double truth = std::chrono::duration<double>(seen.back().at - seen[i].at).count();
            const bool measured = seen[i].at - seen.front().at >= exchange::ProgressMeter::MinimumSpan;
            if (report.bytesDone * 10 >= total && measured && truth >= 2.0) {
                ASSERT_TRUE(report.secondsLeft.has_value())
                    << "report " << i << " of stage " << int(stage) << ": " << report.bytesDone << " bytes at "
                    << report.bytesPerSecond << " B/s";
                EXPECT_NEAR(*report.secondsLeft, truth, truth / 4) << "report " << i;
                worst = std::max(worst, std::abs(*report.secondsLeft - truth) / truth);
            }
        }
        EXPECT_EQ(seen.back().report.bytesDone, total);
        EXPECT_LT(longestGap, std::chrono::milliseconds(600)); // at least twice a second, and then some
        std::cout << (stage == exchange::ProgressStage::Sending ? "sending" : "receiving") << ": " << seen.size()
                  << " reports, longest gap "
                  << std::chrono::duration_cast<std::chrono::milliseconds>(longestGap).count()
                  << " ms, worst time-left error " << int(worst * 100) << " %" << std::endl;
    }
}

} // namespace
} // namespace tevrak
