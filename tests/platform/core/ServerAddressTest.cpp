// Where the insurer's server is read from: environment, the user's registry
// file, the workstation's registry file, the built-in address, in that order.

#include "platform/core/Registry.h"
#include "platform/core/ServerAddress.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <cstdlib>

namespace tevrak::platform {
namespace {

class ServerAddressTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        systemFolders = QString::fromStdString(test::temporaryBase()) + "/xdg-system";
        previousSystemFolders = qgetenv("XDG_CONFIG_DIRS");
        QDir(systemFolders).removeRecursively();
        ::setenv("XDG_CONFIG_DIRS", (systemFolders + "/first:" + systemFolders + "/second").toUtf8().constData(), 1);
        ::unsetenv("TEVRAK_FTP_HOST");
        ::unsetenv("TEVRAK_FTP_PORT");
        QFile::remove(registry::registryFile());
    }
    void TearDown() override
    {
        ::setenv("XDG_CONFIG_DIRS", previousSystemFolders.constData(), 1);
        ::unsetenv("TEVRAK_FTP_HOST");
        ::unsetenv("TEVRAK_FTP_PORT");
        QFile::remove(registry::registryFile());
    }

    QByteArray previousSystemFolders;

    static void write(const QString& file, const QByteArray& text)
    {
        QDir().mkpath(QFileInfo(file).path());
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    }
    QString systemFile(const char* folder) const { return systemFolders + "/" + folder + "/Tevrak/registry.ini"; }

    QString systemFolders;
};

TEST_F(ServerAddressTest, NothingSetGivesTheBuiltInAddress)
{
    EXPECT_EQ(ftpHost(), "203.0.113.10");
    EXPECT_EQ(ftpPort(), 21);
    EXPECT_EQ(registry::systemRegistryFile(), QString());
}

TEST_F(ServerAddressTest, EachPlaceCountsOnlyWhereTheOnesBeforeItSetNothing)
{
    write(systemFile("second"), "[Server]\nHost=ignored.example\nPort=1\n"); // a later folder of the list
    write(systemFile("first"), "[Server]\nHost=workstation.example\nPort=2121\n");
    EXPECT_EQ(registry::systemRegistryFile(), systemFile("first"));
    EXPECT_EQ(ftpHost(), "workstation.example");
    EXPECT_EQ(ftpPort(), 2121);

    // The user's file holds the garage name too; its server values come first,
    // host and port together: the workstation's port never goes with the user's host.
    write(registry::registryFile(),
          "[SOFTWARE]\nSarvello\\Garage%20Name=GarageOne\n[Server]\nHost=user.example\n");
    EXPECT_EQ(ftpHost(), "user.example");
    EXPECT_EQ(ftpPort(), 21); // the user set no port: the built-in one
    EXPECT_EQ(serverAddress().source, registry::registryFile());
    EXPECT_EQ(registry::readString(registry::sarvelloKey, registry::garageNameValue), "GarageOne");

    ::setenv("TEVRAK_FTP_PORT", "2200", 1);
    EXPECT_EQ(ftpHost(), "203.0.113.10"); // the environment set only a port
    EXPECT_EQ(ftpPort(), 2200);
    ::setenv("TEVRAK_FTP_HOST", "127.0.0.1", 1);
    EXPECT_EQ(ftpHost(), "127.0.0.1");
}

TEST_F(ServerAddressTest, APortThatIsNoPortIsReportedNamingThePlaceAndTheKey)
{
    write(systemFile("first"), "[Server]\nPort=990\n");
    int written = 0;
    for (const char* bad : {"0", "65536", "ftp", "-21"}) {
        // Of a new size each time: the settings reader knows a file again by its time and size.
        write(registry::registryFile(), QByteArray("[Server]\nPort=") + bad + "\n" + QByteArray(++written, '#'));
        const ServerAddress address = serverAddress();
        EXPECT_TRUE(address.problem.contains(registry::registryFile())) << address.problem.toStdString();
        EXPECT_TRUE(address.problem.contains("Server/Port")) << address.problem.toStdString();
        EXPECT_TRUE(address.problem.contains(QLatin1String(bad))) << address.problem.toStdString();
        ::setenv("TEVRAK_FTP_PORT", bad, 1);
        EXPECT_TRUE(serverAddress().problem.contains("TEVRAK_FTP_PORT")) << bad;
        ::unsetenv("TEVRAK_FTP_PORT");
    }
    QFile::remove(registry::registryFile());
    EXPECT_EQ(serverAddress().problem, QString());
    EXPECT_EQ(ftpPort(), 990);
}

TEST_F(ServerAddressTest, EncryptionAndLoginComeFromTheFirstPlaceThatSetsThem)
{
    ::unsetenv("TEVRAK_FTP_ENCRYPTION");
    ServerSecurity nothing = serverSecurity();
    EXPECT_EQ(nothing.encryption, Encryption::IfOffered);
    EXPECT_EQ(nothing.user, "online");
    EXPECT_EQ(nothing.password, "tuvorplex");
    EXPECT_EQ(nothing.problem, QString());

    write(systemFile("first"),
          "[Server]\nEncryption=Required\nCertificateFile=/etc/ssl/insurer.pem\nUser=garage7\nPassword=s3cret\n");
    ServerSecurity workstation = serverSecurity();
    EXPECT_EQ(workstation.encryption, Encryption::Required);
    EXPECT_EQ(workstation.certificateFile, "/etc/ssl/insurer.pem");
    EXPECT_EQ(workstation.user, "garage7");
    EXPECT_EQ(workstation.password, "s3cret");
    EXPECT_EQ(workstation.problem, QString()); // the administrator's file is not the user's

    // The user's own login, readable by others: refused with the reason; user and
    // password never mix between files.
    write(registry::registryFile(), "[Server]\nEncryption=off\nUser=mine\nPassword=open\n");
    QFile::setPermissions(registry::registryFile(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                        QFileDevice::ReadGroup | QFileDevice::ReadOther);
    ServerSecurity readable = serverSecurity();
    EXPECT_EQ(readable.encryption, Encryption::Off);
    EXPECT_EQ(readable.user, "mine");
    EXPECT_TRUE(readable.problem.contains(registry::registryFile())) << readable.problem.toStdString();
    EXPECT_TRUE(readable.problem.contains("chmod 600")) << readable.problem.toStdString();
    QFile::setPermissions(registry::registryFile(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    EXPECT_EQ(serverSecurity().problem, QString());
    EXPECT_EQ(serverSecurity().password, "open");

    ::setenv("TEVRAK_FTP_ENCRYPTION", "sometimes", 1);
    EXPECT_TRUE(serverSecurity().problem.contains("TEVRAK_FTP_ENCRYPTION"));
    ::setenv("TEVRAK_FTP_ENCRYPTION", "Required", 1);
    EXPECT_EQ(serverSecurity().encryption, Encryption::Required);
}

} // namespace
} // namespace tevrak::platform
