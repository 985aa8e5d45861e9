// The whole Transfer: exports, packaging, the exchange with a real server, and
// the marking of sent rows; then the ways it fails.

#include "transfer/forms/TransferJobFixture.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include "platform/core/Registry.h"

#include <QSettings>

namespace tevrak {
namespace {

using namespace test;

TEST_F(TransferJobTest, WholeTransferEndToEnd)
{
    LocalFtpServer server;
    const std::string root = freshServerRoot();
    pointAt(startServer(server, root));
    writeBranchFile(branch);
    saveReport("12345678", 1, QStringLiteral("รออะไหล่"));
    saveReport("87654321", 1, QStringLiteral("ซ่อมเสร็จ"));
    saveExpense("12345678", 1);
    saveExpense("87654321", 1);
    JpegSpec options;
    const QByteArray jpeg1 = jpegBytes(options);
    options.seed = 2;
    const QByteArray jpeg2 = jpegBytes(options);
    writeBytes(outboxFile("12345678001.jpg"), jpeg1);
    writeBytes(outboxFile("87654321300.jpg"), jpeg2);
    for (const QString& gif : QStringList{"12345678800.gif", "12345678801.gif", "87654321800.gif"})
        writeBytes(outboxFile(gif), gifBytes(noisyImage(QSize(100, 80), Qt::darkGreen, 30, gif.size())));
    const std::string thaiName = cp874(QStringLiteral("ใบอนุมัติ.pdf"));
    writeServerFile(branchFolder(root) / thaiName, "%PDF approval");
    writeServerFile(branchFolder(root) / "rates.xls", "rates");

    bool blockedWhilePacking = false;
    const auto begin = zipf.Zip1.OnBegin;
    zipf.Zip1.OnBegin = [&](TZip& zip, const std::string& file, int count, bool& extract) {
        blockedWhilePacking = !mainWindow.isEnabled();
        begin(zip, file, count, extract);
    };
    runJob();

    ASSERT_EQ(outcomes(), QStringList{"Transfer Complete"}) << failure.toStdString();
    EXPECT_EQ(dialogs.last().icon, platform::MessageIcon::Information);
    EXPECT_EQ(dialogs.last().caption, QStringLiteral("Tevrak หาดใหญ่ ADSL"));
    EXPECT_TRUE(blockedWhilePacking);

    // On the server: photographs as they were, one archive per claim, the four export files.
    const fs::path up = garageFolder(root);
    EXPECT_EQ(serverNames(up),
              (std::vector<std::string>{"12345678.Zip", "12345678001.jpg", "87654321.Zip", "87654321300.jpg",
                                        "Expense2.DB", "Expense2.PX", "Tevrak2.DB", "Tevrak2.PX"}));
    EXPECT_EQ(QByteArray::fromStdString(readServerFile(up / "12345678001.jpg")), jpeg1);
    EXPECT_EQ(QByteArray::fromStdString(readServerFile(up / "87654321300.jpg")), jpeg2);
    for (const char* archive : {"12345678.Zip", "87654321.Zip"}) {
        const ToolRun test = runTool("unzip", {"-t", forTools(up / archive)});
        EXPECT_EQ(test.exitCode, 0) << test.output.toStdString();
    }
    EXPECT_EQ(pythonZipMembers(forTools(up / "12345678.Zip")).output.count('\n'), 2);

    // The export tables, read by the sqlite3 command: claim rows with a blank Send and the
    // blank TevrakDate as the zero date; expense rows whole, blanks as 0 and false.
    const ToolRun claims =
        runTool("sqlite3", {"-readonly", forTools(up / "Tevrak2.DB"),
                            "select Claimno, Seq, Status, quote(Send), TevrakDate, GarageDate, "
                            "ReportDate from Tevrak2 order by Claimno"});
    EXPECT_EQ(claims.exitCode, 0) << claims.output.toStdString();
    EXPECT_EQ(claims.output.split('\n', Qt::SkipEmptyParts),
              (QStringList{QStringLiteral("12345678|1|รออะไหล่|NULL|1899-12-30|2026-12-01|2026-12-08"),
                           QStringLiteral("87654321|1|ซ่อมเสร็จ|NULL|1899-12-30|2026-12-01|2026-12-08")}));
    const ToolRun expenses = runTool(
        "sqlite3", {"-readonly", forTools(up / "Expense2.DB"),
                    "select Claimno, Seq, From1, Distance1, Distance2, Home, Total, Userid, Send, Sysdate "
                    "from Expense2 order by Claimno"});
    EXPECT_EQ(expenses.output.split('\n', Qt::SkipEmptyParts),
              (QStringList{QStringLiteral("12345678|1|หาดใหญ่|30.5|0.0|0.0|291.5|somchai|0|2026-12-08"),
                           QStringLiteral("87654321|1|หาดใหญ่|30.5|0.0|0.0|291.5|somchai|0|2026-12-08")}))
        << expenses.output.toStdString();
    EXPECT_TRUE(readServerFile(up / "Tevrak2.PX").find("12345678\t1") != std::string::npos);

    // The outbox is empty; downloads are in the day folder and ALL, and gone from the server.
    EXPECT_EQ(platform::listFiles(platform::paths::outbox + "\\*.*"), QStringList{});
    const QString thai = QStringLiteral("ใบอนุมัติ.pdf");
    EXPECT_EQ(readBytes(dayFolder() + "/" + thai), "%PDF approval");
    EXPECT_EQ(readBytes(dayFolder() + "/rates.xls"), "rates");
    EXPECT_EQ(readBytes(local("c:\\LOAD\\ALL\\" + thai)), "%PDF approval");
    EXPECT_TRUE(serverNames(branchFolder(root)).empty());
    EXPECT_EQ(dialogs.openedDocuments.size(), 2);

    // Every exported row is sent now.
    EXPECT_EQ(sendFlags("Tevrak"), (QStringList{"12345678/1=1", "87654321/1=1"}));
    EXPECT_EQ(sendFlags("Expense"), (QStringList{"12345678/1=1", "87654321/1=1"}));
    EXPECT_FALSE(database->Tevrak2T.isOpen());
    EXPECT_FALSE(database->Expense2T.isOpen());
    // The history has each file that went and came, with its size.
    const QString history = QString::fromUtf8(readBytes(local("c:\\LOAD\\transfer.log")));
    EXPECT_TRUE(history.contains(QStringLiteral("sent 12345678001.jpg (%1 bytes)").arg(jpeg1.size())))
        << history.toStdString();
    EXPECT_TRUE(history.contains("received rates.xls (5 bytes)")) << history.toStdString();
    EXPECT_TRUE(history.contains("sent Tevrak2.PX (")) << history.toStdString();
}

TEST_F(TransferJobTest, TwoTransfersBeforeTheInsurerCollectsKeepEveryRowAndDocument)
{
    LocalFtpServer server;
    const std::string root = freshServerRoot();
    pointAt(startServer(server, root));
    writeBranchFile(branch);
    auto gif = [](const QString& name) { return gifBytes(noisyImage(QSize(90, 70), Qt::darkBlue, 20, name.size())); };

    saveReport("12345678", 1, QStringLiteral("รออะไหล่"));
    saveExpense("12345678", 1);
    for (const QString& name : QStringList{"12345678800.gif", "12345678801.gif"})
        writeBytes(outboxFile(name), gif(name));
    runJob();
    // The insurer has not collected anything when the next rows and documents go.
    saveReport("12345678", 2, QStringLiteral("ซ่อมเสร็จ"));
    saveReport("87654321", 1, QStringLiteral("รอประกัน"));
    saveExpense("12345678", 2);
    writeBytes(outboxFile("12345678802.gif"), gif("12345678802.gif"));
    runJob();
    ASSERT_EQ(outcomes(), (QStringList{"Transfer Complete", "Transfer Complete"})) << failure.toStdString() << dialogs.texts().join("|").toStdString();

    const fs::path up = garageFolder(root);
    EXPECT_EQ(serverNames(up), (std::vector<std::string>{"12345678.Zip", "Expense2.DB", "Expense2.PX", "Tevrak2.DB",
                                                          "Tevrak2.PX"}));
    const ToolRun claims = runTool("sqlite3", {"-readonly", forTools(up / "Tevrak2.DB"),
                                               "select Claimno || '/' || Seq || '/' || Status from Tevrak2 "
                                               "order by Claimno, Seq"});
    EXPECT_EQ(claims.output.split('\n', Qt::SkipEmptyParts),
              (QStringList{QStringLiteral("12345678/1/รออะไหล่"), QStringLiteral("12345678/2/ซ่อมเสร็จ"),
                           QStringLiteral("87654321/1/รอประกัน")}))
        << claims.output.toStdString();
    const ToolRun expenses = runTool("sqlite3", {"-readonly", forTools(up / "Expense2.DB"),
                                                 "select Claimno || '/' || Seq from Expense2 order by Seq"});
    EXPECT_EQ(expenses.output.split('\n', Qt::SkipEmptyParts), (QStringList{"12345678/1", "12345678/2"}));
    // The index lists every key of the combined table, in key order.
    EXPECT_EQ(QByteArray::fromStdString(readServerFile(up / "Tevrak2.PX")),
              QByteArray("Claimno\tSeq\r\n12345678\t1\r\n12345678\t2\r\n87654321\t1\r\n"));
    const ToolRun test = runTool("unzip", {"-t", forTools(up / "12345678.Zip")});
    EXPECT_EQ(test.exitCode, 0) << test.output.toStdString();
    const QStringList members = pythonZipMembers(forTools(up / "12345678.Zip")).output.split('\n', Qt::SkipEmptyParts);
    QStringList names;
    for (const QString& member : members)
        names << member.section('\t', 0, 0);
    EXPECT_EQ(names, (QStringList{"12345678800.gif", "12345678801.gif", "12345678802.gif"}));
    // Nothing of the combining is left in the outbox or on the server.
    EXPECT_EQ(QDir(local(platform::paths::outbox)).entryList(QDir::Files | QDir::Hidden | QDir::Dirs |
                                                              QDir::NoDotAndDotDot),
              QStringList{});
}

TEST_F(TransferJobTest, ArchiveLeftByAFailedTransferKeepsEveryDocumentOfItsNames)
{
    writeBranchFile(branch);
    saveReport("33550336", 1, QStringLiteral("รออะไหล่"));
    auto gif = [](unsigned seed) { return gifBytes(noisyImage(QSize(90, 70), Qt::darkCyan, 30, seed)); };
    const QByteArray older800 = gif(1), document801 = gif(2), newer800 = gif(3);
    writeBytes(outboxFile("33550336800.gif"), older800);
    writeBytes(outboxFile("33550336801.gif"), document801);
    pointAt(closedFtpPort()); // the server is down: the claim's archive waits in the outbox
    runJob();
    ASSERT_EQ(outcomes(), QStringList{"Transfer failed"});
    ASSERT_EQ(platform::listFiles(platform::paths::outbox + "\\*.gif"), QStringList{});

    // Number 800 was taken again for another document; 801 is back in the
    // outbox as a program killed before its move to the trash leaves it.
    writeBytes(outboxFile("33550336800.gif"), newer800);
    writeBytes(outboxFile("33550336801.gif"), document801);
    LocalFtpServer server;
    const std::string root = freshServerRoot();
    pointAt(startServer(server, root));
    runJob();
    ASSERT_EQ(outcomes(), (QStringList{"Transfer failed", "Transfer Complete"})) << failure.toStdString();

    const fs::path up = garageFolder(root);
    EXPECT_EQ(serverNames(up), (std::vector<std::string>{"33550336.Zip", "Tevrak2.DB", "Tevrak2.PX"}));
    EXPECT_EQ(
        pythonZipContents(forTools(up / "33550336.Zip")),
        (QStringList{memberLine("33550336800.gif", older800), memberLine("33550336801.gif", document801),
                     memberLine("33550336802.gif", newer800)}));
    EXPECT_EQ(platform::listFiles(platform::paths::outbox + "\\*.*"), QStringList{});
    EXPECT_EQ(sendFlags("Tevrak"), QStringList{"33550336/1=1"});
    const QStringList events = historyEvents();
    EXPECT_TRUE(
        events.contains("renamed 33550336800.gif to 33550336802.gif (the claim archive already holds a "
                        "different document of that name)"))
        << events.join('\n').toStdString();
    EXPECT_TRUE(events.contains(
        "33550336801.gif is already in 33550336.Zip with the same contents; moved to the trash"))
        << events.join('\n').toStdString();
    EXPECT_EQ(events.last(), "transfer complete");
}

TEST_F(TransferJobTest, ServerCopiesNoReaderCanOpenAreKeptBesideOurs)
{
    LocalFtpServer server;
    const std::string root = freshServerRoot();
    pointAt(startServer(server, root));
    writeBranchFile(branch);
    // What uploads broken off by an older program leave behind.
    const std::string brokenArchive = "PK\x03\x04 the start of an archive and no more";
    const std::string brokenTable = "SQLite format 3 and garbage";
    writeServerFile(garageFolder(root) / "12345678.Zip", brokenArchive);
    writeServerFile(garageFolder(root) / "Tevrak2.DB", brokenTable);
    saveReport("12345678", 1, QStringLiteral("รออะไหล่"));
    writeBytes(outboxFile("12345678800.gif"), gifBytes(noisyImage(QSize(90, 70), Qt::red, 20, 3)));

    runJob();
    ASSERT_EQ(outcomes(), QStringList{"Transfer Complete"}) << failure.toStdString();
    const fs::path up = garageFolder(root);
    EXPECT_EQ(runTool("unzip", {"-t", forTools(up / "12345678.Zip")}).exitCode, 0);
    const ToolRun claims =
        runTool("sqlite3", {"-readonly", forTools(up / "Tevrak2.DB"), "select Claimno || '/' || Seq from Tevrak2"});
    EXPECT_EQ(claims.output.split('\n', Qt::SkipEmptyParts), QStringList{"12345678/1"}) << claims.output.toStdString();
    EXPECT_EQ(sendFlags("Tevrak"), QStringList{"12345678/1=1"});
    // The server's copies keep their bytes beside ours, under names that say why.
    std::map<std::string, std::string> kept;
    for (const std::string& name : serverNames(up))
        if (name.find(".unreadable-") != std::string::npos)
            kept[name.substr(0, name.find(".unreadable-"))] = readServerFile(up / name);
    EXPECT_EQ(kept, (std::map<std::string, std::string>{{"12345678.Zip", brokenArchive}, {"Tevrak2.DB", brokenTable}}));
    const QString history = QString::fromUtf8(readBytes(local("c:\\LOAD\\transfer.log")));
    EXPECT_TRUE(history.contains("kept as Tevrak2.DB.unreadable-")) << history.toStdString();
}

TEST_F(TransferJobTest, FailedTransferKeepsEverythingAndTheNextOneSendsBothRuns)
{
    writeBranchFile(branch);
    saveReport("12345678", 1, QStringLiteral("รออะไหล่"));
    writeBytes(outboxFile("12345678001.jpg"), "photo");
    pointAt(closedFtpPort()); // the server is down

    runJob();
    EXPECT_EQ(outcomes(), QStringList{"Transfer failed"});
    EXPECT_EQ(dialogs.last().icon, platform::MessageIcon::Error);
    EXPECT_EQ(sendFlags("Tevrak"), QStringList{"12345678/1=0"});
    EXPECT_EQ(platform::listFiles(platform::paths::outbox + "\\*.*"),
              (QStringList{"12345678001.jpg", "Tevrak2.DB", "Tevrak2.PX"}));
    const QString firstFailure = failure;

    // A row saved since; the server is back.
    saveReport("12345678", 2, QStringLiteral("ซ่อมเสร็จ"));
    LocalFtpServer server;
    const std::string root = freshServerRoot();
    pointAt(startServer(server, root));
    runJob();
    EXPECT_EQ(outcomes(), (QStringList{"Transfer failed", "Transfer Complete"}))
        << failure.toStdString();
    const ToolRun claims = runTool("sqlite3", {"-readonly", forTools(garageFolder(root) / "Tevrak2.DB"),
                                               "select Claimno || '/' || Seq from Tevrak2 order by Seq"});
    EXPECT_EQ(claims.output.split('\n', Qt::SkipEmptyParts), (QStringList{"12345678/1", "12345678/2"}));
    EXPECT_EQ(sendFlags("Tevrak"), (QStringList{"12345678/1=1", "12345678/2=1"}));
    EXPECT_EQ(readServerFile(garageFolder(root) / "12345678001.jpg"), "photo");

    EXPECT_EQ(historyEvents(), (QStringList{"transfer started", "exported 1 rows of Tevrak2",
                                            "transfer failed: " + firstFailure.simplified(), "transfer started",
                                            "exported 2 rows of Tevrak2", "transfer complete"}));
    EXPECT_FALSE(firstFailure.isEmpty());
}

TEST_F(TransferJobTest, RowSavedDuringTheTransferWaitsForTheNextOne)
{
    LocalFtpServer server;
    const std::string root = freshServerRoot();
    pointAt(startServer(server, root));
    saveExpense("12345678", 1);
    // No branch file: the branch form comes up in the middle of the exchange, and
    // meanwhile a new expense row gets saved (another route into the program).
    bool blocked = false;
    dialogs.answerNextModal([&](QWidget& form) {
        blocked = !mainWindow.isEnabled();
        saveExpense("12345678", 2);
        auto& registration = dynamic_cast<TRegisterF2&>(form);
        registration.ComboBox1->setEditText(branch);
        registration.Button1Click();
        return 1;
    });

    runJob();
    EXPECT_EQ(outcomes(), QStringList{"Transfer Complete"}) << failure.toStdString();
    EXPECT_TRUE(blocked);
    EXPECT_EQ(sendFlags("Expense"), (QStringList{"12345678/1=1", "12345678/2=0"}));
    EXPECT_EQ(sendFlags("Tevrak"), QStringList{}); // no claim rows: nothing exported, nothing run
    EXPECT_FALSE(fs::exists(garageFolder(root) / "Tevrak2.DB"));
}

TEST_F(TransferJobTest, FailedCopyIntoTheOutboxStopsTheJob)
{
    LocalFtpServer server;
    const std::string root = freshServerRoot();
    pointAt(startServer(server, root));
    writeBranchFile(branch);
    saveReport("12345678", 1, QStringLiteral("รออะไหล่"));
    writeBytes(outboxFile("12345678001.jpg"), "photo");
    QDir().mkpath(outboxFile("Tevrak2.PX")); // a folder where the index copy must go

    transfer::TransferRun job(*database, values, forms, &mainWindow);
    QString reason;
    try {
        job.run();
    } catch (const Error& error) {
        reason = error.message();
    }
    EXPECT_FALSE(reason.isEmpty()) << "the job did not stop";
    EXPECT_EQ(historyEvents(),
              (QStringList{"transfer started", "exported 1 rows of Tevrak2",
                           "transfer failed: " + QString(reason).replace('\n', ' ')})); // one line in the history
    EXPECT_TRUE(mainWindow.isEnabled());
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_TRUE(serverNames(garageFolder(root)).empty()); // no exchange ran
    EXPECT_EQ(sendFlags("Tevrak"), QStringList{"12345678/1=0"});
    EXPECT_TRUE(QFile::exists(outboxFile("12345678001.jpg")));
}

TEST_F(TransferJobTest, ConnectionDroppedInTheThirdUploadLeavesTheRowsUnsent)
{
    using Step = ScriptedFtpPeer::Step;
    writeBranchFile(branch);
    saveReport("12345678", 1, QStringLiteral("รออะไหล่"));
    writeBytes(outboxFile("11111111001.jpg"), "one");
    writeBytes(outboxFile("22222222001.jpg"), "two");
    writeBytes(outboxFile("33333333001.jpg"), QByteArray(4 << 20, 'p'));
    std::vector<Step> steps = ScriptedFtpPeer::login();
    steps.push_back([](ScriptedFtpSession& s) { s.answer("CWD Claim/" + cp874(garage), "250 ok"); });
    steps.push_back([](ScriptedFtpSession& s) {
        s.answer("PORT ", "200 ok");
        s.answer("NLST *.*", "150 listing");
        s.openData();
        s.closeData(); // the garage's folder is empty
        s.reply("226 done");
    });
    for (const std::string name : {"11111111001.jpg", "22222222001.jpg"})
        steps.push_back([name](ScriptedFtpSession& s) {
            s.answer("PORT ", "200 ok");
            s.answer("APPE " + name, "150 go");
            s.openData();
            s.receiveData();
            s.closeData();
            s.reply("226 done");
        });
    steps.push_back([](ScriptedFtpSession& s) {
        s.answer("PORT ", "200 ok");
        s.answer("APPE 33333333001.jpg", "150 go");
        s.openData();
        s.resetData();
        s.closeControl();
    });
    ScriptedFtpPeer peer(steps);
    pointAt(peer.port());

    runJob();
    peer.finish();
    EXPECT_EQ(peer.failure(), "");
    EXPECT_EQ(outcomes(), QStringList{"Transfer failed"});
    EXPECT_EQ(platform::listFiles(platform::paths::outbox + "\\*.*"),
              (QStringList{"33333333001.jpg", "Tevrak2.DB", "Tevrak2.PX"}));
    EXPECT_EQ(sendFlags("Tevrak"), QStringList{"12345678/1=0"});
    EXPECT_FALSE(copyf.isVisible());
}

TEST_F(TransferJobTest, ServerThatStopsAnsweringEndsInTransferFailed)
{
    writeBranchFile(branch);
    saveReport("12345678", 1, QStringLiteral("รออะไหล่"));
    writeBytes(outboxFile("12345678001.jpg"), "photo");
    std::vector<ScriptedFtpPeer::Step> steps = ScriptedFtpPeer::login();
    steps.push_back([](ScriptedFtpSession& s) {
        s.expect("CWD ");
        s.silence(1500); // says nothing more
    });
    ScriptedFtpPeer peer(steps);
    pointAt(peer.port());

    runJob(300);
    EXPECT_EQ(outcomes(), QStringList{"Transfer failed"});
    // The clerk reads what went wrong under the first line.
    const QString expected = QStringLiteral("เปิดโฟลเดอร์ของอู่บนเซิร์ฟเวอร์ไม่สำเร็จ: เซิร์ฟเวอร์ไม่ตอบภายใน 0.3 วินาที\n"
                                            "    Claim/%1: ")
                                 .arg(garage);
    EXPECT_TRUE(failure.startsWith(expected)) << failure.toStdString();
    ASSERT_EQ(dialogs.texts().size(), 1);
    EXPECT_EQ(dialogs.texts().front(), "Transfer failed\n" + failure);
    EXPECT_EQ(platform::listFiles(platform::paths::outbox + "\\*.*"),
              (QStringList{"12345678001.jpg", "Tevrak2.DB", "Tevrak2.PX"}));
    EXPECT_EQ(sendFlags("Tevrak"), QStringList{"12345678/1=0"});
    peer.finish();
}

TEST_F(TransferJobTest, NothingToSendStillExchanges)
{
    LocalFtpServer server;
    const std::string root = freshServerRoot();
    pointAt(startServer(server, root));
    writeBranchFile(branch);
    writeServerFile(branchFolder(root) / "notice.txt", "notice");

    runJob();
    EXPECT_EQ(outcomes(), QStringList{"Transfer Complete"}) << failure.toStdString();
    EXPECT_TRUE(fs::is_directory(garageFolder(root)));
    EXPECT_TRUE(serverNames(garageFolder(root)).empty());
    EXPECT_EQ(readBytes(dayFolder() + "/notice.txt"), "notice");
    EXPECT_FALSE(QFile::exists(outboxFile("Tevrak2.DB")));
}

QStringList commandsIn(const QString& log)
{
    QFile file(log);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)
                                          : QStringList{};
}

TEST_F(TransferJobTest, AWholeTransferOverTlsAndACertificateNobodyTrustsSendsNothing)
{
    const QString certificates = testCertificates();
    requireEncryptionTrustingTheTestAuthority(); // the insurer's own authority
    writeBranchFile(branch);
    saveReport("12345678", 1, QStringLiteral("รออะไหล่"));
    JpegSpec options;
    const QByteArray photo = jpegBytes(options);
    writeBytes(outboxFile("12345678001.jpg"), photo);
    const QByteArray document = gifBytes(noisyImage(QSize(100, 80), Qt::darkGreen, 30, 3));
    writeBytes(outboxFile("12345678800.gif"), document);

    // A server whose certificate comes from an authority nobody trusts: refused
    // after AUTH TLS, nothing else said, everything stays for the next Transfer.
    {
        LocalFtpServer impostor;
        const std::string root = freshServerRoot();
        const QString log = QString::fromStdString(root) + "-commands.log";
        pointAt(startServer(impostor, root,
                            {"--tls", (certificates + "/unknown-authority.pem").toStdString(),
                             (certificates + "/unknown-authority.key").toStdString(), "--tls-required",
                             "--command-log", log.toStdString()}));
        runJob();
        ASSERT_EQ(outcomes(), QStringList{"Transfer failed"});
        EXPECT_TRUE(failure.contains(QStringLiteral("ผู้ออกใบรับรองที่เครื่องนี้เชื่อถือ"))) << failure.toStdString();
        EXPECT_EQ(commandsIn(log), QStringList{"AUTH TLS"});
        EXPECT_TRUE(serverNames(garageFolder(root)).empty());
        EXPECT_EQ(sendFlags("Tevrak"), QStringList{"12345678/1=0"});
    }

    LocalFtpServer server;
    const std::string root = freshServerRoot();
    const QString log = QString::fromStdString(root) + "-commands.log";
    std::vector<std::string> serverOptions = encryptedServerOptions();
    serverOptions.insert(serverOptions.end(), {"--command-log", log.toStdString()});
    pointAt(startServer(server, root, serverOptions));
    writeServerFile(branchFolder(root) / "rates.xls", "rates for the branch");
    // Not an empty folder: the stand-in sometimes ends an empty encrypted listing
    // without TLS's closing alert, which the client rightly takes for a cut one.
    writeServerFile(garageFolder(root) / "readme.txt", "the insurer's note");
    runJob();
    ASSERT_EQ(outcomes(), (QStringList{"Transfer failed", "Transfer Complete"})) << failure.toStdString();
    const fs::path up = garageFolder(root);
    EXPECT_EQ(serverNames(up), (std::vector<std::string>{"12345678.Zip", "12345678001.jpg", "Tevrak2.DB",
                                                         "Tevrak2.PX", "readme.txt"}));
    EXPECT_EQ(QByteArray::fromStdString(readServerFile(up / "12345678001.jpg")), photo);
    EXPECT_EQ(pythonZipContents(forTools(up / "12345678.Zip")), QStringList{memberLine("12345678800.gif", document)});
    EXPECT_EQ(readBytes(dayFolder() + "/rates.xls"), "rates for the branch");
    EXPECT_EQ(sendFlags("Tevrak"), QStringList{"12345678/1=1"});
    // Both connections encrypted before the login, the data protected after it.
    const QStringList commands = commandsIn(log);
    ASSERT_GE(commands.size(), 5);
    EXPECT_EQ(commands.mid(0, 5), (QStringList{"AUTH TLS", "USER online", "PASS ******", "PBSZ 0", "PROT P"}));
    EXPECT_EQ(commands.count("AUTH TLS"), 2); // the upload's connection and the download's
}


// The clerk presses Cancel while the documents are packed, while the photos go
// up and while the branch's files come down; after each the result box says
// so, no row is marked sent, and the next Transfer sends every photo,
// document and row exactly once.
TEST_F(TransferJobTest, CancelledInEachPhaseThenTheNextTransferSendsEverythingOnce)
{
    LocalFtpServer server;
    const std::string root = freshServerRoot();
    pointAt(startServer(server, root, {"--rate", "200000"}));
    writeBranchFile(branch);
    saveReport("12345678", 1, QStringLiteral("รออะไหล่"));
    saveExpense("12345678", 1);
    std::vector<QByteArray> photos;
    for (int i = 1; i <= 3; ++i) {
        photos.push_back(QByteArray(300000, char('a' + i)));
        writeBytes(outboxFile(QStringLiteral("1234567800%1.jpg").arg(i)), photos.back());
    }
    const QStringList documents{"12345678800.gif", "12345678801.gif"};
    for (const QString& gif : documents)
        writeBytes(outboxFile(gif), gifBytes(noisyImage(QSize(100, 80), Qt::darkGreen, 30, gif.size())));
    for (const char* name : {"a.pdf", "b.pdf"})
        writeServerFile(branchFolder(root) / name, std::string(1000000, name[0]));

    // Presses a Cancel button as soon as the windows show the moment.
    QTimer clerk;
    std::function<bool()> moment;
    QPushButton* button = nullptr;
    QObject::connect(&clerk, &QTimer::timeout, [&] {
        if (moment && moment()) {
            moment = nullptr;
            button->click();
        }
    });
    clerk.start(10);
    const auto cancelledRun = [&](const char* phase) {
        dialogs.messages.clear();
        runJob();
        ASSERT_EQ(outcomes(), QStringList{QStringLiteral("ยกเลิกการ Transfer แล้ว")}) << phase << failure.toStdString();
        EXPECT_TRUE(dialogs.last().details.contains("transfer cancelled by the clerk")) << phase;
        EXPECT_EQ(sendFlags("Tevrak"), QStringList{"12345678/1=0"}) << phase;
        EXPECT_EQ(sendFlags("Expense"), QStringList{"12345678/1=0"}) << phase;
    };

    // While the second document is packed.
    const auto begin = zipf.Zip1.OnBegin;
    zipf.Zip1.OnBegin = [&](TZip& zip, const std::string& file, int count, bool& extract) {
        if (QString::fromStdString(file).endsWith("801.gif"))
            zipf.CancelButton->click();
        begin(zip, file, count, extract);
    };
    cancelledRun("packing");
    zipf.Zip1.OnBegin = begin;
    EXPECT_TRUE(serverNames(garageFolder(root)).empty()); // nothing went

    // While the second photo goes up.
    button = copyf.BitBtn1;
    moment = [&] { return copyf.isVisible() && copyf.PlaceLabel->text().startsWith(QStringLiteral("ไฟล์ที่ 2 /")); };
    cancelledRun("sending");
    EXPECT_TRUE(QFile::exists(outboxFile("12345678002.jpg")) || QFile::exists(outboxFile("12345678003.jpg")));

    // As soon as the branch's files start coming down (the stand-in sends
    // them faster than it takes them in).
    moment = [&] { return copyf.isVisible() && copyf.Label2->text().startsWith(QStringLiteral("รับไฟล์")); };
    cancelledRun("receiving");
    int waiting = 0;
    for (const char* name : {"a.pdf", "b.pdf"}) {
        // A file still on the server was never given its name here; one gone
        // from the server is here whole.
        const bool onServer = fs::exists(branchFolder(root) / name);
        waiting += onServer;
        if (onServer)
            EXPECT_FALSE(QFile::exists(dayFolder() + "/" + name)) << name;
        else
            EXPECT_EQ(readBytes(dayFolder() + "/" + name), QByteArray(1000000, name[0]));
    }
    EXPECT_GE(waiting, 1);
    EXPECT_EQ(QDir(dayFolder()).entryList(QDir::Hidden | QDir::Files).filter(".tevrak"), QStringList{});

    dialogs.messages.clear();
    runJob();
    ASSERT_EQ(outcomes(), QStringList{"Transfer Complete"}) << failure.toStdString();
    // The details: this Transfer's history, from its start to its outcome.
    const QStringList details = dialogs.last().details.split('\n');
    ASSERT_GE(details.size(), 3);
    EXPECT_TRUE(details[1].endsWith("transfer started")) << details[1].toStdString();
    EXPECT_TRUE(details.back().endsWith("transfer complete")) << details.back().toStdString();
    EXPECT_EQ(details.filter("cancelled").size(), 0);
    const fs::path up = garageFolder(root);
    for (int i = 1; i <= 3; ++i)
        EXPECT_EQ(QByteArray::fromStdString(readServerFile(up / QStringLiteral("1234567800%1.jpg").arg(i).toStdString())),
                  photos[size_t(i - 1)]);
    QStringList members;
    for (const QString& line : pythonZipMembers(forTools(up / "12345678.Zip")).output.split('\n', Qt::SkipEmptyParts))
        members << line.section('\t', 0, 0);
    EXPECT_EQ(members, documents);
    for (const char* table : {"Tevrak2", "Expense2"}) {
        const ToolRun rows = runTool("sqlite3", {"-readonly", forTools(up / (std::string(table) + ".DB")),
                                                 QStringLiteral("select Claimno || '/' || Seq from %1").arg(table)});
        EXPECT_EQ(rows.output.split('\n', Qt::SkipEmptyParts), QStringList{"12345678/1"}) << table;
    }
    for (const char* name : {"a.pdf", "b.pdf"}) {
        EXPECT_EQ(readBytes(dayFolder() + "/" + name), QByteArray(1000000, name[0]));
        EXPECT_FALSE(fs::exists(branchFolder(root) / name));
    }
    EXPECT_EQ(sendFlags("Tevrak"), QStringList{"12345678/1=1"});
    EXPECT_EQ(sendFlags("Expense"), QStringList{"12345678/1=1"});
}

} // namespace
} // namespace tevrak
