// The transfer history: its lines, its rotation, and what a killed writer or a
// full disk leaves behind.

#include "transfer/job/TransferLog.h"

#include "platform/core/DriveC.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <gtest/gtest.h>

#include <csignal>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tevrak::transfer {
namespace {

class TransferLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = QString::fromStdString(test::temporaryBase()) + QStringLiteral("/log-") +
                 QString::fromUtf8(::testing::UnitTest::GetInstance()->current_test_info()->name());
        QDir(folder).removeRecursively();
        path = folder + QStringLiteral("/transfer.log");
    }

    static QByteArray contents(const QString& file)
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static QStringList lines(const QString& file)
    {
        return QString::fromUtf8(contents(file)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    // The line without its time stamp.
    static QString event(const QString& line) { return line.mid(20); }

    QString folder;
    QString path;
};

TEST_F(TransferLogTest, EveryEventIsOneStampedUtf8Line)
{
    TransferLog log(path);
    log.started();
    log.rowsExported(QStringLiteral("Tevrak2"), 3);
    log.fileSent(QStringLiteral("12345678001.jpg"), 52311);
    log.fileReceived(QStringLiteral("แจ้งเตือน 100%1.txt"), 12); // a name with what looks like a place-holder
    log.finished(false, QStringLiteral("Socket Error # 111\r\nConnection refused"));
    log.finished(true);

    const QStringList written = lines(path);
    ASSERT_EQ(written.size(), 6);
    const QRegularExpression stamp(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d "));
    for (const QString& line : written)
        EXPECT_TRUE(stamp.match(line).hasMatch()) << line.toStdString();
    QStringList events;
    for (const QString& line : written)
        events << event(line);
    EXPECT_EQ(events, (QStringList{"transfer started", "exported 3 rows of Tevrak2", "sent 12345678001.jpg (52311 bytes)",
                                   QStringLiteral("received แจ้งเตือน 100%1.txt (12 bytes)"),
                                   "transfer failed: Socket Error # 111 Connection refused", "transfer complete"}));
}

TEST_F(TransferLogTest, TheWorkstationLogLivesBesideTheDownloads)
{
    EXPECT_EQ(TransferLog().filePath(), platform::localPath(QStringLiteral("c:\\LOAD")) + "/transfer.log");
}

TEST_F(TransferLogTest, AtOneMegabyteTheFileBecomesTheOldOneAndOnlyOneOldFileIsKept)
{
    QDir().mkpath(folder);
    const auto fill = [this](qint64 size) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        const QByteArray line(99, 'x');
        for (qint64 n = 0; n < size / 100; ++n)
            f.write(line + '\n');
        if (size % 100)
            f.write(QByteArray(size % 100 - 1, 'y') + '\n');
    };
    TransferLog log(path);
    EXPECT_EQ(TransferLog::defaultRotationSize, 1024 * 1024);

    fill(1024 * 1024 - 1); // one byte short: appended to
    log.started();
    EXPECT_FALSE(QFile::exists(log.oldFilePath()));
    EXPECT_EQ(event(lines(path).last()), "transfer started");

    // Full now: it becomes the old file, whole, and the event starts a new one.
    const QByteArray full = contents(path);
    log.finished(true);
    EXPECT_EQ(contents(log.oldFilePath()), full);
    ASSERT_EQ(lines(path).size(), 1);
    EXPECT_EQ(event(lines(path).first()), "transfer complete");

    // The next rotation replaces the old file.
    fill(1024 * 1024);
    const QByteArray second = contents(path);
    log.started();
    EXPECT_EQ(contents(log.oldFilePath()), second);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), (QStringList{"transfer.log", "transfer.log.1"}));
}

TEST_F(TransferLogTest, ATornLastLineIsKeptAndTheNextEventStartsOnItsOwnLine)
{
    QDir().mkpath(folder);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("2026-12-09 10:00:00 transfer started\n2026-12-09 10:00:01 sent 1234");
    f.close();

    TransferLog(path).finished(false, QStringLiteral("Read Timeout"));
    const QByteArray after = contents(path);
    EXPECT_TRUE(after.startsWith("2026-12-09 10:00:00 transfer started\n2026-12-09 10:00:01 sent 1234\n"));
    EXPECT_TRUE(after.endsWith(" transfer failed: Read Timeout\n"));
    EXPECT_EQ(lines(path).size(), 3);
}

// A writer stopped by a full disk leaves a torn line (the file size limit
// cuts its write short); the next program run appends after it.
TEST_F(TransferLogTest, AWriteCutShortByAFullDiskLeavesTheEarlierLinesAndTheNextRunCarriesOn)
{
    TransferLog(path).started();
    const qint64 before = QFile(path).size();

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{static_cast<rlim_t>(before + 10), static_cast<rlim_t>(before + 10)};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        TransferLog(path).fileSent(QStringLiteral("12345678001.jpg"), 52311);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(QFile(path).size(), before + 10); // the disk took ten bytes of the line

    TransferLog(path).finished(true);
    const QStringList written = lines(path);
    ASSERT_EQ(written.size(), 3);
    EXPECT_EQ(event(written[0]), "transfer started");
    EXPECT_EQ(written[1].size(), 10);
    EXPECT_EQ(event(written[2]), "transfer complete");
}

// A program killed while it appends, rotating as it goes, loses at most the
// event it was writing: both files hold only whole lines, numbered without a
// gap, and the next run appends after them.
TEST_F(TransferLogTest, AWriterKilledMidAppendLeavesOnlyWholeLinesWithoutGaps)
{
    const qint64 rotation = 64 * 1024;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TransferLog log(path, rotation);
        for (int n = 0;; ++n)
            log.rowsExported(QStringLiteral("Expense2"), n);
    }
    // Let it rotate at least once, then kill it wherever it is.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!QFile::exists(path + ".1") && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(7));
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_TRUE(QFile::exists(path + ".1")) << "the writer never rotated";

    const QByteArray old = contents(path + ".1");
    const QByteArray current = contents(path);
    EXPECT_TRUE(old.endsWith('\n'));
    EXPECT_TRUE(current.isEmpty() || current.endsWith('\n'));
    EXPECT_GE(old.size(), rotation);
    EXPECT_LT(current.size(), rotation + 100);

    const QRegularExpression shape(QStringLiteral("^exported (\\d+) rows of Expense2$"));
    int expected = -1;
    for (const QString& line : lines(path + ".1") + lines(path)) {
        const QRegularExpressionMatch match = shape.match(event(line));
        ASSERT_TRUE(match.hasMatch()) << line.toStdString();
        const int n = match.captured(1).toInt();
        if (expected >= 0) {
            ASSERT_EQ(n, expected) << "a line is missing";
        }
        expected = n + 1;
    }

    TransferLog(path, rotation).finished(true);
    EXPECT_EQ(event(lines(path).last()), "transfer complete");
    EXPECT_TRUE(contents(path).startsWith(current));
}

TEST_F(TransferLogTest, TwoProgramsRotatingAtOnceNeverReplaceTheOlderHistory)
{
    // This test is the first program: it holds the full history open and
    // locked, as a writer does at the moment it rotates. The second program
    // adds an event meanwhile; then the first rotates.
    const qint64 rotation = 4096;
    QDir().mkpath(folder);
    const QByteArray history = QByteArray("2026-12-09 10:00:00 history line\n").repeated(200); // past the size
    {
        QFile full(path);
        ASSERT_TRUE(full.open(QIODevice::WriteOnly));
        full.write(history);
    }
    const int first = ::open(QFile::encodeName(path).constData(), O_RDWR | O_APPEND);
    ASSERT_GE(first, 0);
    ASSERT_EQ(::flock(first, LOCK_EX), 0);
    const pid_t second = ::fork();
    if (second == 0) {
        ::close(first); // a program of its own: the first program's lock is not its own
        TransferLog(path, rotation).note(QStringLiteral("the second program's event"));
        ::_exit(0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // time for the second to reach the file
    ASSERT_EQ(::rename(QFile::encodeName(path).constData(), QFile::encodeName(path + ".1").constData()), 0);
    ::close(first);
    int status = 0;
    ::waitpid(second, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    EXPECT_EQ(contents(path + QStringLiteral(".1")), history); // the older history, whole
    EXPECT_EQ(lines(path).size(), 1);
    EXPECT_TRUE(contents(path).contains("the second program's event"));
}

} // namespace
} // namespace tevrak::transfer
