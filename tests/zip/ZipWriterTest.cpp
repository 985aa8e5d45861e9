// New archives: the byte layout, the store rules, names, times and the scan.
#include "ZipFixture.h"

#include <sys/stat.h>
#include <unistd.h>

namespace tevrak::ziptest {
namespace {

constexpr std::uint16_t Time143758 = 14 << 11 | 37 << 5 | 29;
constexpr std::uint16_t Date20240305 = 44 << 9 | 3 << 5 | 5;

using ZipWriterTest = ZipFixture;

TEST_F(ZipWriterTest, OneGifMakesTheExactLayout)
{
    const std::string gif =
        makeGif(100, 100, 7); // about 11 KB of 9-bit literals: deflate cannot shrink it much
    ASSERT_GT(gif.size(), 10000u);
    const std::string path = put("12345678800.gif", gif);
    TZip zip;
    Recorder rec;
    rec.attach(zip);
    zip.SetArchiveFile(out + "/12345678.Zip");
    zip.FileSpec = {path};
    EXPECT_EQ(zip.Compress(), 1);
    EXPECT_TRUE(rec.errors.empty()) << rec.describe();
    ASSERT_EQ(rec.begun.size(), 1u);
    EXPECT_EQ(rec.begun[0].first, path);
    EXPECT_EQ(rec.begun[0].second, 1);

    const std::string bytes = readFile(out + "/12345678.Zip");
    const Layout layout = parseLayout(bytes);
    ASSERT_EQ(layout.locals.size(), 1u);
    ASSERT_EQ(layout.centrals.size(), 1u);
    const LocalRecord& l = layout.locals[0];
    EXPECT_EQ(l.offset, 0u);
    EXPECT_EQ(l.version, 20);
    EXPECT_EQ(l.flags, 0);
    EXPECT_EQ(l.method, 8);
    EXPECT_EQ(l.time, Time143758);
    EXPECT_EQ(l.date, Date20240305);
    EXPECT_EQ(l.crc, crcOf(gif));
    EXPECT_EQ(l.size, gif.size());
    EXPECT_EQ(l.compressedSize, l.data.size());
    EXPECT_EQ(l.name, "12345678800.gif");
    EXPECT_TRUE(l.extra.empty());
    EXPECT_EQ(inflateRaw(l.data, gif.size()), gif);

    const CentralRecord& c = layout.centrals[0];
    EXPECT_EQ(c.madeBy, 20); // upper byte 0: FAT attributes
    EXPECT_EQ(c.version, 20);
    EXPECT_EQ(c.header.substr(8, 24), l.header.substr(6, 24))
        << "flags..extra length differ from the local header";
    EXPECT_EQ(c.commentLength, 0);
    EXPECT_EQ(c.diskStart, 0);
    EXPECT_EQ(c.internal, 1);
    EXPECT_EQ(c.external, 0x20u);
    EXPECT_EQ(c.localOffset, 0u);
    EXPECT_EQ(c.name, l.name);
    EXPECT_TRUE(c.extra.empty());
    EXPECT_EQ(layout.end.disk, 0);
    EXPECT_EQ(layout.end.centralDisk, 0);
    EXPECT_EQ(layout.end.entriesHere, 1);
    EXPECT_EQ(layout.end.commentLength, 0);

    const auto py = expectReadersAccept(out + "/12345678.Zip", 1);
    ASSERT_EQ(py.size(), 1u);
    EXPECT_EQ(py[0].nameHex, hex("12345678800.gif"));
    EXPECT_EQ(py[0].flags, 0u);
    EXPECT_EQ(py[0].method, 8u);
    EXPECT_EQ(py[0].system, 0u);
    EXPECT_EQ(py[0].createVersion, 20u);
    EXPECT_EQ(py[0].extractVersion, 20u);
    EXPECT_EQ(py[0].internal, 1u);
    EXPECT_EQ(py[0].external, 0x20u);
    EXPECT_EQ(py[0].dateTime, "2024-3-5-14-37-58");
    EXPECT_EQ(py[0].contentCrc, crcOf(gif));
    EXPECT_EQ(py[0].contentLength, gif.size());

    const std::string info = zipinfoVerbose(out + "/12345678.Zip").output;
    EXPECT_EQ(zipinfoValues(info, "file system or operating system of origin"),
              std::vector<std::string>{"MS-DOS, OS/2 or NT FAT"});
    EXPECT_EQ(zipinfoValues(info, "version of encoding software"), std::vector<std::string>{"2.0"});
    EXPECT_EQ(zipinfoValues(info, "minimum software version required to extract"),
              std::vector<std::string>{"2.0"});
    EXPECT_EQ(zipinfoValues(info, "compression method"), std::vector<std::string>{"deflated"});
    EXPECT_EQ(zipinfoValues(info, "file last modified on (DOS date/time)"),
              std::vector<std::string>{"2024 Mar 5 14:37:58"});
    EXPECT_EQ(zipinfoValues(info, "apparent file type"), std::vector<std::string>{"text"});
    EXPECT_NE(info.find("There is no zipfile comment"), std::string::npos);

    // Progress rose to 100 % while the file was read, and (0, 0) came before
    // the directory was written; every report let the window breathe first.
    ASSERT_GE(rec.progress.size(), 2u);
    EXPECT_EQ(rec.progress[rec.progress.size() - 2], std::make_pair(100, 100));
    EXPECT_EQ(rec.progress.back(), std::make_pair(0, 0));
    EXPECT_TRUE(rec.pumpBeforeEachProgress);
}

// The store rules: empty files, the under-257-bytes test, StoreFilesOfType
// compared without regard to case.
TEST_F(ZipWriterTest, StoreRulesDecideEachMethod)
{
    put("a-empty.dat", "");
    put("b-random100.bin", randomBytes(100, 1));
    put("c-same100.bin", std::string(100, 'x'));
    put("d-random256.bin", randomBytes(256, 2));
    put("e-random257.bin", randomBytes(257, 3));
    put("f-x.ZIP", std::string(2000, 'z'));
    put("g-y.z", std::string(300, 'q'));
    put("h-note.zipx", std::string(300, 'n'));
    put("i-big.bin", randomBytes(600000, 4)); // several buffers: streamed, progress per buffer
    TZip zip;
    Recorder rec;
    rec.attach(zip);
    zip.SetArchiveFile(out + "/rules.zip");
    zip.FileSpec = {src + "/*.*"};
    ASSERT_EQ(zip.Compress(), 9) << rec.describe();

    const Layout layout = parseLayout(readFile(out + "/rules.zip"));
    ASSERT_EQ(layout.locals.size(), 9u);
    struct Expect {
        const char* name;
        int method;
    };
    const Expect expected[] = {{"a-empty.dat", 0},     {"b-random100.bin", 0}, {"c-same100.bin", 8},
                               {"d-random256.bin", 0}, {"e-random257.bin", 8}, {"f-x.ZIP", 0},
                               {"g-y.z", 0},           {"h-note.zipx", 8},     {"i-big.bin", 8}};
    for (std::size_t i = 0; i < 9; ++i) {
        const LocalRecord& l = layout.locals[i];
        SCOPED_TRACE(l.name);
        EXPECT_EQ(l.name, expected[i].name);
        EXPECT_EQ(l.method, expected[i].method);
        EXPECT_EQ(layout.centrals[i].localOffset, l.offset);
        const std::string content = readFile(src + "/" + l.name);
        EXPECT_EQ(l.crc, crcOf(content));
        EXPECT_EQ(l.size, content.size());
        EXPECT_EQ(l.method == 8 ? inflateRaw(l.data, content.size()) : l.data, content);
    }
    const LocalRecord& empty = layout.locals[0];
    EXPECT_EQ(empty.crc, 0u);
    EXPECT_EQ(empty.compressedSize, 0u);
    EXPECT_EQ(empty.size, 0u);
    EXPECT_LT(layout.locals[2].compressedSize, 100u);
    EXPECT_GT(layout.locals[4].compressedSize, 257u)
        << "from 257 bytes on a file is deflated even when it grows";
    expectReadersAccept(out + "/rules.zip", 9);

    int reports = 0;
    for (auto [byFile, byArchive] : rec.progress) {
        EXPECT_LE(byFile, 100);
        EXPECT_LE(byArchive, 100);
        reports += byFile > 0 && byFile < 100;
    }
    EXPECT_GE(reports, 2) << "a 600 KB file reports while it is read";
    EXPECT_TRUE(rec.pumpBeforeEachProgress);
}

// Each deflate strength deflates at its zlib level and names it in the
// general-purpose bits 1 and 2 of both headers, for a streamed file and for
// one in hand whole; a stored file carries no strength bits.
TEST_F(ZipWriterTest, DeflateStrengthSetsTheLevelAndItsFlagBits)
{
    std::string text;
    for (int i = 0; text.size() < 300000; ++i)
        text += "claim " + std::to_string(i * 7919 % 100003) + " bumper " + std::to_string(i % 97) + "\n";
    put("a-report.txt", text);
    put("b-short.txt", std::string(100, 'x'));
    put("c-packed.zip", std::string(300, 'z'));
    const struct {
        TDeflateType type;
        int level;
        unsigned flags;
    } strengths[] = {{TDeflateType::dtDeflateN, 6, 0},
                     {TDeflateType::dtDeflateX, 9, 2},
                     {TDeflateType::dtDeflateF, 2, 4},
                     {TDeflateType::dtDeflateS, 1, 6}};
    for (const auto& strength : strengths) {
        SCOPED_TRACE(strength.level);
        const std::string archive = out + "/level" + std::to_string(strength.level) + ".zip";
        TZip zip;
        zip.DeflateType = strength.type;
        zip.SetArchiveFile(archive);
        zip.FileSpec = {src + "/*.*"};
        ASSERT_EQ(zip.Compress(), 3);
        const Layout layout = parseLayout(readFile(archive));
        ASSERT_EQ(layout.locals.size(), 3u);
        for (std::size_t i = 0; i < 2; ++i) {
            const LocalRecord& l = layout.locals[i];
            SCOPED_TRACE(l.name);
            const std::string content = readFile(src + "/" + l.name);
            EXPECT_EQ(l.method, 8);
            EXPECT_EQ(l.flags & 6u, strength.flags);
            EXPECT_EQ(layout.centrals[i].flags & 6u, strength.flags);
            EXPECT_TRUE(l.data == deflateRaw(content, strength.level))
                << "not deflated at level " << strength.level;
        }
        EXPECT_EQ(layout.locals[2].method, 0);
        EXPECT_EQ(layout.locals[2].flags & 6u, 0u);
        expectReadersAccept(archive, 3);
    }
}

TEST_F(ZipWriterTest, TimesAndAttributesComeFromTheFile)
{
    const std::string odd = put("odd.txt", "odd seconds");
    setLocalTime(odd, 2019, 12, 31, 23, 59, 59);
    const std::string old = put("old.txt", "from before 1980");
    setLocalTime(old, 1975, 6, 1, 12, 0, 0);
    const std::string locked = put("locked.txt", "read only");
    ASSERT_EQ(::chmod(locked.c_str(), 0444), 0);
    TZip zip;
    zip.SetArchiveFile(out + "/times"); // no extension: DefaultExt is appended
    EXPECT_EQ(zip.ArchiveFile(), out + "/times.zip");
    zip.FileSpec = {src + "/*.txt"};
    ASSERT_EQ(zip.Compress(), 3);
    const Layout layout = parseLayout(readFile(out + "/times.zip"));
    ASSERT_EQ(layout.centrals.size(), 3u);
    EXPECT_EQ(layout.centrals[0].name, "locked.txt");
    EXPECT_EQ(layout.centrals[0].external, 0x21u);
    EXPECT_EQ(layout.centrals[1].name, "odd.txt");
    EXPECT_EQ(layout.centrals[1].time, 23 << 11 | 59 << 5 | 29);
    EXPECT_EQ(layout.centrals[1].date, 39 << 9 | 12 << 5 | 31);
    EXPECT_EQ(layout.centrals[2].name, "old.txt");
    EXPECT_EQ(layout.centrals[2].date, 0 << 9 | 1 << 5 | 1);
    EXPECT_EQ(layout.centrals[2].time, 0);
    const auto py = expectReadersAccept(out + "/times.zip", 3);
    ASSERT_EQ(py.size(), 3u);
    EXPECT_EQ(py[0].external, 0x21u);
    EXPECT_EQ(py[1].dateTime, "2019-12-31-23-59-58");
}

// Thai names go into the OEM code page (CP874); a name CP874 cannot hold is
// stored as UTF-8 with general-purpose bit 11.
TEST_F(ZipWriterTest, NamesInTheOemCodePageOrFlaggedUtf8)
{
    const std::string thai = "ใบเสร็จ.gif";
    const std::string chinese = "文件.gif";
    put(thai, "thai content");
    put(chinese, "chinese content");
    put("plain.gif", "ascii content");
    TZip zip;
    zip.SetArchiveFile(out + "/names.zip");
    zip.FileSpec = {src + "/*.gif"};
    ASSERT_EQ(zip.Compress(), 3);
    const Layout layout = parseLayout(readFile(out + "/names.zip"));
    ASSERT_EQ(layout.centrals.size(), 3u);
    // CP874: ใ E3, บ BA, เ E0, ส CA, ร C3, ็ E7, จ A8.
    const std::string thaiOem = "\xE3\xBA\xE0\xCA\xC3\xE7\xA8.gif";
    std::map<std::string, const CentralRecord*> byName;
    for (const auto& c : layout.centrals)
        byName[c.name] = &c;
    ASSERT_TRUE(byName.count(thaiOem)) << "stored names: " << hex(layout.centrals[0].name) << " ...";
    EXPECT_EQ(byName[thaiOem]->flags & 0x0800, 0);
    ASSERT_TRUE(byName.count(chinese));
    EXPECT_EQ(byName[chinese]->flags, 0x0800);
    EXPECT_EQ(byName["plain.gif"]->flags, 0);
    for (const auto& l : layout.locals)
        EXPECT_EQ(l.flags, byName[l.name]->flags);

    const auto py = expectReadersAccept(out + "/names.zip", 3);
    std::set<std::string> names;
    for (const auto& m : py)
        names.insert(m.nameHex);
    EXPECT_TRUE(names.count(hex(thaiOem)));
    EXPECT_TRUE(names.count(hex(chinese)));
}

// The scan: wildcards without regard to case, case-insensitive name order,
// several entries in list order; hidden files, folders and pipes are never
// taken; a folder that does not exist finds nothing.
TEST_F(ZipWriterTest, ScanTakesOrdinaryMatchingFilesOnly)
{
    put("b.GIF", "b");
    put("a.gif", "a");
    put("C.Gif", "c");
    put("d.jpg", "d");
    put(".hidden.gif", "h");
    std::filesystem::create_directories(src + "/folder.gif");
    put("inner.gif", "i", src + "/folder.gif");
    ASSERT_EQ(::mkfifo((src + "/pipe.gif").c_str(), 0644), 0);
    const std::string other = dir + "/other";
    std::filesystem::create_directories(other);
    put("z.gif", "z", other);
    TZip zip;
    Recorder rec;
    rec.attach(zip);
    zip.SetArchiveFile(out + "/scan.zip");
    std::string backslashed = other + "\\*.GIF";
    zip.FileSpec = {backslashed, src + "/*.gif", dir + "/missing/*.gif", src + "/a.gif"};
    ASSERT_EQ(zip.Compress(), 4) << rec.describe();
    const Layout layout = parseLayout(readFile(out + "/scan.zip"));
    std::vector<std::string> names;
    for (const auto& c : layout.centrals)
        names.push_back(c.name);
    EXPECT_EQ(names, (std::vector<std::string>{"z.gif", "a.gif", "b.GIF", "C.Gif"}));
    ASSERT_EQ(rec.begun.size(), 4u);
    EXPECT_EQ(rec.begun[3], std::make_pair(src + "/C.Gif", 4));
}

TEST_F(ZipWriterTest, RecurseDirsStoresRelativeNames)
{
    std::filesystem::create_directories(src + "/sub/deeper");
    put("top.txt", "1");
    put("mid.txt", "2", src + "/sub");
    put("low.txt", "3", src + "/sub/deeper");
    TZip zip;
    zip.RecurseDirs = true;
    zip.SetArchiveFile(out + "/tree.zip");
    zip.FileSpec = {src + "/*.txt"};
    ASSERT_EQ(zip.Compress(), 3);
    const auto py = expectReadersAccept(out + "/tree.zip", 3);
    ASSERT_EQ(py.size(), 3u);
    EXPECT_EQ(py[0].nameHex, hex("top.txt"));
    EXPECT_EQ(py[1].nameHex, hex("sub/mid.txt"));
    EXPECT_EQ(py[2].nameHex, hex("sub/deeper/low.txt"));
}

TEST_F(ZipWriterTest, MissingFolderAndNoMatchTouchNothing)
{
    put("a.gif", "a");
    TZip zip;
    Recorder rec;
    rec.attach(zip);
    zip.Switch = TSwitch::swMove;
    zip.SetArchiveFile(dir + "/no-such-folder/x.zip");
    zip.FileSpec = {src + "/a.gif"};
    EXPECT_EQ(zip.Compress(), 0);
    ASSERT_EQ(rec.errors.size(), 1u);
    EXPECT_EQ(rec.errors[0].code, 25158);
    EXPECT_EQ(TZip::ErrorMessage(25158), "Invalid directory");
    EXPECT_FALSE(std::filesystem::exists(dir + "/no-such-folder"));
    EXPECT_TRUE(std::filesystem::exists(src + "/a.gif"));

    // A new archive with nothing to store is not created at all.
    rec.errors.clear();
    zip.SetArchiveFile(out + "/x.zip");
    zip.FileSpec = {src + "/*.jpg"};
    EXPECT_EQ(zip.Compress(), 0);
    ASSERT_EQ(rec.errors.size(), 1u);
    EXPECT_EQ(rec.errors[0].code, 25268);
    EXPECT_EQ(TZip::ErrorMessage(25268), "Nothing to do");
    EXPECT_TRUE(std::filesystem::is_empty(out));
    EXPECT_TRUE(std::filesystem::exists(src + "/a.gif"));
}

TEST_F(ZipWriterTest, OnBeginCanLeaveAFileOut)
{
    put("keep-out.gif", "k");
    put("take.gif", "t");
    TZip zip;
    zip.Switch = TSwitch::swMove;
    zip.OnBegin = [](TZip&, const std::string& name, int, bool& extract) {
        extract = name.find("keep-out") == std::string::npos;
    };
    zip.SetArchiveFile(out + "/begin.zip");
    zip.FileSpec = {src + "/*.gif"};
    ASSERT_EQ(zip.Compress(), 1);
    const Layout layout = parseLayout(readFile(out + "/begin.zip"));
    ASSERT_EQ(layout.centrals.size(), 1u);
    EXPECT_EQ(layout.centrals[0].name, "take.gif");
    EXPECT_TRUE(std::filesystem::exists(src + "/keep-out.gif"));
    EXPECT_FALSE(std::filesystem::exists(src + "/take.gif"));

    // When OnBegin refuses everything, no archive appears.
    zip.OnBegin = [](TZip&, const std::string&, int, bool& extract) { extract = false; };
    zip.SetArchiveFile(out + "/none.zip");
    EXPECT_EQ(zip.Compress(), 0);
    EXPECT_FALSE(std::filesystem::exists(out + "/none.zip"));
    EXPECT_TRUE(std::filesystem::exists(src + "/keep-out.gif"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out), {}), 1) << "a temporary file was left";
}

} // namespace
} // namespace tevrak::ziptest
