// Combining the server's archive of a claim with ours: no document of either
// lost. Their members kept byte for byte (also those of archives an earlier
// program joined end to end), ours added, two different documents under one
// name both kept (ours renamed through the caller's callback), read back by
// unzip, zipinfo and Python's zipfile.

#include "ZipFixture.h"
#include "zip/ArchiveMerge.h"
#include "zip/ZipFormat.h"

#include <algorithm>
#include <cctype>
#include <fcntl.h>
#include <unistd.h>

namespace tevrak::ziptest {
namespace {

using Files = std::vector<std::pair<std::string, std::string>>;

std::string lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The claim's next free document number, as the transfer gives it: the
// claim's highest sequence (800-999, any letter case) plus one.
std::string nextFreeDocument(const std::set<std::string>& taken, const std::string& clashing)
{
    const std::string claim = clashing.substr(0, 8);
    int highest = 799;
    for (const std::string& name : taken) {
        const std::string l = lower(name);
        if (l.size() == 15 && l.compare(0, 8, lower(claim)) == 0 && l.compare(11, 4, ".gif") == 0 &&
            std::all_of(l.begin() + 8, l.begin() + 11, [](char c) { return c >= '0' && c <= '9'; }))
            highest = std::max(highest, std::stoi(l.substr(8, 3)));
    }
    return highest >= 999 ? std::string() : claim + std::to_string(highest + 1) + ".gif";
}

class ArchiveMergeTest : public ZipFixture {
protected:
    std::vector<RenamedMember> renamed;
    std::string reason;

    // An archive of the given files made by the writer.
    std::string archive(const std::string& name, const Files& files)
    {
        const std::string folder = dir + "/" + name + "-files";
        std::filesystem::create_directories(folder);
        TZip zip;
        zip.SetArchiveFile(out + "/" + name);
        for (const auto& [file, bytes] : files)
            zip.FileSpec.push_back(put(file, bytes, folder));
        EXPECT_EQ(zip.Compress(), int(files.size()));
        return zip.ArchiveFile();
    }

    // An archive made by Python's zipfile (deflated, fixed dates), members in the given order.
    std::string pythonArchive(const std::string& name, const Files& files)
    {
        const std::string folder = dir + "/" + name + "-py";
        std::filesystem::create_directories(folder);
        std::string args;
        for (std::size_t i = 0; i < files.size(); ++i) {
            const std::string path = folder + "/" + std::to_string(i);
            writeFile(path, files[i].second);
            args += " '" + files[i].first + "' '" + path + "'";
        }
        static const char* script = R"PY(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    for name, path in zip(sys.argv[2::2], sys.argv[3::2]):
        info = zipfile.ZipInfo(name, date_time=(2024, 3, 5, 14, 37, 58))
        info.compress_type = zipfile.ZIP_DEFLATED
        z.writestr(info, open(path, 'rb').read())
)PY";
        writeFile(folder + "/make.py", script);
        const std::string path = out + "/" + name;
        const ToolResult r = run("/usr/bin/python3 '" + folder + "/make.py' '" + path + "'" + args);
        EXPECT_EQ(r.status, 0) << r.output;
        return path;
    }

    std::string joined(const std::string& name, const std::vector<std::string>& parts)
    {
        std::string bytes;
        for (const auto& part : parts)
            bytes += readFile(part);
        writeFile(out + "/" + name, bytes);
        return out + "/" + name;
    }

    ArchiveMerge merge(const std::string& theirs, const std::string& ours, const std::string& merged)
    {
        return mergeArchives(theirs, ours, merged, nextFreeDocument, renamed, reason);
    }

    // Python's zipfile's view: stored name -> content (CRC, length).
    std::map<std::string, std::pair<std::uint32_t, std::uint64_t>> contents(const std::string& archive,
                                                                            std::size_t members)
    {
        std::map<std::string, std::pair<std::uint32_t, std::uint64_t>> byName;
        for (const PyMember& m : expectReadersAccept(archive, members)) {
            std::string name;
            for (std::size_t i = 0; i + 1 < m.nameHex.size(); i += 2)
                name += static_cast<char>(std::stoi(m.nameHex.substr(i, 2), nullptr, 16));
            byName[name] = {m.contentCrc, m.contentLength};
        }
        return byName;
    }
};

// The record of the member of that name, or a failure.
const LocalRecord& member(const Layout& layout, const std::string& name)
{
    for (const auto& local : layout.locals)
        if (local.name == name)
            return local;
    ADD_FAILURE() << "no member " << name;
    static const LocalRecord none;
    return none;
}

// The member is in `merged` exactly as in `from`: local header, name, extra field and data.
void expectCopied(const Layout& merged, const Layout& from, const std::string& name)
{
    const LocalRecord& was = member(from, name);
    const LocalRecord& is = member(merged, name);
    EXPECT_EQ(is.header, was.header) << name;
    EXPECT_EQ(is.extra, was.extra) << name;
    EXPECT_EQ(is.data, was.data) << name;
}

std::pair<std::uint32_t, std::uint64_t> content(const std::string& bytes)
{
    return {crcOf(bytes), bytes.size()};
}

TEST_F(ArchiveMergeTest, ADifferentDocumentUnderANameBothHoldIsKeptTwiceOursRenamed)
{
    const std::string their801 = "their 801", our801 = "our 801, newer";
    const std::string theirs = archive("theirs.zip", {{"12345678800.gif", makeGif(60, 40, 1)},
                                                      {"12345678801.gif", their801}});
    const std::string ours = archive("ours.zip", {{"12345678801.gif", our801},
                                                  {"12345678802.gif", makeGif(60, 40, 2)}});
    const std::string merged = out + "/merged.zip";
    ASSERT_EQ(merge(theirs, ours, merged), ArchiveMerge::Merged) << reason;

    const auto byName = contents(merged, 4);
    EXPECT_EQ(byName.at("12345678800.gif"), content(makeGif(60, 40, 1)));
    EXPECT_EQ(byName.at("12345678801.gif"), content(their801));
    EXPECT_EQ(byName.at("12345678802.gif"), content(makeGif(60, 40, 2)));
    EXPECT_EQ(byName.at("12345678803.gif"), content(our801));
    ASSERT_EQ(renamed.size(), 1u);
    EXPECT_EQ(renamed[0].from, "12345678801.gif");
    EXPECT_EQ(renamed[0].to, "12345678803.gif");
    EXPECT_TRUE(renamed[0].ours);

    const Layout layout = parseLayout(readFile(merged));
    ASSERT_EQ(layout.locals.size(), 4u);
    EXPECT_EQ(layout.locals[0].name, "12345678800.gif");
    EXPECT_EQ(layout.locals[1].name, "12345678801.gif");
    EXPECT_EQ(layout.locals[2].name, "12345678803.gif");
    EXPECT_EQ(layout.locals[3].name, "12345678802.gif");
    // Theirs copied as they were, not compressed again; ours renamed keeps its data and CRC.
    const Layout before = parseLayout(readFile(theirs));
    expectCopied(layout, before, "12345678800.gif");
    expectCopied(layout, before, "12345678801.gif");
    const Layout ourLayout = parseLayout(readFile(ours));
    const LocalRecord& wasOurs = member(ourLayout, "12345678801.gif");
    const LocalRecord& isOurs = layout.locals[2];
    EXPECT_EQ(isOurs.data, wasOurs.data);
    EXPECT_EQ(isOurs.crc, wasOurs.crc);
    EXPECT_EQ(isOurs.header.substr(0, 26), wasOurs.header.substr(0, 26)); // all but the name's length
    EXPECT_EQ(layout.centrals[2].name, "12345678803.gif");
    EXPECT_EQ(layout.centrals[2].localOffset, isOurs.offset);
}

TEST_F(ArchiveMergeTest, TheSameDocumentUnderANameBothHoldIsKeptOnceAsOurs)
{
    const std::string gif = makeGif(50, 30, 3);
    const std::string theirs = pythonArchive("theirs.zip", {{"12345678800.gif", gif}});
    const std::string ours = archive("ours.zip", {{"12345678800.gif", gif}});
    const std::string merged = out + "/merged.zip";
    ASSERT_EQ(merge(theirs, ours, merged), ArchiveMerge::Merged) << reason;
    EXPECT_EQ(contents(merged, 1).at("12345678800.gif"), content(gif));
    EXPECT_TRUE(renamed.empty());
    expectCopied(parseLayout(readFile(merged)), parseLayout(readFile(ours)), "12345678800.gif");
}

TEST_F(ArchiveMergeTest, AMemberOnlyTheServerHoldsPlacedLastSurvivesByteForByte)
{
    const std::string shared = makeGif(40, 40, 4), only = makeGif(70, 20, 5);
    const std::string theirs =
        pythonArchive("theirs.zip", {{"12345678800.gif", shared}, {"12345678805.gif", only}});
    const std::string ours = archive("ours.zip", {{"12345678800.gif", shared}});
    const std::string merged = out + "/merged.zip";
    ASSERT_EQ(merge(theirs, ours, merged), ArchiveMerge::Merged) << reason;

    const auto byName = contents(merged, 2);
    EXPECT_EQ(byName.at("12345678805.gif"), content(only));
    EXPECT_EQ(byName.at("12345678800.gif"), content(shared));
    const Layout layout = parseLayout(readFile(merged));
    expectCopied(layout, parseLayout(readFile(theirs)), "12345678805.gif");
    EXPECT_TRUE(renamed.empty());
}

TEST_F(ArchiveMergeTest, EveryMemberOfAJoinedServerArchiveIsKept)
{
    const std::string a0 = makeGif(30, 30, 6), a1 = "part one, 801", b0 = makeGif(20, 50, 7), b1 = "part two, 803";
    const std::string first =
        pythonArchive("first.zip", {{"12345678800.gif", a0}, {"12345678801.gif", a1}});
    const std::string second =
        pythonArchive("second.zip", {{"12345678802.gif", b0}, {"12345678803.gif", b1}});
    const std::string theirs = joined("theirs.zip", {first, second});
    // What the earlier program left is read by the others as its last part only.
    const ToolResult listed = run("unzip -l '" + theirs + "'");
    EXPECT_EQ(listed.output.find("12345678800.gif"), std::string::npos) << listed.output;

    const std::string ourGif = makeGif(25, 25, 8);
    const std::string ours = archive("ours.zip", {{"12345678804.gif", ourGif}});
    const std::string merged = out + "/merged.zip";
    ASSERT_EQ(merge(theirs, ours, merged), ArchiveMerge::Merged) << reason;

    const auto byName = contents(merged, 5);
    EXPECT_EQ(byName.at("12345678800.gif"), content(a0));
    EXPECT_EQ(byName.at("12345678801.gif"), content(a1));
    EXPECT_EQ(byName.at("12345678802.gif"), content(b0));
    EXPECT_EQ(byName.at("12345678803.gif"), content(b1));
    EXPECT_EQ(byName.at("12345678804.gif"), content(ourGif));
    const Layout layout = parseLayout(readFile(merged));
    ASSERT_EQ(layout.locals.size(), 5u);
    const Layout one = parseLayout(readFile(first)), two = parseLayout(readFile(second));
    expectCopied(layout, one, "12345678800.gif");
    expectCopied(layout, one, "12345678801.gif");
    expectCopied(layout, two, "12345678802.gif");
    expectCopied(layout, two, "12345678803.gif");
    EXPECT_EQ(layout.locals[0].name, "12345678800.gif"); // file order: part one, part two, ours
    EXPECT_EQ(layout.locals[2].name, "12345678802.gif");
    EXPECT_EQ(layout.locals[4].name, "12345678804.gif");
    EXPECT_TRUE(renamed.empty());
}

TEST_F(ArchiveMergeTest, AJoinedArchiveWhoseLaterPartHoldsANameWithOtherBytesKeepsBoth)
{
    const std::string older = "801 as first sent", newer = "801 as sent again, other bytes";
    const std::string same = makeGif(30, 20, 9);
    const std::string first =
        pythonArchive("first.zip", {{"12345678800.gif", same}, {"12345678801.gif", older}});
    // The later part holds 800 again with the same bytes (one copy) and 801 with other bytes.
    const std::string second =
        pythonArchive("second.zip", {{"12345678801.gif", newer}, {"12345678800.gif", same}});
    const std::string theirs = joined("theirs.zip", {first, second});
    const std::string ours = archive("ours.zip", {{"12345678802.gif", "ours"}});
    const std::string merged = out + "/merged.zip";
    ASSERT_EQ(merge(theirs, ours, merged), ArchiveMerge::Merged) << reason;

    const auto byName = contents(merged, 4);
    EXPECT_EQ(byName.at("12345678800.gif"), content(same));
    EXPECT_EQ(byName.at("12345678801.gif"), content(newer)); // the later part's, as unzip showed it
    EXPECT_EQ(byName.at("12345678803.gif"), content(older)); // the earlier one, under the next free number
    EXPECT_EQ(byName.at("12345678802.gif"), content("ours"));
    ASSERT_EQ(renamed.size(), 1u);
    EXPECT_EQ(renamed[0].from, "12345678801.gif");
    EXPECT_EQ(renamed[0].to, "12345678803.gif");
    EXPECT_FALSE(renamed[0].ours);
    const Layout layout = parseLayout(readFile(merged));
    expectCopied(layout, parseLayout(readFile(second)), "12345678801.gif");
    expectCopied(layout, parseLayout(readFile(second)), "12345678800.gif");
    EXPECT_EQ(member(layout, "12345678803.gif").data, member(parseLayout(readFile(first)), "12345678801.gif").data);
}

TEST_F(ArchiveMergeTest, NamesThatDifferOnlyInLetterCaseAreOneName)
{
    const std::string gif = makeGif(40, 30, 10);
    const std::string theirs = pythonArchive("theirs.zip", {{"AB12345680.GIF", gif}, {"AB12345681.GIF", "theirs"}});
    const std::string ours = archive("ours.zip", {{"ab12345680.gif", gif}, {"ab12345681.gif", "ours, other bytes"}});
    const std::string merged = out + "/merged.zip";
    ASSERT_EQ(merge(theirs, ours, merged), ArchiveMerge::Merged) << reason;

    // The same bytes: one member, ours. Other bytes: both, ours renamed.
    const auto byName = contents(merged, 3);
    EXPECT_EQ(byName.count("AB12345680.GIF"), 0u);
    EXPECT_EQ(byName.at("ab12345680.gif"), content(gif));
    EXPECT_EQ(byName.at("AB12345681.GIF"), content("theirs"));
    ASSERT_EQ(renamed.size(), 1u);
    EXPECT_EQ(renamed[0].from, "ab12345681.gif");
    EXPECT_EQ(byName.at(renamed[0].to), content("ours, other bytes"));
}

TEST_F(ArchiveMergeTest, AServerMemberWhoseDataAreNotWhatItDeclaresIsNeverTakenForOurs)
{
    const std::string text = std::string(300, 'x') + "801";
    const std::string ours = archive("ours.zip", {{"12345678801.gif", text}});
    // The server's copy of the same member, one data byte damaged: CRC and size still declare ours.
    std::string bytes = readFile(ours);
    const Layout layout = parseLayout(bytes);
    bytes[layout.locals[0].offset + 30 + layout.locals[0].name.size() + 2] ^= 0x55;
    const std::string theirs = out + "/theirs.zip";
    writeFile(theirs, bytes);
    const std::string merged = out + "/merged.zip";
    ASSERT_EQ(merge(theirs, ours, merged), ArchiveMerge::Merged) << reason;
    const Layout result = parseLayout(readFile(merged));
    ASSERT_EQ(result.locals.size(), 2u);
    EXPECT_EQ(result.locals[0].data, parseLayout(bytes).locals[0].data);
    EXPECT_EQ(result.locals[1].name, "12345678802.gif");
    ASSERT_EQ(renamed.size(), 1u);
}

// A stored member "12345678800.gif" of one byte whose headers declare `size`.
std::string declaring(std::uint32_t size)
{
    zipfmt::MemberFields f;
    f.method = zipfmt::MethodStored;
    f.crc = crcOf("x");
    f.compressedSize = 1;
    f.size = size;
    const std::string local = zipfmt::localHeader(f, "12345678800.gif") + "x";
    const std::string central = zipfmt::centralHeader(f, "12345678800.gif", 0x20, 0);
    return local + central + zipfmt::endRecord(1, central.size(), local.size(), "");
}

TEST_F(ArchiveMergeTest, AServerMemberDeclaringMoreThanTheCapMakesTheArchiveUnreadable)
{
    const std::string ours = archive("ours.zip", {{"12345678801.gif", "ours"}});
    const std::string merged = out + "/merged.zip";
    for (const std::uint32_t size : {0xFFFFFFFEu, MaxServerMemberBytes + 1}) {
        const std::string theirs = out + "/theirs.zip";
        writeFile(theirs, declaring(size));
        EXPECT_EQ(merge(theirs, ours, merged), ArchiveMerge::TheirsUnreadable) << size;
        EXPECT_NE(reason.find("256 MiB for one member"), std::string::npos) << reason;
        EXPECT_FALSE(std::filesystem::exists(merged));
    }
    // 4 GiB itself does not fit the field: its all-ones value means ZIP64.
    writeFile(out + "/theirs.zip", declaring(0xFFFFFFFFu));
    EXPECT_EQ(merge(out + "/theirs.zip", ours, merged), ArchiveMerge::TheirsUnreadable);
    EXPECT_NE(reason.find("ZIP64"), std::string::npos) << reason;
    // At the cap it is read (the member is one byte: a raw copy does not inflate it).
    writeFile(out + "/theirs.zip", declaring(MaxServerMemberBytes));
    EXPECT_EQ(merge(out + "/theirs.zip", ours, merged), ArchiveMerge::Merged) << reason;
}

TEST_F(ArchiveMergeTest, AServerFileLargerThanTheCapIsUnreadable)
{
    const std::string ours = archive("ours.zip", {{"12345678801.gif", "ours"}});
    const std::string theirs = out + "/theirs.zip";
    writeFile(theirs, readFile(ours));
    std::filesystem::resize_file(theirs, MaxServerArchiveBytes + 1); // sparse
    const std::string merged = out + "/merged.zip";
    EXPECT_EQ(merge(theirs, ours, merged), ArchiveMerge::TheirsUnreadable);
    EXPECT_NE(reason.find("2048 MiB for a whole archive"), std::string::npos) << reason;
    EXPECT_FALSE(std::filesystem::exists(merged));
    std::filesystem::remove(theirs);
}

TEST_F(ArchiveMergeTest, BytesThatNoMemberHoldsMakeTheServerArchiveUnreadable)
{
    const std::string ours = archive("ours.zip", {{"12345678801.gif", "ours"}});
    const std::string whole = readFile(pythonArchive("theirs.zip", {{"12345678800.gif", "theirs"}}));
    const std::string merged = out + "/merged.zip";
    const std::string theirs = out + "/damaged.zip";
    for (const std::string& bytes : {whole + "trailing bytes", "leading bytes" + whole}) {
        writeFile(theirs, bytes);
        EXPECT_EQ(merge(theirs, ours, merged), ArchiveMerge::TheirsUnreadable);
        EXPECT_FALSE(reason.empty());
        EXPECT_FALSE(std::filesystem::exists(merged));
    }
}

TEST_F(ArchiveMergeTest, ANewNameThatIsTakenOrMissingFailsTheMerge)
{
    const std::string theirs = archive("theirs.zip", {{"12345678800.gif", "theirs"}, {"12345678801.gif", "x"}});
    const std::string ours = archive("ours.zip", {{"12345678800.gif", "ours"}});
    const std::string merged = out + "/merged.zip";
    for (const std::string& given : {std::string("12345678801.GIF"), std::string()}) {
        EXPECT_EQ(mergeArchives(theirs, ours, merged,
                                [&](const std::set<std::string>& taken, const std::string& clashing) {
                                    EXPECT_EQ(clashing, "12345678800.gif");
                                    EXPECT_EQ(taken.size(), 2u);
                                    return given;
                                },
                                renamed, reason),
                  ArchiveMerge::Failed);
        EXPECT_NE(reason.find("12345678800.gif"), std::string::npos) << reason;
        EXPECT_TRUE(renamed.empty());
        EXPECT_FALSE(std::filesystem::exists(merged));
    }
}

TEST_F(ArchiveMergeTest, AServerCopyThatIsNoArchiveIsReportedSoAndNothingIsWritten)
{
    const std::string ours = archive("ours.zip", {{"12345678800.gif", "ours"}});
    const std::string whole = readFile(ours);
    const std::string broken = out + "/broken.zip";
    writeFile(broken, whole.substr(0, whole.size() / 2)); // an upload broken off half-way
    const std::string merged = out + "/merged.zip";
    EXPECT_EQ(merge(broken, ours, merged), ArchiveMerge::TheirsUnreadable);
    EXPECT_FALSE(reason.empty());
    EXPECT_FALSE(std::filesystem::exists(merged));
    EXPECT_EQ(merge(ours, broken, merged), ArchiveMerge::Failed);
    EXPECT_FALSE(std::filesystem::exists(merged));
    // A whole archive with a broken-off one after it.
    writeFile(broken, whole + whole.substr(0, whole.size() / 2));
    EXPECT_EQ(merge(broken, ours, merged), ArchiveMerge::TheirsUnreadable);
    EXPECT_FALSE(std::filesystem::exists(merged));
}

} // namespace
} // namespace tevrak::ziptest
