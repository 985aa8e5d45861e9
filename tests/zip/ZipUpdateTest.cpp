// Adding to existing archives: raw-copied members, same-named files, files
// that are not archives, the 4 GiB limits, failures half-way.
#include "ZipFixture.h"

#include "zip/ZipFormat.h"

#include <csignal>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tevrak::ziptest {
namespace {

using ZipUpdateTest = ZipFixture;

struct stat statOf(const std::string& path)
{
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st;
}

std::vector<std::string> folderNames(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Two old members stay byte for byte; only their local-header offsets in the
// directory change. Checked on an archive made by Info-ZIP (extra fields, an
// archive comment) and on one made by this writer.
TEST_F(ZipUpdateTest, AddingKeepsOldMembersByteForByte)
{
    put("a.txt", std::string(5000, 'a') + "end");
    put("b.bin", randomBytes(3000, 9));
    const std::string archive = out + "/foreign.zip";
    const ToolResult made =
        run("cd '" + src + "' && echo 'made by Info-ZIP' | zip -q -6 -z '" + archive + "' a.txt b.bin");
    ASSERT_EQ(made.status, 0) << made.output;
    const std::string before = readFile(archive);
    const Layout old = parseLayout(before);
    ASSERT_EQ(old.centrals.size(), 2u);
    ASSERT_FALSE(old.centrals[0].extra.empty()) << "Info-ZIP writes extra fields";

    const std::string gif = makeGif(40, 40, 3);
    put("c.gif", gif);
    TZip zip;
    zip.SetArchiveFile(archive);
    zip.FileSpec = {src + "/c.gif"};
    ASSERT_EQ(zip.Compress(), 1);
    const std::string after = readFile(archive);
    const Layout now = parseLayout(after);
    ASSERT_EQ(now.centrals.size(), 3u);
    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(old.centrals[i].name);
        const LocalRecord& was = old.locals[i];
        const LocalRecord& is = now.locals[i];
        const std::size_t span = 30 + was.name.size() + was.extra.size() + was.data.size();
        EXPECT_EQ(after.substr(is.offset, span), before.substr(was.offset, span));
        EXPECT_EQ(now.centrals[i].localOffset, is.offset);
        std::string expected = old.centrals[i].header;
        expected.replace(42, 4, now.centrals[i].header.substr(42, 4));
        EXPECT_EQ(now.centrals[i].header, expected);
        EXPECT_EQ(now.centrals[i].extra, old.centrals[i].extra);
    }
    EXPECT_EQ(now.centrals[2].name, "c.gif");
    EXPECT_EQ(now.locals[2].offset, now.locals[1].offset + 30 + now.locals[1].name.size() +
                                        now.locals[1].extra.size() + now.locals[1].data.size());
    ASSERT_GT(old.end.commentLength, 0);
    EXPECT_EQ(after.substr(after.size() - now.end.commentLength),
              before.substr(before.size() - old.end.commentLength))
        << "the archive comment is carried over";
    const auto py = expectReadersAccept(archive, 3);
    ASSERT_EQ(py.size(), 3u);
    EXPECT_EQ(py[2].contentCrc, crcOf(gif));

    // Our own archive of two members, extended by a third run.
    const std::string ours = out + "/12345678.Zip";
    TZip own;
    own.SetArchiveFile(ours);
    for (const char* name : {"a.txt", "b.bin"}) {
        own.FileSpec = {src + "/" + name};
        ASSERT_EQ(own.Compress(), 1);
    }
    const std::string twoMembers = readFile(ours);
    own.FileSpec = {src + "/c.gif"};
    ASSERT_EQ(own.Compress(), 1);
    const std::string three = readFile(ours);
    const Layout two = parseLayout(twoMembers);
    ASSERT_EQ(two.end.centralOffset, parseLayout(three).locals[2].offset);
    EXPECT_EQ(three.substr(0, two.end.centralOffset), twoMembers.substr(0, two.end.centralOffset));
    expectReadersAccept(ours, 3);
}

// A file equal to a member in size, time, attributes and content (its name in
// any letter case): the archive is not rewritten; in move mode the file goes.
TEST_F(ZipUpdateTest, IdenticalFileIsNotStoredAgain)
{
    const std::string content = randomBytes(4000, 5);
    put("SCAN.GIF", content);
    const std::string archive = out + "/same.zip";
    TZip zip;
    Recorder rec;
    rec.attach(zip);
    zip.SetArchiveFile(archive);
    zip.FileSpec = {src + "/SCAN.GIF"};
    ASSERT_EQ(zip.Compress(), 1);
    std::filesystem::rename(src + "/SCAN.GIF", src + "/scan.gif");
    const std::string before = readFile(archive);
    const struct stat was = statOf(archive);

    rec.errors.clear();
    zip.Switch = TSwitch::swMove;
    zip.FileSpec = {src + "/scan.gif"};
    EXPECT_EQ(zip.Compress(), 0);
    ASSERT_EQ(rec.errors.size(), 1u) << rec.describe();
    EXPECT_EQ(rec.errors[0].code, 25268);
    const struct stat is = statOf(archive);
    EXPECT_EQ(is.st_ino, was.st_ino) << "the archive was rewritten";
    EXPECT_EQ(readFile(archive), before);
    EXPECT_FALSE(std::filesystem::exists(src + "/scan.gif"));
    EXPECT_EQ(readFile(trash() + "/files/scan.gif"), content);
    ASSERT_EQ(rec.deleted.size(), 1u);
    EXPECT_EQ(rec.deleted[0].first, src + "/scan.gif");
}

// A same-named file whose content differs is not stored and stays where it
// is, even in move mode, and even when size, time and attributes agree.
TEST_F(ZipUpdateTest, SameNameDifferentContentIsKept)
{
    put("doc.gif", randomBytes(1000, 1));
    const std::string archive = out + "/dupe.zip";
    TZip zip;
    Recorder rec;
    rec.attach(zip);
    zip.Switch = TSwitch::swMove;
    zip.SetArchiveFile(archive);
    zip.FileSpec = {src + "/doc.gif"};
    ASSERT_EQ(zip.Compress(), 1);
    ASSERT_EQ(rec.deleted.size(), 1u);
    rec.deleted.clear();
    const std::string before = readFile(archive);

    for (const std::string& content : {randomBytes(1500, 2), randomBytes(1000, 3)}) {
        rec.errors.clear();
        put("doc.gif", content); // the second one: same size and time as the member
        EXPECT_EQ(zip.Compress(), 0);
        ASSERT_GE(rec.errors.size(), 1u);
        EXPECT_EQ(rec.errors[0].code, 25270);
        EXPECT_EQ(rec.errors[0].extended, "OnReplaceFile");
        EXPECT_EQ(rec.errors[0].fileName, src + "/doc.gif");
        EXPECT_EQ(TZip::ErrorMessage(25270), "Required event not assigned");
        EXPECT_EQ(readFile(archive), before);
        EXPECT_EQ(readFile(src + "/doc.gif"), content) << "the differing file must stay";
    }
    EXPECT_EQ(rec.deleted.size(), 0u);
}

TEST_F(ZipUpdateTest, ReplaceAndRenameHandlersDecide)
{
    put("a.gif", "first a");
    put("b.gif", "first b");
    const std::string archive = out + "/handlers.zip";
    TZip zip;
    zip.SetArchiveFile(archive);
    zip.FileSpec = {src + "/*.gif"};
    ASSERT_EQ(zip.Compress(), 2);

    put("a.gif", "second a, longer");
    put("b.gif", "second b, longer");
    std::vector<std::string> offered;
    zip.OnReplaceFile = [&](TZip&, const std::string& name, const std::string& newName, std::uint32_t,
                            std::uint32_t, std::uint64_t size, std::uint64_t newSize, std::uint32_t,
                            std::uint32_t, bool& replace) {
        offered.push_back(name + "<" + newName + ":" + std::to_string(size) + ">" + std::to_string(newSize));
        replace = name == "a.gif";
    };
    zip.OnRenameDupeFile = [](TZip&, const std::string&, std::string& newName, bool& rename) {
        newName = "b-2.gif";
        rename = true;
    };
    ASSERT_EQ(zip.Compress(), 2);
    EXPECT_EQ(offered,
              (std::vector<std::string>{"a.gif<" + src + "/a.gif:7>16", "b.gif<" + src + "/b.gif:7>16"}));
    const Layout layout = parseLayout(readFile(archive));
    ASSERT_EQ(layout.locals.size(), 3u);
    EXPECT_EQ(layout.locals[0].name, "a.gif");
    EXPECT_EQ(layout.locals[0].data, "second a, longer");
    EXPECT_EQ(layout.locals[1].name, "b.gif");
    EXPECT_EQ(layout.locals[1].data, "first b");
    EXPECT_EQ(layout.locals[2].name, "b-2.gif");
    EXPECT_EQ(layout.locals[2].data, "second b, longer");
    expectReadersAccept(archive, 3);

    // A replacement that is not stored after all keeps the old member.
    put("a.gif", "third a");
    zip.OnBegin = [](TZip&, const std::string& name, int, bool& extract) {
        extract = name.find("a.gif") == std::string::npos;
    };
    zip.OnRenameDupeFile = nullptr;
    zip.FileSpec = {src + "/a.gif", src + "/new.gif"};
    put("new.gif", "new");
    ASSERT_EQ(zip.Compress(), 1);
    const Layout kept = parseLayout(readFile(archive));
    ASSERT_EQ(kept.locals.size(), 4u);
    EXPECT_EQ(kept.locals[0].data, "second a, longer");
    EXPECT_EQ(kept.locals[3].name, "new.gif");
}

// A file at the archive path that is not a readable ZIP archive is never
// overwritten, and nothing is stored or removed.
TEST_F(ZipUpdateTest, NonArchiveAtTheArchivePathIsLeftAlone)
{
    put("a.gif", makeGif(20, 20, 1));
    const std::string good = out + "/good.zip";
    TZip maker;
    maker.SetArchiveFile(good);
    maker.FileSpec = {src + "/a.gif"};
    ASSERT_EQ(maker.Compress(), 1);
    const std::string valid = readFile(good);
    put("b.gif", "b");

    const std::vector<std::pair<std::string, std::string>> cases = {
        {"text", "These are the branch's notes, not an archive.\n"},
        {"empty", ""},
        {"cut short", valid.substr(0, valid.size() - 5)},
        {"directory cut", valid.substr(0, valid.size() - 30) + valid.substr(valid.size() - 22)},
        {"local header damaged", "XX" + valid.substr(2)},
        {"zip64 marker",
         valid.substr(0, valid.size() - 14) + "\xff\xff\xff\xff" + valid.substr(valid.size() - 10)},
    };
    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        const std::string archive = out + "/12345678.Zip";
        writeFile(archive, bytes);
        TZip zip;
        Recorder rec;
        rec.attach(zip);
        zip.Switch = TSwitch::swMove;
        zip.SetArchiveFile(archive);
        zip.FileSpec = {src + "/b.gif"};
        EXPECT_EQ(zip.Compress(), 0);
        ASSERT_EQ(rec.errors.size(), 1u) << rec.describe();
        EXPECT_EQ(rec.errors[0].code, zip_error::NotAnArchive);
        EXPECT_EQ(rec.errors[0].fileName, archive);
        EXPECT_FALSE(rec.errors[0].extended.empty());
        EXPECT_NE(TZip::ErrorMessage(zip_error::NotAnArchive).find("not a readable ZIP archive"),
                  std::string::npos);
        EXPECT_EQ(readFile(archive), bytes);
        EXPECT_TRUE(std::filesystem::exists(src + "/b.gif"));
        EXPECT_TRUE(rec.begun.empty());
    }
    EXPECT_EQ(folderNames(out), (std::vector<std::string>{"12345678.Zip", "good.zip"}));
}

// A file of 4 GiB or more is refused without being read; the others are
// stored. The file is sparse, so nothing big is written.
TEST_F(ZipUpdateTest, FourGiBFileIsRefusedAndKept)
{
    const std::string big = src + "/huge.gif";
    {
        const int fd = ::open(big.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, off_t(1) << 32), 0);
        ::close(fd);
    }
    put("small.gif", "small");
    TZip zip;
    Recorder rec;
    rec.attach(zip);
    zip.Switch = TSwitch::swMove;
    zip.SetArchiveFile(out + "/big.zip");
    zip.FileSpec = {src + "/*.gif"};
    EXPECT_EQ(zip.Compress(), 1);
    ASSERT_EQ(rec.errors.size(), 1u) << rec.describe();
    EXPECT_EQ(rec.errors[0].code, zip_error::FileTooLarge);
    EXPECT_EQ(rec.errors[0].fileName, big);
    ASSERT_EQ(rec.begun.size(), 1u) << "the big file was offered for reading";
    EXPECT_EQ(rec.begun[0].first, src + "/small.gif");
    EXPECT_TRUE(std::filesystem::exists(big));
    EXPECT_FALSE(std::filesystem::exists(src + "/small.gif"));
    expectReadersAccept(out + "/big.zip", 1);
}

// An archive that would pass the format's size limit is not written; the
// limit is lowered here so the test stays small.
TEST_F(ZipUpdateTest, ArchiveOverTheLimitIsRefused)
{
    put("first.bin", randomBytes(3000, 1));
    const std::string archive = out + "/limit.zip";
    TZip zip;
    Recorder rec;
    rec.attach(zip);
    zip.Switch = TSwitch::swMove;
    zip.SetArchiveFile(archive);
    zip.FileSpec = {src + "/first.bin"};
    ASSERT_EQ(zip.Compress(), 1);
    const std::string before = readFile(archive);

    zip.SetArchiveSizeLimitForTesting(before.size() + 2500);
    put("second.bin", randomBytes(2450, 2));  // fits as data, but not with its headers and directory
    put("third.bin", randomBytes(100000, 3)); // passes the limit while it is written
    zip.FileSpec = {src + "/second.bin", src + "/third.bin"};
    EXPECT_EQ(zip.Compress(), 0);
    EXPECT_EQ(rec.errors.size(), 2u) << rec.describe();
    EXPECT_TRUE(rec.hasError(zip_error::ArchiveTooLarge));
    EXPECT_EQ(readFile(archive), before);
    EXPECT_TRUE(std::filesystem::exists(src + "/second.bin"));
    EXPECT_TRUE(std::filesystem::exists(src + "/third.bin"));

    put("fourth.bin", randomBytes(1000, 4));
    zip.FileSpec = {src + "/third.bin", src + "/fourth.bin"};
    rec.errors.clear();
    EXPECT_EQ(zip.Compress(), 1);
    EXPECT_TRUE(rec.hasError(zip_error::ArchiveTooLarge));
    EXPECT_TRUE(std::filesystem::exists(src + "/third.bin"));
    EXPECT_FALSE(std::filesystem::exists(src + "/fourth.bin"));
    EXPECT_LE(readFile(archive).size(), before.size() + 2500);
    expectReadersAccept(archive, 2);
}

bool matchesUploadMask(const std::string& name)
{
    for (const char* mask : {"*.Jpg", "*.Zip", "*.db", "*.px"})
        if (::fnmatch(mask, name.c_str(), FNM_CASEFOLD) == 0)
            return true;
    return false;
}

// While the new archive is written, the archive path still holds the old
// archive; the work goes on in a hidden file that no upload mask matches.
TEST_F(ZipUpdateTest, ArchiveIsNeverHalfWrittenUnderItsName)
{
    put("a.bin", randomBytes(2000, 1));
    const std::string archive = out + "/12345678.Zip";
    TZip zip;
    zip.SetArchiveFile(archive);
    zip.FileSpec = {src + "/a.bin"};
    ASSERT_EQ(zip.Compress(), 1);
    ASSERT_EQ(::chmod(archive.c_str(), 0640), 0);
    const std::string before = readFile(archive);

    put("b.bin", randomBytes(700000, 2));
    int checks = 0;
    std::set<std::string> temporaries;
    zip.OnProgress = [&](TZip&, std::uint8_t, std::uint8_t) {
        ++checks;
        EXPECT_EQ(readFile(archive), before);
        for (const auto& name : folderNames(out)) {
            if (name == "12345678.Zip")
                continue;
            temporaries.insert(name);
            EXPECT_EQ(name[0], '.') << name;
            EXPECT_FALSE(matchesUploadMask(name)) << name;
        }
    };
    zip.FileSpec = {src + "/b.bin"};
    ASSERT_EQ(zip.Compress(), 1);
    EXPECT_GE(checks, 3);
    EXPECT_EQ(temporaries.size(), 1u);
    EXPECT_EQ(folderNames(out), std::vector<std::string>{"12345678.Zip"});
    EXPECT_EQ(statOf(archive).st_mode & 0777, 0640u) << "the archive keeps its permissions";
    expectReadersAccept(archive, 2);
}

// Handles this process holds on files in `folder` that have been removed.
int removedFilesHeldOpen(const std::string& folder)
{
    int held = 0;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code failed;
        const std::string target = std::filesystem::read_symlink(e.path(), failed).string();
        if (!failed && target.rfind(folder + "/", 0) == 0 && target.ends_with(" (deleted)"))
            ++held;
    }
    return held;
}

// Every run replaces the archive; the replaced file is let go (its disk space
// given back) by the next run at the latest, and all of them by the end of
// the TZip: a long-lived writer never piles up removed archives.
TEST_F(ZipUpdateTest, ReplacedArchivesAreLetGo)
{
    const std::string archive = out + "/12345678.Zip";
    {
        TZip zip;
        zip.SetArchiveFile(archive);
        for (int i = 0; i < 5; ++i) {
            const std::string name = "doc" + std::to_string(i) + ".bin";
            put(name, randomBytes(200000, static_cast<unsigned>(i + 1)));
            zip.FileSpec = {src + "/" + name};
            ASSERT_EQ(zip.Compress(), 1);
            EXPECT_LE(removedFilesHeldOpen(out), 1) << "after run " << i + 1;
        }
    }
    EXPECT_EQ(removedFilesHeldOpen(out), 0);
    expectReadersAccept(archive, 5);
}

// A write that fails half-way (here: the file size limit of the process,
// standing in for a full disk) leaves the old archive and every source file.
TEST_F(ZipUpdateTest, FailedWriteLeavesEverythingAsItWas)
{
    put("a.bin", randomBytes(20000, 1));
    const std::string archive = out + "/fail.zip";
    {
        TZip zip;
        zip.SetArchiveFile(archive);
        zip.FileSpec = {src + "/a.bin"};
        ASSERT_EQ(zip.Compress(), 1);
    }
    const std::string before = readFile(archive);
    put("b.bin", randomBytes(200000, 2));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit = {100000, 100000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        TZip zip;
        int code = 0;
        zip.OnError = [&](TZip&, const std::string&, const std::string&, const std::string&, int c) {
            code = c;
        };
        zip.Switch = TSwitch::swMove;
        zip.SetArchiveFile(archive);
        zip.FileSpec = {src + "/b.bin"};
        const int stored = zip.Compress();
        ::_exit(stored == 0 && code == zip_error::WriteArchive ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the run did not fail as a write failure";
    EXPECT_EQ(readFile(archive), before);
    EXPECT_TRUE(std::filesystem::exists(src + "/b.bin"));
    EXPECT_EQ(folderNames(out), std::vector<std::string>{"fail.zip"});
}

// A temporary folder elsewhere: on the same disk the file is renamed into
// place, on another file system (/dev/shm when there is one) it is copied
// beside the archive first. Either way no temporary file stays behind.
TEST_F(ZipUpdateTest, TemporaryFolderElsewhere)
{
    put("a.bin", randomBytes(300000, 1));
    put("b.bin", randomBytes(1000, 2));
    std::vector<std::string> folders = {dir + "/temp"};
    std::filesystem::create_directories(folders[0]);
    struct stat shm, here;
    if (::stat("/dev/shm", &shm) == 0 && ::stat(out.c_str(), &here) == 0 && shm.st_dev != here.st_dev &&
        ::access("/dev/shm", W_OK) == 0)
        folders.push_back("/dev/shm");
    for (const auto& folder : folders) {
        SCOPED_TRACE(folder);
        const std::string archive = out + "/elsewhere.zip";
        std::filesystem::remove(archive);
        TZip zip;
        Recorder rec;
        rec.attach(zip);
        zip.TempDir = folder;
        zip.SetArchiveFile(archive);
        zip.FileSpec = {src + "/a.bin"};
        ASSERT_EQ(zip.Compress(), 1) << rec.describe();
        zip.FileSpec = {src + "/b.bin"};
        ASSERT_EQ(zip.Compress(), 1) << rec.describe();
        expectReadersAccept(archive, 2);
        EXPECT_EQ(folderNames(out), std::vector<std::string>{"elsewhere.zip"});
        for (const auto& name : folderNames(folder))
            EXPECT_EQ(name.rfind(".tevrak-zip-", 0), std::string::npos) << name;
    }
}

// Members written by other tools from a pipe: Python's data descriptor after
// the data, Info-ZIP's local ZIP64 field with sizes only in the directory.
// Both are copied whole.
TEST_F(ZipUpdateTest, MembersWrittenFromAPipeAreCopiedWhole)
{
    const std::string python = out + "/python.zip";
    const std::string infozip = out + "/infozip.zip";
    ToolResult made = run("/usr/bin/python3 -c \"import zipfile,sys\n"
                          "z=zipfile.ZipFile(sys.stdout.buffer,'w',zipfile.ZIP_DEFLATED)\n"
                          "with z.open('d.txt','w') as f: f.write(b'x'*5000)\n"
                          "z.close()\" | cat > '" +
                          python + "'");
    ASSERT_EQ(made.status, 0) << made.output;
    made = run("head -c 5000 /dev/zero | zip -q - - | cat > '" + infozip + "'");
    ASSERT_EQ(made.status, 0) << made.output;
    ASSERT_EQ(readFile(python)[6] & 0x08, 0x08) << "python wrote no data descriptor";
    put("x.gif", "x");
    for (const std::string& archive : {python, infozip}) {
        SCOPED_TRACE(archive);
        const std::string before = readFile(archive);
        TZip zip;
        Recorder rec;
        rec.attach(zip);
        zip.SetArchiveFile(archive);
        zip.FileSpec = {src + "/x.gif"};
        ASSERT_EQ(zip.Compress(), 1) << rec.describe();
        const std::string after = readFile(archive);
        const std::uint32_t centralOffset =
            zipfmt::get32(reinterpret_cast<const unsigned char*>(before.data()) + before.size() - 6);
        EXPECT_EQ(after.substr(0, centralOffset), before.substr(0, centralOffset));
        expectReadersAccept(archive, 2);
    }
}

} // namespace
} // namespace tevrak::ziptest
