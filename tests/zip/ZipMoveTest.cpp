// Move mode: stored files go to the freedesktop trash, from where they can
// be restored; nothing is removed that the archive does not hold.
#include "ZipFixture.h"

#include "zip/Trash.h"

#include <fstream>

namespace tevrak::ziptest {
namespace {

using ZipMoveTest = ZipFixture;

std::map<std::string, std::string> trashInfo(const std::string& infoFile)
{
    std::map<std::string, std::string> keys;
    std::ifstream in(infoFile);
    std::string line;
    std::getline(in, line);
    keys["header"] = line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos)
            keys[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return keys;
}

TEST_F(ZipMoveTest, StoredFilesGoToTheTrashAndCanBeRestored)
{
    const std::string one = makeGif(30, 30, 1), two = makeGif(30, 30, 2);
    put("12345678800.gif", one);
    put("12345678801.gif", two);
    put("12345678001.jpg", "a photograph");
    TZip zip;
    Recorder rec;
    rec.attach(zip);
    zip.Switch = TSwitch::swMove;
    zip.SetArchiveFile(out + "/12345678.Zip");
    zip.FileSpec = {src + "/*.gif"};
    ASSERT_EQ(zip.Compress(), 2) << rec.describe();
    EXPECT_TRUE(rec.errors.empty()) << rec.describe();
    expectReadersAccept(out + "/12345678.Zip", 2);
    EXPECT_FALSE(std::filesystem::exists(src + "/12345678800.gif"));
    EXPECT_FALSE(std::filesystem::exists(src + "/12345678801.gif"));
    EXPECT_TRUE(std::filesystem::exists(src + "/12345678001.jpg"));
    ASSERT_EQ(rec.deleted.size(), 2u);
    EXPECT_EQ(rec.deleted[0], std::make_pair(src + "/12345678800.gif", 1002));
    EXPECT_EQ(rec.deleted[1], std::make_pair(src + "/12345678801.gif", 2002));
    // (0, 0) once before the directory and once before the removals.
    ASSERT_GE(rec.progress.size(), 2u);
    EXPECT_EQ(rec.progress.back(), std::make_pair(0, 0));
    EXPECT_EQ(rec.progress[rec.progress.size() - 2], std::make_pair(0, 0));

    EXPECT_EQ(trashFolder(), trash());
    const auto info = trashInfo(trash() + "/info/12345678800.gif.trashinfo");
    EXPECT_EQ(info.at("header"), "[Trash Info]");
    EXPECT_EQ(info.at("Path"), src + "/12345678800.gif");
    ASSERT_EQ(info.at("DeletionDate").size(), 19u);
    EXPECT_EQ(info.at("DeletionDate")[10], 'T');

    // Restoring is moving the file back to its Path.
    std::filesystem::rename(trash() + "/files/12345678800.gif", info.at("Path"));
    EXPECT_EQ(readFile(src + "/12345678800.gif"), one);
    EXPECT_EQ(readFile(trash() + "/files/12345678801.gif"), two);
}

TEST_F(ZipMoveTest, TrashKeepsEveryFileOfTheSameName)
{
    std::filesystem::create_directories(trash() + "/files"); // only one of the two folders exists
    const std::string thai = src + "/ใบ เสร็จ.gif";
    for (const char* content : {"first", "second", "third"}) {
        writeFile(thai, content);
        std::string reason;
        ASSERT_TRUE(moveToTrash(thai, reason)) << reason;
    }
    EXPECT_EQ(readFile(trash() + "/files/ใบ เสร็จ.gif"), "first");
    EXPECT_EQ(readFile(trash() + "/files/ใบ เสร็จ.2.gif"), "second");
    EXPECT_EQ(readFile(trash() + "/files/ใบ เสร็จ.3.gif"), "third");
    const auto info = trashInfo(trash() + "/info/ใบ เสร็จ.3.gif.trashinfo");
    EXPECT_EQ(info.at("Path"),
              src + "/%E0%B9%83%E0%B8%9A%20%E0%B9%80%E0%B8%AA%E0%B8%A3%E0%B9%87%E0%B8%88.gif");

    std::string reason;
    EXPECT_FALSE(moveToTrash(src + "/gone.gif", reason));
    EXPECT_FALSE(reason.empty());
}

// A file that changes after it was read is not removed: the archive holds
// its old content only.
TEST_F(ZipMoveTest, FileChangedDuringTheRunIsKept)
{
    put("a.gif", randomBytes(3000, 1));
    put("b.gif", randomBytes(3000, 2));
    TZip zip;
    Recorder rec;
    rec.attach(zip);
    bool changed = false;
    zip.OnProgress = [&](TZip&, std::uint8_t byFile, std::uint8_t byArchive) {
        if (byFile == 0 && byArchive == 0 && !changed) { // the directory is about to be written
            std::ofstream(src + "/b.gif", std::ios::app) << "more";
            changed = true;
        }
    };
    zip.Switch = TSwitch::swMove;
    zip.SetArchiveFile(out + "/changed.zip");
    zip.FileSpec = {src + "/*.gif"};
    ASSERT_EQ(zip.Compress(), 2);
    EXPECT_TRUE(changed);
    EXPECT_FALSE(std::filesystem::exists(src + "/a.gif"));
    ASSERT_TRUE(std::filesystem::exists(src + "/b.gif"));
    EXPECT_EQ(readFile(src + "/b.gif").size(), 3004u);
    ASSERT_EQ(rec.errors.size(), 1u) << rec.describe();
    EXPECT_EQ(rec.errors[0].code, zip_error::ChangedWhileStored);
    EXPECT_EQ(rec.errors[0].fileName, src + "/b.gif");
}

// A trash that cannot take the file leaves it where it is; the archive is
// complete all the same.
TEST_F(ZipMoveTest, FailedRemovalLeavesTheFile)
{
    put("a.gif", "a");
    TZip zip;
    Recorder rec;
    rec.attach(zip);
    zip.RemoveToTrash = [](const std::string&, std::string& reason) {
        reason = "trash is full";
        return false;
    };
    zip.Switch = TSwitch::swMove;
    zip.SetArchiveFile(out + "/t.zip");
    zip.FileSpec = {src + "/a.gif"};
    EXPECT_EQ(zip.Compress(), 1);
    EXPECT_TRUE(std::filesystem::exists(src + "/a.gif"));
    ASSERT_EQ(rec.errors.size(), 1u);
    EXPECT_EQ(rec.errors[0].code, zip_error::Trash);
    EXPECT_EQ(rec.errors[0].extended, "trash is full");
    EXPECT_TRUE(rec.deleted.empty());
}

// The window's event processing during a run may try to start another run:
// it is refused, and the first one finishes normally.
TEST_F(ZipMoveTest, SecondRunFromTheProgressReportIsRefused)
{
    put("a.bin", randomBytes(600000, 1));
    TZip zip;
    Recorder rec;
    rec.attach(zip);
    int nested = -1;
    zip.OnProcessMessages = [&](TZip& sender) {
        if (nested < 0)
            nested = sender.Compress();
    };
    zip.SetArchiveFile(out + "/busy.zip");
    zip.FileSpec = {src + "/a.bin"};
    EXPECT_EQ(zip.Compress(), 1);
    EXPECT_EQ(nested, 0);
    ASSERT_EQ(rec.errors.size(), 1u);
    EXPECT_EQ(rec.errors[0].code, zip_error::Busy);
    expectReadersAccept(out + "/busy.zip", 1);
}

// A handler that throws ends the run; no temporary file stays and no source
// file is removed.
TEST_F(ZipMoveTest, ThrowingHandlerEndsTheRunCleanly)
{
    put("a.bin", randomBytes(600000, 1));
    TZip zip;
    Recorder rec;
    rec.attach(zip);
    zip.OnProgress = [](TZip&, std::uint8_t, std::uint8_t byArchive) {
        if (byArchive > 50)
            throw std::runtime_error("window closed");
    };
    zip.Switch = TSwitch::swMove;
    zip.SetArchiveFile(out + "/throw.zip");
    zip.FileSpec = {src + "/a.bin"};
    EXPECT_EQ(zip.Compress(), 0);
    EXPECT_TRUE(std::filesystem::is_empty(out));
    EXPECT_TRUE(std::filesystem::exists(src + "/a.bin"));
    ASSERT_EQ(rec.errors.size(), 1u);
    EXPECT_EQ(rec.errors[0].extended, "window closed");
}

// The outbox pattern: one move-mode run per GIF, each into the archive named
// by the first 8 characters of its name. The earlier members of an archive
// stay byte for byte while later runs add to it; other files are untouched.
TEST_F(ZipMoveTest, OneRunPerGifIntoTheArchiveOfItsClaim)
{
    const std::vector<std::string> gifs = {"12345678800.gif", "12345678801.GIF", "12345678802.gif",
                                           "87654321800.gif", "x.gif"};
    std::map<std::string, std::string> contents;
    unsigned seed = 1;
    for (const auto& name : gifs)
        put(name, contents[name] = makeGif(60, 40, seed++), out);
    put("12345678001.jpg", "a photograph", out);
    TZip zip;
    Recorder rec;
    rec.attach(zip);
    zip.Switch = TSwitch::swMove;
    std::string firstTwo;
    for (const auto& name : gifs) {
        zip.SetArchiveFile(out + "/" + name.substr(0, 8) + ".Zip");
        zip.FileSpec = {out + "/" + name};
        EXPECT_EQ(zip.Compress(), 1) << name << ": " << rec.describe();
        if (name == "12345678801.GIF")
            firstTwo = readFile(out + "/12345678.Zip");
    }
    EXPECT_TRUE(rec.errors.empty()) << rec.describe();
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(out))
        left.push_back(e.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left,
              (std::vector<std::string>{"12345678.Zip", "12345678001.jpg", "87654321.Zip", "x.gif.Zip"}));

    const std::string claim = readFile(out + "/12345678.Zip");
    const Layout two = parseLayout(firstTwo);
    EXPECT_EQ(claim.substr(0, two.end.centralOffset), firstTwo.substr(0, two.end.centralOffset));
    const auto members = expectReadersAccept(out + "/12345678.Zip", 3);
    ASSERT_EQ(members.size(), 3u);
    EXPECT_EQ(members[1].nameHex, hex("12345678801.GIF"));
    EXPECT_EQ(members[1].contentCrc, crcOf(contents["12345678801.GIF"]));
    EXPECT_EQ(expectReadersAccept(out + "/87654321.Zip", 1).size(), 1u);
    const auto shortName = expectReadersAccept(out + "/x.gif.Zip", 1);
    ASSERT_EQ(shortName.size(), 1u);
    EXPECT_EQ(shortName[0].nameHex, hex("x.gif"));
    for (const auto& name : gifs)
        EXPECT_EQ(readFile(trash() + "/files/" + name), contents[name]) << name;
}

} // namespace
} // namespace tevrak::ziptest
