// The first start on a new account, and the program's command line.

#include "app/Workstation.h"
#include "mainwindow/PictureU.h"
#include "platform/core/Registry.h"
#include "support/RecordingDialogs.h"
#include "support/TestDatabase.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

#include <cstdlib>

using namespace tevrak;

namespace {

const QStringList tableFiles{"Expense.DB", "Expense.PX", "Expense2.DB", "Expense2.PX", "Status.DB",
                             "Tevrak.DB",  "Tevrak2.DB", "Tevrak2.PX",  "USER.db"};

class FirstStartTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        drive = QString::fromStdString(test::driveCFolder());
        QDir(drive).removeRecursively();
        QFile::remove(platform::registry::registryFile());
        platform::registry::writeString(platform::registry::sarvelloKey, platform::registry::garageNameValue,
                                        QStringLiteral("GarageOne"));
    }
    void TearDown() override
    {
        QFile::remove(drive);
        test::freshTestDatabase();
    }

    QString drive;
    test::RecordingDialogs dialogs;
};

TEST_F(FirstStartTest, ANewAccountGetsItsFoldersAndTablesAndIsToldOnce)
{
    {
        Workstation workstation;
        workstation.start(0);
        ASSERT_EQ(dialogs.messages.size(), 1u) << dialogs.texts().join(" | ").toStdString();
        EXPECT_EQ(dialogs.last().icon, platform::MessageIcon::Information);
        EXPECT_TRUE(dialogs.last().text.contains(drive)) << dialogs.last().text.toStdString();
        ASSERT_NE(workstation.picture(), nullptr);
        EXPECT_EQ(workstation.picture()->values().GarageName, "GarageOne") << "the main window's start-up failed";
    }
    for (const char* folder : {"picture/transfer", "claim/db", "LOAD/ALL"})
        EXPECT_TRUE(QDir(drive + "/" + folder).exists()) << folder;
    QStringList made = QDir(test::databaseFolder()).entryList(QDir::Files, QDir::Name);
    EXPECT_EQ(made, tableFiles);

    Workstation again;
    again.start(0);
    EXPECT_EQ(dialogs.messages.size(), 1u) << dialogs.texts().join(" | ").toStdString();
}

TEST_F(FirstStartTest, AnEmptyDatabaseFolderIsNotAFirstStart)
{
    QDir().mkpath(test::databaseFolder());
    Workstation workstation;
    workstation.start(0);
    ASSERT_FALSE(dialogs.messages.empty());
    for (const platform::Message& message : dialogs.messages) {
        EXPECT_EQ(message.icon, platform::MessageIcon::Error);
        EXPECT_TRUE(message.text.startsWith("ไม่พบตาราง\n" + test::databaseFolder()))
            << message.text.toStdString();
    }
    EXPECT_TRUE(QDir(test::databaseFolder()).isEmpty());
}

TEST_F(FirstStartTest, AWorkstationThatCannotBeMadeIsReportedAndTheStartGoesOn)
{
    QFile blocker(drive); // drive C: is a file
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    Workstation workstation;
    workstation.start(0);
    ASSERT_GE(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages.front().icon, platform::MessageIcon::Error);
    EXPECT_TRUE(dialogs.messages.front().text.contains("สร้างโฟลเดอร์ไม่ได้"))
        << dialogs.messages.front().text.toStdString();
    EXPECT_NE(workstation.mainForm(), nullptr);
}

struct ProgramRun {
    int exitCode = -1;
    QString out;
    QString err;
};

// The installed program as a shell starts it, without any display.
ProgramRun runProgram(const QStringList& arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(name);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(TEVRAK_PROGRAM), arguments);
    ProgramRun run;
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

TEST(CommandLineTest, VersionAndHelpPrintAndEndWithoutADisplay)
{
    const ProgramRun version = runProgram({"--version"});
    EXPECT_EQ(version.exitCode, 0) << version.err.toStdString();
    EXPECT_EQ(version.out, QStringLiteral("tevrak " TEVRAK_VERSION "\n"));

    const ProgramRun help = runProgram({"--help"});
    EXPECT_EQ(help.exitCode, 0) << help.err.toStdString();
    EXPECT_TRUE(help.out.startsWith("วิธีใช้: tevrak [--help | --version]\n")) << help.out.toStdString();
    EXPECT_TRUE(help.out.contains("registry.ini")) << help.out.toStdString();
    EXPECT_TRUE(help.err.isEmpty()) << help.err.toStdString();
}

TEST(CommandLineTest, AnyOtherArgumentIsRefusedWithTheUsageLine)
{
    for (const QStringList& arguments :
         {QStringList{"--verbose"}, QStringList{"photo.jpg"}, QStringList{"-platform", "offscreen"},
          QStringList{"--version", "--help"}}) {
        const ProgramRun run = runProgram(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
        EXPECT_TRUE(run.err.contains("วิธีใช้: tevrak [--help | --version]")) << run.err.toStdString();
    }
}

TEST(CaptionTest, TheCaptionShowsTheServerAddressInUse)
{
    ::setenv("TEVRAK_FTP_HOST", "ftp.branch.example", 1);
    const QString caption = TPicture::caption();
    ::unsetenv("TEVRAK_FTP_HOST");
    EXPECT_EQ(caption, QStringLiteral("บริษัท Norvathaประกันภัย จำกัด [ Tevrak หาดใหญ่สาขา ADSL ftp.branch.example ] "));
}

TEST(SingleInstanceTest, TwoStartsAtOnceOnOneWorkstationLeaveOneProgramRunning)
{
    test::freshTestDatabase();
    platform::registry::writeString(platform::registry::sarvelloKey, platform::registry::garageNameValue,
                                    QStringLiteral("อู่สมชาย"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess first, second;
    for (QProcess* process : {&first, &second}) {
        process->setProcessEnvironment(environment);
        process->start(QStringLiteral(TEVRAK_PROGRAM), {});
    }
    // The one that finds the workstation taken says so (and waits on its
    // message box); the other goes on as if it were alone.
    const QString alreadyRunning = QStringLiteral("เปิดอยู่แล้ว");
    QString said[2];
    QProcess* refused = nullptr;
    for (int waited = 0; waited < 200 && !refused; ++waited) {
        first.waitForReadyRead(50);
        second.waitForReadyRead(50);
        said[0] += QString::fromUtf8(first.readAllStandardError());
        said[1] += QString::fromUtf8(second.readAllStandardError());
        if (said[0].contains(alreadyRunning))
            refused = &first;
        else if (said[1].contains(alreadyRunning))
            refused = &second;
    }
    ASSERT_NE(refused, nullptr) << "neither start was refused";
    QProcess* running = refused == &first ? &second : &first;
    refused->kill();
    refused->waitForFinished();
    EXPECT_FALSE(running->waitForFinished(1500));
    EXPECT_EQ(running->state(), QProcess::Running);
    EXPECT_FALSE(QString::fromUtf8(running->readAllStandardError()).contains(alreadyRunning));
    EXPECT_FALSE(said[refused == &first ? 1 : 0].contains(alreadyRunning));
    running->kill();
    running->waitForFinished();
    // Its lock went with it (killed): the next start on the workstation is not refused.
    QProcess third;
    third.setProcessEnvironment(environment);
    third.start(QStringLiteral(TEVRAK_PROGRAM), {});
    EXPECT_FALSE(third.waitForFinished(1500));
    EXPECT_FALSE(QString::fromUtf8(third.readAllStandardError()).contains(alreadyRunning));
    third.kill();
    third.waitForFinished();
}

} // namespace
