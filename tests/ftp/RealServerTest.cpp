// Against a real FTP server (the project's pyftpdlib stand-in on a free
// loopback port): the commands the exchange uses, both data directions, both
// connection modes, and large files streamed in flat memory.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "FtpTestHelpers.h"
#include "ftp/FtpLink.h"
#include "support/LocalFtpServer.h"
#include "support/TestEnvironment.h"

namespace tevrak {
namespace {

namespace fs = std::filesystem;

// Peak resident memory of this process so far, in bytes.
std::uint64_t peakResidentBytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stoull(line.substr(6)) * 1024;
    return 0;
}

// A long deterministic byte stream: byte i is table[i % period] with a prime
// period, so shifted or dropped blocks do not compare equal.
class Pattern {
public:
    static constexpr size_t Period = 65521;
    Pattern()
    {
        std::uint32_t x = 2463534242u;
        for (auto& b : table_) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            b = static_cast<char>(x);
        }
    }
    void fill(std::uint64_t at, char* out, size_t size) const
    {
        while (size > 0) {
            const size_t offset = static_cast<size_t>(at % Period);
            const size_t n = std::min(size, Period - offset);
            std::memcpy(out, table_ + offset, n);
            out += n;
            at += n;
            size -= n;
        }
    }
    bool matches(std::uint64_t at, const char* in, size_t size) const
    {
        while (size > 0) {
            const size_t offset = static_cast<size_t>(at % Period);
            const size_t n = std::min(size, Period - offset);
            if (std::memcmp(in, table_ + offset, n) != 0)
                return false;
            in += n;
            at += n;
            size -= n;
        }
        return true;
    }

private:
    char table_[Period];
};

class PatternSource : public TDataSource {
public:
    PatternSource(const Pattern& pattern, std::uint64_t size) : pattern_(pattern), size_(size) {}
    std::uint64_t Size() override { return size_; }
    size_t Read(char* data, size_t size) override
    {
        const size_t n = static_cast<size_t>(std::min<std::uint64_t>(size, size_ - at_));
        pattern_.fill(at_, data, n);
        at_ += n;
        return n;
    }

private:
    const Pattern& pattern_;
    std::uint64_t size_;
    std::uint64_t at_ = 0;
};

class PatternCheck : public TDataSink {
public:
    explicit PatternCheck(const Pattern& pattern) : pattern_(pattern) {}
    void Write(const char* data, size_t size) override
    {
        if (!pattern_.matches(count, data, size))
            intact = false;
        count += size;
    }
    std::uint64_t count = 0;
    bool intact = true;

private:
    const Pattern& pattern_;
};

class FtpRealServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        base_ = fs::path(test::temporaryBase()) / "ftp-real";
        root_ = base_ / "server";
        local_ = base_ / "local";
        fs::create_directories(local_);
        port_ = server_.start(root_.string());
    }

    void aim(TFtpLink& link, bool passive = false)
    {
        link.Host = "127.0.0.1";
        link.Port = port_;
        link.Username = test::LocalFtpServer::User;
        link.Password = test::LocalFtpServer::Password;
        link.ReadTimeout = 10000;
        link.DataConnectTimeout = 10000;
        link.Passive = passive;
    }

    fs::path base_, root_, local_;
    int port_ = 0;
    test::LocalFtpServer server_;
};

TEST_F(FtpRealServer, AppendStoreRetrieveListAndDeleteInBothModes)
{
    for (const bool passive : {false, true}) {
        SCOPED_TRACE(passive ? "passive" : "active");
        const std::string garage = passive ? "GaragePassive" : "GarageActive";
        TFtpLink link;
        aim(link, passive);
        link.OpenControl(true);
        EXPECT_FALSE(link.SystemDescription().empty());
        const fs::path folder = root_ / "Claim" / garage;
        fs::create_directories(folder); // the insurer sets up each garage's folder
        link.ChangeDirectory("Claim/" + garage);

        const fs::path photo = local_ / "12345678001.jpg";
        test::writeFile(photo, "first photo bytes;");
        link.StoreFile(photo.string(), "12345678001.jpg", true);
        link.StoreFile(photo.string(), "12345678001.jpg", true);
        EXPECT_EQ(test::readFile(folder / "12345678001.jpg"), "first photo bytes;first photo bytes;");

        test::writeFile(photo, "replaced");
        link.StoreFile(photo.string(), "12345678001.jpg", false);
        EXPECT_EQ(test::readFile(folder / "12345678001.jpg"), "replaced");

        const fs::path empty = local_ / "Tevrak2.PX";
        test::writeFile(empty, "");
        link.StoreFile(empty.string(), "Tevrak2.PX", true);
        ASSERT_TRUE(fs::exists(folder / "Tevrak2.PX"));
        EXPECT_EQ(fs::file_size(folder / "Tevrak2.PX"), 0u);

        // Retrieving onto a longer local file replaces it completely.
        const fs::path copy = local_ / "copy.jpg";
        test::writeFile(copy, std::string(10000, 'L'));
        link.RetrieveFile("12345678001.jpg", copy.string(), true, false);
        EXPECT_EQ(test::readFile(copy), "replaced");
        test::writeFile(copy, "old");
        link.RetrieveFile("Tevrak2.PX", copy.string(), true, false);
        EXPECT_TRUE(fs::exists(copy));
        EXPECT_EQ(fs::file_size(copy), 0u);

        std::vector<std::string> names;
        link.ListNames(&names, "*.*", false);
        EXPECT_EQ(names, (std::vector<std::string>{"12345678001.jpg", "Tevrak2.PX"}));
        link.ListNames(&names, "", false);
        EXPECT_EQ(names, (std::vector<std::string>{"12345678001.jpg", "Tevrak2.PX"}));

        link.RemoveFile("12345678001.jpg");
        link.RemoveFile("Tevrak2.PX");
        EXPECT_FALSE(fs::exists(folder / "12345678001.jpg"));
        link.ListNames(&names, "*.*", false);
        EXPECT_TRUE(names.empty());
        EXPECT_THROW(link.RemoveFile("12345678001.jpg"), EFtpReplyError);
        // A failed command leaves the connection usable.
        link.ChangeDirectory("/Claim");
        link.CloseControl();
    }
}

TEST_F(FtpRealServer, ThaiFolderNamesStayByteForByteAndOnlyTheDemoServerCreatesFolders)
{
    const std::string garage = "\xA1\xD2\xC3\xD2\xA8\xCA\xC1\xAB\xD2\xC2"; // CP874, not UTF-8
    fs::create_directories(root_ / "Claim" / garage);
    TFtpLink link;
    aim(link);
    link.OpenControl(true);
    link.ChangeDirectory("Claim/" + garage);
    const fs::path photo = local_ / "a.jpg";
    test::writeFile(photo, "x");
    link.StoreFile(photo.string(), "a.jpg", true);
    EXPECT_TRUE(fs::exists(root_ / "Claim" / garage / "a.jpg"));
    // Like a real server: a folder the insurer did not set up is refused, not made.
    EXPECT_THROW(link.ChangeDirectory("/Claim/Download3/" + garage), EFtpReplyError);
    EXPECT_FALSE(fs::exists(root_ / "Claim" / "Download3" / garage));
    link.CloseControl();

    // The demo server (what scripts/run starts) makes the garage's and the
    // branch's folders on first use, and nothing outside Claim/.
    test::LocalFtpServer demo;
    const fs::path demoRoot = base_ / "demo";
    port_ = demo.start(demoRoot.string(), {"--demo"});
    TFtpLink demoLink;
    aim(demoLink);
    demoLink.OpenControl(true);
    demoLink.ChangeDirectory("Claim/" + garage);
    demoLink.ChangeDirectory("/Claim/Download3/" + garage);
    EXPECT_TRUE(fs::is_directory(demoRoot / "Claim" / garage));
    EXPECT_TRUE(fs::is_directory(demoRoot / "Claim" / "Download3" / garage));
    std::vector<std::string> names;
    demoLink.ListNames(&names, "*.*", false);
    EXPECT_TRUE(names.empty());
    EXPECT_THROW(demoLink.ChangeDirectory("/Elsewhere"), EFtpReplyError);
    EXPECT_FALSE(fs::exists(demoRoot / "Elsewhere"));
    demoLink.CloseControl();
}

TEST_F(FtpRealServer, ResumeFetchesOnlyTheRest)
{
    Pattern pattern;
    std::string whole(300000, '\0');
    pattern.fill(0, whole.data(), whole.size());
    fs::create_directories(root_ / "Claim" / "Download3" / "BR");
    test::writeFile(root_ / "Claim" / "Download3" / "BR" / "12345678.Zip", whole);
    const fs::path local = local_ / "12345678.Zip";
    test::writeFile(local, whole.substr(0, 123457));

    TFtpLink link;
    aim(link);
    std::uint64_t moved = 0;
    link.OnProgress = [&](const TTransferProgress& p) { moved = p.Done; };
    link.OpenControl(true);
    link.ChangeDirectory("Claim/Download3/BR");
    link.RetrieveFile("12345678.Zip", local.string(), false, true);
    EXPECT_EQ(moved, whole.size() - 123457);
    EXPECT_TRUE(test::readFile(local) == whole);
    link.CloseControl();
}

TEST_F(FtpRealServer, LargeFileStreamsBothWaysInFlatMemory)
{
    constexpr std::uint64_t Size = 200ull * 1024 * 1024;
    Pattern pattern;
    for (const bool passive : {false, true}) {
        SCOPED_TRACE(passive ? "passive" : "active");
        TFtpLink link;
        aim(link, passive);
        link.OpenControl(true);
        fs::create_directories(root_ / "Claim" / "Big");
        link.ChangeDirectory("Claim/Big");
        std::uint64_t reported = 0;
        link.OnProgress = [&](const TTransferProgress& p) { reported = p.Done; };
        PatternSource source(pattern, Size);
        link.TransferOut("STOR big.bin", source);
        EXPECT_EQ(reported, Size);
        EXPECT_EQ(fs::file_size(root_ / "Claim" / "Big" / "big.bin"), Size);

        PatternCheck check(pattern);
        link.TransferIn("RETR big.bin", check);
        EXPECT_EQ(check.count, Size);
        EXPECT_TRUE(check.intact);
        link.RemoveFile("big.bin");
        link.CloseControl();
    }
    EXPECT_LT(peakResidentBytes(), 64ull * 1024 * 1024);
}

} // namespace
} // namespace tevrak
