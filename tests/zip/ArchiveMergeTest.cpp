// Combining the server's archive of a claim with ours: their members kept byte
// for byte, ours added and winning on a name both hold, read back by unzip,
// zipinfo and Python's zipfile.

#include "ZipFixture.h"
#include "zip/ArchiveMerge.h"

namespace tevrak::ziptest {
namespace {

class ArchiveMergeTest : public ZipFixture {
protected:
    // An archive of the given files made by the writer.
    std::string archive(const std::string& name, const std::vector<std::pair<std::string, std::string>>& files)
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
};

TEST_F(ArchiveMergeTest, KeepsTheirMembersAndOursWinOnANameBothHold)
{
    const std::string theirs = archive("theirs.zip", {{"12345678800.gif", makeGif(60, 40, 1)},
                                                      {"12345678801.gif", "their 801"}});
    const std::string ours = archive("ours.zip", {{"12345678801.gif", "our 801, newer"},
                                                  {"12345678802.gif", makeGif(60, 40, 2)}});
    const std::string merged = out + "/merged.zip";
    std::string reason;
    ASSERT_EQ(mergeArchives(theirs, ours, merged, reason), ArchiveMerge::Merged) << reason;

    const auto members = expectReadersAccept(merged, 3);
    ASSERT_EQ(members.size(), 3u);
    const Layout layout = parseLayout(readFile(merged));
    ASSERT_EQ(layout.locals.size(), 3u);
    EXPECT_EQ(layout.locals[0].name, "12345678800.gif");
    EXPECT_EQ(layout.locals[1].name, "12345678801.gif");
    EXPECT_EQ(layout.locals[2].name, "12345678802.gif");
    const LocalRecord& shared = layout.locals[1];
    EXPECT_EQ(shared.method == 0 ? shared.data : inflateRaw(shared.data, shared.size), "our 801, newer");
    // Their member is copied as it was, not compressed again.
    const Layout before = parseLayout(readFile(theirs));
    EXPECT_EQ(layout.locals[0].header, before.locals[0].header);
    EXPECT_EQ(layout.locals[0].data, before.locals[0].data);
}

TEST_F(ArchiveMergeTest, AServerCopyThatIsNoArchiveIsReportedSoAndNothingIsWritten)
{
    const std::string ours = archive("ours.zip", {{"12345678800.gif", "ours"}});
    const std::string whole = readFile(ours);
    const std::string broken = out + "/broken.zip";
    writeFile(broken, whole.substr(0, whole.size() / 2)); // an upload broken off half-way
    const std::string merged = out + "/merged.zip";
    std::string reason;
    EXPECT_EQ(mergeArchives(broken, ours, merged, reason), ArchiveMerge::TheirsUnreadable);
    EXPECT_FALSE(reason.empty());
    EXPECT_FALSE(std::filesystem::exists(merged));
    EXPECT_EQ(mergeArchives(ours, broken, merged, reason), ArchiveMerge::Failed);
    EXPECT_FALSE(std::filesystem::exists(merged));
}

} // namespace
} // namespace tevrak::ziptest
