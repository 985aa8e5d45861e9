// The server exchange through its session form and windows, against the stand-in
// server (pyftpdlib on loopback).

#include "exchange/ConnectionRouter.h"
#include "exchange/forms/CopyfU.h"
#include "exchange/session/DownloadNames.h"
#include "exchange/ExchangeTestSupport.h"
#include "exchange/forms/LoginU.h"
#include "exchange/forms/ExchangeForms.h"
#include "platform/core/FileSystem.h"
#include "platform/core/ServerAddress.h"
#include "startup/RegisterF2U.h"
#include "support/QtPrinting.h"
#include "support/RecordingDialogs.h"
#include "support/ScriptedFtpPeer.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDate>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace tevrak {
namespace {

using namespace test;
using Step = ScriptedFtpPeer::Step;

const QString garage = QStringLiteral("อู่สมชาย");
const QString branch = QStringLiteral("สาขาหาดใหญ่");


class ExchangeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        cleanWorkstation();
        forms.Copyf = &copyf;
        forms.RegisterF2 = &branchForm;
    }

    fs::path garageFolder(const std::string& root) const { return fs::path(root) / "Claim" / cp874(garage); }
    fs::path branchFolder(const std::string& root, const QString& name = branch) const
    {
        return fs::path(root) / "Claim" / "Download3" / cp874(name);
    }

    // The stand-in server with the garage's and the branch's folders, as the
    // insurer sets them up (the server creates none of its own).
    int startServer(LocalFtpServer& server, const std::string& root, const std::vector<std::string>& options = {})
    {
        fs::create_directories(garageFolder(root));
        fs::create_directories(branchFolder(root));
        return server.start(root, options);
    }

    // The session form pointed at the test's server.
    std::unique_ptr<TLogin> loginTo(int port)
    {
        auto login = std::make_unique<TLogin>(garage, forms);
        login->FtpLink1().Host = "127.0.0.1";
        login->FtpLink1().Port = port;
        login->session().ReadTimeout = 5000;
        return login;
    }

    TCopyf copyf;
    TRegisterF2 branchForm;
    exchange::ExchangeForms forms;
    RecordingDialogs dialogs;
};

TEST_F(ExchangeTest, SendsTheOutboxAndFetchesTheBranchFiles)
{
    LocalFtpServer server;
    const std::string root = freshServerRoot();
    const int port = startServer(server, root);
    writeBranchFile(branch);
    writeBytes(outboxFile("B.jpg"), "jpeg B");
    writeBytes(outboxFile("a.zip"), "zip a");
    writeBytes(outboxFile("c.JPG"), "jpeg c");
    writeBytes(outboxFile("Tevrak2.DB"), "table");
    writeBytes(outboxFile("Tevrak2.PX"), "index");
    writeBytes(outboxFile("note.txt"), "not for the server");
    writeBytes(outboxFile("12345678800.gif"), "gif travels only zipped");
    writeServerFile(garageFolder(root) / "B.jpg", "jpeg"); // an upload broken off earlier
    const std::string thaiName = cp874(QStringLiteral("ใบสั่งซ่อม.txt"));
    writeServerFile(branchFolder(root) / "report.pdf", "%PDF report");
    writeServerFile(branchFolder(root) / thaiName, "Thai-named download");
    writeBytes(local("c:\\LOAD\\ALL\\report.pdf"), "an older report");

    auto login = loginTo(port);
    login->BitBtn1Click();

    ASSERT_TRUE(login->outcome().succeeded) << login->session().failure().toStdString();
    // Uploads: every matching file in case-insensitive name order; the rest stays.
    EXPECT_EQ(serverNames(garageFolder(root)),
              (std::vector<std::string>{"B.jpg", "Tevrak2.DB", "Tevrak2.PX", "a.zip", "c.JPG"}));
    EXPECT_EQ(readServerFile(garageFolder(root) / "B.jpg"), "jpeg B"); // completed, not appended whole
    EXPECT_EQ(readServerFile(garageFolder(root) / "a.zip"), "zip a");
    EXPECT_EQ(readServerFile(garageFolder(root) / "Tevrak2.PX"), "index");
    EXPECT_EQ(platform::listFiles(platform::paths::outbox + "\\*.*"),
              (QStringList{"12345678800.gif", "note.txt"}));
    // The progress window ran to the end of the downloads' bytes and is gone.
    EXPECT_EQ(copyf.ProgressBar1->value(), copyf.ProgressBar1->maximum());
    EXPECT_FALSE(copyf.isVisible());
    EXPECT_EQ(copyf.Label2->text(), QStringLiteral("รับไฟล์จากสาขา ไปที่ c:\\LOAD"));
    EXPECT_EQ(copyf.PlaceLabel->text(), QStringLiteral("ไฟล์ที่ 2 / 2"));
    // Downloads: into the day folder and ALL (beside the older, different copy there, which stays),
    // gone from the server, opened.
    const QString thai = QStringLiteral("ใบสั่งซ่อม.txt");
    EXPECT_EQ(readBytes(dayFolder() + "/report.pdf"), "%PDF report");
    EXPECT_EQ(readBytes(dayFolder() + "/" + thai), "Thai-named download");
    EXPECT_EQ(readBytes(local("c:\\LOAD\\ALL\\report.pdf")), "an older report");
    EXPECT_EQ(readBytes(local("c:\\LOAD\\ALL\\report (2).pdf")), "%PDF report");
    EXPECT_EQ(readBytes(local("c:\\LOAD\\ALL\\" + thai)), "Thai-named download");
    EXPECT_TRUE(serverNames(branchFolder(root)).empty());
    EXPECT_EQ(dialogs.openedDocuments.size(), 2);
    EXPECT_TRUE(dialogs.openedDocuments.contains(dayFolder() + "/report.pdf"));
    EXPECT_EQ(dialogs.openedInFolders.value(0), dayFolder());
    EXPECT_TRUE(dialogs.messages.empty()); // the exchange itself shows nothing

    // A second exchange: empty outbox, empty branch folder; the bar starts again at 0.
    auto again = loginTo(port);
    again->BitBtn1Click();
    EXPECT_TRUE(again->outcome().succeeded) << again->session().failure().toStdString();
    EXPECT_EQ(copyf.ProgressBar1->value(), 0);
    EXPECT_EQ(dialogs.openedDocuments.size(), 2);
}

TEST_F(ExchangeTest, ServerWithoutWildcardListingStillDeliversWaitingFiles)
{
    // Like plain pyftpdlib, vsftpd-less sites and pure-ftpd: "NLST *.*" is answered 550.
    LocalFtpServer server;
    const std::string root = freshServerRoot();
    const int port = startServer(server, root, {"--plain-nlst"});
    writeBranchFile(branch);
    writeServerFile(branchFolder(root) / "quote.xls", "quote");

    auto login = loginTo(port);
    login->BitBtn1Click();
    ASSERT_TRUE(login->outcome().succeeded) << login->session().failure().toStdString();
    EXPECT_EQ(readBytes(dayFolder() + "/quote.xls"), "quote");
    EXPECT_TRUE(serverNames(branchFolder(root)).empty());

    // And with nothing waiting the exchange succeeds too.
    auto again = loginTo(port);
    again->BitBtn1Click();
    EXPECT_TRUE(again->outcome().succeeded) << again->session().failure().toStdString();
}

TEST_F(ExchangeTest, MissingBranchFileAsksForTheBranchAfterTheUploads)
{
    LocalFtpServer server;
    const std::string root = freshServerRoot();
    const int port = startServer(server, root);
    writeBytes(outboxFile("12345678001.jpg"), "photo");
    const QString chosen = QStringLiteral("สาขาภูเก็ต");
    writeServerFile(branchFolder(root, chosen) / "memo.txt", "for Phuket");
    bool uploadedFirst = false;
    dialogs.answerNextModal([&](QWidget& form) {
        uploadedFirst = !QFile::exists(outboxFile("12345678001.jpg"));
        auto& registration = dynamic_cast<TRegisterF2&>(form);
        registration.ComboBox1->setEditText(chosen);
        registration.Button1Click();
        return 1;
    });

    auto login = loginTo(port);
    login->BitBtn1Click();
    ASSERT_TRUE(login->outcome().succeeded) << login->session().failure().toStdString();
    EXPECT_EQ(dialogs.modalForms.size(), 1);
    EXPECT_TRUE(uploadedFirst);
    EXPECT_EQ(readBytes(local(platform::paths::branchFile)), platform::cp874::encode(chosen).value());
    EXPECT_EQ(readBytes(dayFolder() + "/memo.txt"), "for Phuket");
}

TEST_F(ExchangeTest, FailuresBeforeTheUploadsLeaveTheOutboxUntouched)
{
    writeBranchFile(branch);
    writeBytes(outboxFile("12345678001.jpg"), "photo");

    // Server down.
    auto down = loginTo(closedFtpPort());
    down->BitBtn1Click();
    EXPECT_FALSE(down->outcome().succeeded);
    EXPECT_FALSE(down->session().failure().isEmpty());

    LocalFtpServer server;
    const std::string root = freshServerRoot();
    const int port = server.start(root);
    // Login refused.
    auto refused = loginTo(port);
    refused->Edit2->setText("wrong");
    refused->BitBtn1Click();
    EXPECT_FALSE(refused->outcome().succeeded);
    EXPECT_TRUE(refused->session().failure().contains("530")) << refused->session().failure().toStdString();

    // A garage folder that cannot be entered (a file stands where it should be).
    writeServerFile(garageFolder(root), "not a folder");
    auto noFolder = loginTo(port);
    noFolder->BitBtn1Click();
    EXPECT_FALSE(noFolder->outcome().succeeded);
    EXPECT_TRUE(noFolder->session().failure().contains("550") ||
                noFolder->session().failure().contains("directory", Qt::CaseInsensitive))
        << noFolder->session().failure().toStdString();

    EXPECT_TRUE(QFile::exists(outboxFile("12345678001.jpg")));
    EXPECT_FALSE(QDir(local(platform::paths::load) + "/ALL").exists()); // the download phase never ran
    EXPECT_FALSE(copyf.isVisible());
    EXPECT_TRUE(dialogs.messages.empty());
}

// --- what the server already holds, against the stand-in server ---------------

TEST_F(ExchangeTest, AFileTheServerHoldsIsCompletedSkippedOrLeftAlone)
{
    LocalFtpServer server;
    const std::string root = freshServerRoot();
    const int port = startServer(server, root);
    writeBranchFile(branch);
    const QByteArray photo(300000, 'p');
    const QByteArray same = photo + "same";
    writeBytes(outboxFile("11111111001.jpg"), photo);  // the server has its first half
    writeBytes(outboxFile("22222222001.jpg"), same);   // the server has it whole
    writeBytes(outboxFile("33333333001.jpg"), "our photo");
    writeBytes(outboxFile("44444444001.jpg"), "goes up past the conflict");
    writeServerFile(garageFolder(root) / "11111111001.jpg", photo.left(150000).toStdString());
    writeServerFile(garageFolder(root) / "22222222001.jpg", same.toStdString());
    writeServerFile(garageFolder(root) / "33333333001.jpg", "another garage's photo");
    const auto before = fs::last_write_time(garageFolder(root) / "22222222001.jpg");

    auto login = loginTo(port);
    login->BitBtn1Click();
    EXPECT_FALSE(login->outcome().succeeded);
    const QString reason = login->session().failure();
    EXPECT_TRUE(reason.startsWith("ส่งไฟล์ไม่สำเร็จ: บนเซิร์ฟเวอร์มีไฟล์อื่นชื่อเดียวกันอยู่แล้ว")) << reason.toStdString();
    EXPECT_TRUE(reason.contains("\n    33333333001.jpg: ")) << reason.toStdString();
    EXPECT_EQ(QByteArray::fromStdString(readServerFile(garageFolder(root) / "11111111001.jpg")), photo);
    EXPECT_EQ(fs::last_write_time(garageFolder(root) / "22222222001.jpg"), before); // not sent again
    EXPECT_EQ(readServerFile(garageFolder(root) / "33333333001.jpg"), "another garage's photo");
    // One file the exchange cannot send does not hold back the others.
    EXPECT_EQ(readServerFile(garageFolder(root) / "44444444001.jpg"), "goes up past the conflict");
    EXPECT_EQ(platform::listFiles(platform::paths::outbox + "\\*.*"), QStringList{"33333333001.jpg"});
    // Nothing of the comparison is left behind, here or on the server.
    EXPECT_EQ(QDir(local(platform::paths::outbox)).entryList(QDir::Files | QDir::Hidden),
              QStringList{"33333333001.jpg"});
}

TEST(LoginForm, PrefilledCredentialsAndClientSettings)
{
    exchange::ExchangeForms forms;
    TLogin login(garage, forms);
    EXPECT_EQ(login.Edit1->text(), "online");
    EXPECT_EQ(login.Edit2->text(), "tuvorplex");
    EXPECT_EQ(login.Edit2->echoMode(), QLineEdit::Password);
    EXPECT_EQ(login.windowTitle(), QStringLiteral("เข้าสู่ออนไลน์ บริษัทNorvathaประกันภัยจำกัด"));
    EXPECT_EQ(login.session().ReadTimeout, 60000);
    EXPECT_EQ(login.FtpLink1().Passive, false);
    EXPECT_EQ(QString::fromStdString(login.FtpLink1().Host), platform::ftpHost());
}

TEST(CopyingWindow, ProgressInBytesCancelAndAnAnimationOnlyWhileShown)
{
    TCopyf copyf;
    int cancels = 0;
    QObject::connect(&copyf, &TCopyf::cancelPressed, [&cancels] { ++cancels; });
    copyf.BitBtn1->click();
    EXPECT_EQ(cancels, 0); // hidden: nothing to cancel
    EXPECT_FALSE(copyf.isVisible()); // created hidden
    EXPECT_EQ(copyf.windowTitle(), "Copying...");
    EXPECT_TRUE(copyf.windowFlags() & Qt::WindowStaysOnTopHint);
    copyf.startUpload();
    EXPECT_TRUE(copyf.isVisible());
    EXPECT_EQ(copyf.ProgressBar1->value(), 0);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
    while (std::chrono::steady_clock::now() < until && copyf.Animate1->frame() < 2)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_GE(copyf.Animate1->frame(), 2); // the sheet is on its way

    exchange::ProgressReport report;
    report.fileNumber = 12;
    report.fileCount = 120;
    report.bytesDone = 3 * 1024 * 1024;
    report.bytesTotal = 12 * 1024 * 1024;
    report.bytesPerSecond = 512 * 1024;
    report.secondsLeft = 130;
    copyf.showProgress(report);
    EXPECT_EQ(copyf.PlaceLabel->text(), QStringLiteral("ไฟล์ที่ 12 / 120"));
    EXPECT_EQ(copyf.AmountLabel->text(),
              QStringLiteral("ส่งแล้ว 3.0 MB จาก 12 MB\n512 KB/วินาที · เหลืออีกประมาณ 2 นาที 10 วินาที"));
    EXPECT_EQ(copyf.ProgressBar1->value(), 250);
    report.bytesDone = 1024; // a report that would take the bar back
    copyf.showProgress(report);
    EXPECT_EQ(copyf.ProgressBar1->value(), 250);

    copyf.BitBtn1->click();
    QTest::keyClick(&copyf, Qt::Key_Escape); // once is enough
    EXPECT_EQ(cancels, 1);
    EXPECT_FALSE(copyf.BitBtn1->isEnabled());
    EXPECT_TRUE(copyf.isVisible()); // until the exchange has stopped
    copyf.showProgress(report);
    EXPECT_EQ(copyf.AmountLabel->text(), QStringLiteral("กำลังยกเลิก รอสักครู่..."));
    copyf.startDownload(); // the next phase or exchange starts afresh
    EXPECT_TRUE(copyf.BitBtn1->isEnabled());
    EXPECT_EQ(copyf.ProgressBar1->value(), 0);
    copyf.hide();
    const int frame = copyf.Animate1->frame();
    const auto later = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    while (std::chrono::steady_clock::now() < later)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(copyf.Animate1->frame(), frame); // hidden: no timer wakes the program
}

} // namespace
} // namespace tevrak
