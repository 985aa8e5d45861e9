#include "platform/Cp874.h"
#include "platform/Dialogs.h"
#include "platform/DriveC.h"
#include "platform/Error.h"
#include "platform/FileSystem.h"
#include "platform/Registry.h"
#include "platform/StagedCopy.h"
#include "support/RecordingDialogs.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
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
