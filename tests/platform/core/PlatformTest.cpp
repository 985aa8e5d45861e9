#include "platform/core/Cp874.h"
#include "platform/widgets/Dialogs.h"
#include "platform/core/DriveC.h"
#include "platform/core/Error.h"
#include "platform/core/FileSystem.h"
#include "platform/core/Registry.h"
#include "platform/core/ServerAddress.h"
#include "platform/core/StagedCopy.h"
#include "support/RecordingDialogs.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tevrak;
using namespace tevrak::platform;

namespace {

QString root() { return QString::fromStdString(test::driveCFolder()); }

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

class PlatformTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir(root()).removeRecursively();
        QDir().mkpath(root());
    }
};

}  // namespace

TEST_F(PlatformTest, DriveCPathsResolveEachComponentWithoutRegardToCase)
{
    QDir().mkpath(root() + "/Picture/AB123456");
    EXPECT_EQ(localPath("c:\\picture\\ab123456"), root() + "/Picture/AB123456");
    EXPECT_EQ(localPath("C:\\PICTURE\\transfer"), root() + "/Picture/transfer");  // missing part keeps its spelling
    EXPECT_EQ(localPath("c:\\picture\\ab123456\\x.JPG"), root() + "/Picture/AB123456/x.JPG");
    EXPECT_EQ(localPath("c:\\"), root());
    // The exact spelling wins when two names differ only in case.
    QDir().mkpath(root() + "/picture");
    EXPECT_EQ(localPath("c:\\picture"), root() + "/picture");
}

TEST_F(PlatformTest, FileListsMatchWithoutRegardToCaseSortAndLeaveOutHiddenFilesAndFolders)
{
    for (const char* name : {"b.JPG", "A.gif", "c.jpg", ".hidden.jpg", "notes.txt", "d.jpeg"})
        writeFile(root() + "/picture/" + name, "x");
    QDir().mkpath(root() + "/picture/folder.jpg");
    const QStringList names = listFiles("c:\\picture\\*.jpg;c:\\picture\\*.gif");
    EXPECT_EQ(names, QStringList({"A.gif", "b.JPG", "c.jpg"}));
    EXPECT_TRUE(listFiles("c:\\missing\\*.jpg").isEmpty());
}

TEST_F(PlatformTest, CopyReplacesAndMoveNeverReplaces)
{
    writeFile(root() + "/a.txt", "new");
    writeFile(root() + "/b.txt", "old and longer");
    EXPECT_TRUE(copyFile("c:\\A.TXT", "c:\\b.txt"));
    QFile b(root() + "/b.txt");
    ASSERT_TRUE(b.open(QIODevice::ReadOnly));
    EXPECT_EQ(b.readAll(), "new");
    EXPECT_FALSE(moveFile("c:\\a.txt", "c:\\b.txt"));
    EXPECT_TRUE(QFile::exists(root() + "/a.txt"));
    EXPECT_FALSE(copyFile("c:\\missing.txt", "c:\\c.txt"));
}

TEST(Cp874Test, ThaiTextIsOneBytePerCharacterAndOtherScriptsAreRefused)
{
    const auto bytes = cp874::encode(QStringLiteral("สาขาหาดใหญ่"));
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(bytes->size(), 11);
    EXPECT_EQ(static_cast<unsigned char>(bytes->at(0)), 0xCA);  // ส
    EXPECT_EQ(cp874::decode(*bytes), QStringLiteral("สาขาหาดใหญ่"));
    EXPECT_FALSE(cp874::canEncode(QStringLiteral("東京")));
    EXPECT_TRUE(cp874::canEncode(QStringLiteral("Claim 1234 €")));  // the euro sign is 0x80 in CP874
}

TEST(RegistryTest, GarageNameReadsEmptyWhenMissingAndRoundTrips)
{
    using namespace registry;
    QFile::remove(registryFile());
    EXPECT_EQ(readString(sarvelloKey, garageNameValue), QString());
    createKey(sarvelloKey);
    EXPECT_EQ(readString(sarvelloKey, garageNameValue), QString());
    writeString(sarvelloKey, garageNameValue, QStringLiteral("อู่ช่างเอก"));
    EXPECT_EQ(readString(sarvelloKey, garageNameValue), QStringLiteral("อู่ช่างเอก"));
    EXPECT_TRUE(registryFile().startsWith(qEnvironmentVariable("XDG_CONFIG_HOME")));
}

TEST(DialogsTest, ErrorBoxAddsAFullStopAndGuardKeepsErrorsInsideTheHandler)
{
    test::RecordingDialogs dialogs;
    setApplicationTitle(QStringLiteral("Tevrak หาดใหญ่ ADSL"));
    bool after = false;
    guard([&] {
        throw Error(QStringLiteral("Table does not exist"));
        after = true;
    });
    EXPECT_FALSE(after);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.last().text, QStringLiteral("Table does not exist."));
    EXPECT_EQ(dialogs.last().caption, QStringLiteral("Tevrak หาดใหญ่ ADSL"));
    EXPECT_EQ(dialogs.last().icon, MessageIcon::Error);
    showErrorBox(QStringLiteral("Already ends."));
    EXPECT_EQ(dialogs.last().text, QStringLiteral("Already ends."));
}

TEST_F(PlatformTest, StagedCopyShowsNothingUnderTheFinalNameUntilCommitted)
{
    writeFile(root() + "/in.jpg", QByteArray(300000, 'p'));
    const QString target = root() + "/out/12345678001.jpg";
    QDir().mkpath(root() + "/out");
    {
        StagedCopy copy(root() + "/in.jpg", target);
        EXPECT_FALSE(QFile::exists(target));
        EXPECT_EQ(QDir(root() + "/out").entryList(QDir::Files | QDir::Hidden).size(), 1);
        copy.commit();
    }
    EXPECT_EQ(QFileInfo(target).size(), 300000);
    EXPECT_EQ(QDir(root() + "/out").entryList(QDir::Files | QDir::Hidden), QStringList({"12345678001.jpg"}));

    {
        StagedCopy discarded(root() + "/in.jpg", root() + "/out/other.jpg");
    }
    EXPECT_EQ(QDir(root() + "/out").entryList(QDir::Files | QDir::Hidden), QStringList({"12345678001.jpg"}));
}

TEST_F(PlatformTest, StagedCopyFailsClearlyWhenTheDestinationCannotBeWritten)
{
    writeFile(root() + "/in.jpg", "photo");
    writeFile(root() + "/blocker", "a plain file where a folder should be");
    try {
        StagedCopy copy(root() + "/in.jpg", root() + "/blocker/x.jpg");
        FAIL() << "the copy into a plain file's 'folder' succeeded";
    } catch (const Error& error) {
        EXPECT_FALSE(error.message().isEmpty());
    }
    EXPECT_THROW(StagedCopy(root() + "/vanished.jpg", root() + "/x.jpg"), Error);
    EXPECT_FALSE(QFile::exists(root() + "/x.jpg"));
}

TEST_F(PlatformTest, AFailedStagedCopyNamesTheFileAndTheFolder)
{
    writeFile(root() + "/in.jpg", "photo");
    // A folder stands at the target's name: the copy is made, its rename fails.
    const QString outbox = root() + "/outbox";
    QDir().mkpath(outbox + "/Tevrak2.DB");
    StagedCopy copy(root() + "/in.jpg", outbox + "/Tevrak2.DB");
    try {
        copy.commit();
        FAIL() << "a file was renamed over a folder";
    } catch (const Error& error) {
        EXPECT_TRUE(error.message().contains("Tevrak2.DB")) << error.what();
        EXPECT_TRUE(error.message().contains(outbox)) << error.what();
        EXPECT_TRUE(error.message().contains(QString::fromLocal8Bit(std::strerror(EISDIR)))) << error.what();
    }
    // A source that is gone names the source and the folder.
    try {
        StagedCopy missing(root() + "/vanished.jpg", outbox + "/x.jpg");
        FAIL() << "a missing file was copied";
    } catch (const Error& error) {
        EXPECT_TRUE(error.message().contains("vanished.jpg")) << error.what();
        EXPECT_TRUE(error.message().contains(outbox)) << error.what();
    }
}

TEST_F(PlatformTest, AStagedCopyKeepsTheSourcesTimeAndGetsTheModeOfANewFile)
{
    const QString source = root() + "/scan.gif";
    writeFile(source, "GIF89a scanned");
    ::chmod(QFile::encodeName(source).constData(), 0600);
    const struct timespec scanned[2] = {{1700000000, 0}, {1600000000, 123456789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(source).constData(), scanned, 0), 0);
    const mode_t previousMask = ::umask(027);
    {
        StagedCopy copy(source, root() + "/12345678800.gif");
        copy.commit();
    }
    ::umask(previousMask);
    struct stat copied {};
    ASSERT_EQ(::stat(QFile::encodeName(root() + "/12345678800.gif").constData(), &copied), 0);
    EXPECT_EQ(copied.st_mtim.tv_sec, 1600000000);
    EXPECT_EQ(copied.st_mtim.tv_nsec, 123456789);
    EXPECT_EQ(copied.st_mode & 07777, 0640u);
}

TEST_F(PlatformTest, StagedCopyOnAFullDiskLeavesNoPartialFile)
{
    writeFile(root() + "/big.jpg", QByteArray(2 << 20, 'b'));
    QDir().mkpath(root() + "/out");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A file-size limit stands in for a disk that fills up during the copy.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{1 << 20, 1 << 20};
        setrlimit(RLIMIT_FSIZE, &limit);
        try {
            StagedCopy copy(root() + "/big.jpg", root() + "/out/big.jpg");
            copy.commit();
            _exit(1);
        } catch (const Error&) {
            _exit(0);
        }
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the copy did not report the full disk";
    EXPECT_TRUE(QDir(root() + "/out").entryList(QDir::Files | QDir::Hidden).isEmpty());
}

// Run in this order: the second checks that the first one's removal of the
// pin does not outlive it.
TEST(TestEnvironmentTest, TheFtpServerIsALoopbackPortWhereNothingListens)
{
    EXPECT_EQ(ftpHost(), QString::fromLatin1(test::loopbackNowhere));
    EXPECT_EQ(ftpPort(), test::closedFtpPort());
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(ftpPort()));
    ASSERT_EQ(::inet_pton(AF_INET, ftpHost().toLatin1().constData(), &address.sin_addr), 1);
    EXPECT_NE(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(errno, ECONNREFUSED);
    ::close(fd);
    // A test done with its own server removes the variables.
    ::unsetenv("TEVRAK_FTP_HOST");
    ::unsetenv("TEVRAK_FTP_PORT");
    EXPECT_EQ(ftpHost(), builtInFtpHost);
}

TEST(TestEnvironmentTest, TheNextTestStartsPinnedAgain)
{
    EXPECT_EQ(ftpHost(), QString::fromLatin1(test::loopbackNowhere));
    EXPECT_EQ(ftpPort(), test::closedFtpPort());
}
