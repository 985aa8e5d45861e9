#include "transfer/job/TransferLog.h"

#include "platform/core/DriveC.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/file.h>
#include <unistd.h>

namespace tevrak::transfer {

namespace {

// A name or a server's reason may carry line ends; the history keeps one line per event.
// A reason's detail lines (indented under its first) join it with one space.
QString oneLine(QString text)
{
    static const QRegularExpression lineEnds(QStringLiteral("[ \t]*[\r\n]+[ \t]*"));
    return text.replace(lineEnds, QStringLiteral(" "));
}

// Whether the open file's last byte is something other than a line end.
bool endsInTornLine(int fd)
{
    struct stat status {};
    if (::fstat(fd, &status) != 0 || status.st_size == 0)
        return false;
    char last = '\n';
    return ::pread(fd, &last, 1, status.st_size - 1) == 1 && last != '\n';
}

void writeAll(int fd, const QByteArray& bytes)
{
    const char* next = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, next, static_cast<size_t>(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        next += written;
        left -= written;
    }
}

} // namespace

TransferLog::TransferLog() : TransferLog(platform::localPath(platform::paths::transferLog)) {}

TransferLog::TransferLog(const QString& filePath, qint64 rotationSize)
    : m_filePath(filePath), m_rotationSize(rotationSize)
{
}

void TransferLog::started()
{
    m_thisRun.clear();
    append(QStringLiteral("transfer started"));
}

void TransferLog::fileSent(const QString& name, qint64 size)
{
    append(QStringLiteral("sent %1 (%2 bytes)").arg(oneLine(name), QString::number(size)));
}

void TransferLog::fileReceived(const QString& name, qint64 size)
{
    append(QStringLiteral("received %1 (%2 bytes)").arg(oneLine(name), QString::number(size)));
}

void TransferLog::rowsExported(const QString& table, qsizetype count)
{
    append(QStringLiteral("exported %1 rows of %2").arg(QString::number(count), oneLine(table)));
}

void TransferLog::fileFailed(const QString& name, const QString& reason)
{
    append(QStringLiteral("not transferred %1: %2").arg(oneLine(name), oneLine(reason)));
}

void TransferLog::fileLeftOnServer(const QString& name, const QString& reason)
{
    append(QStringLiteral("left on the server %1: %2").arg(oneLine(name), oneLine(reason)));
}

void TransferLog::note(const QString& event)
{
    append(oneLine(event));
}

void TransferLog::documentRenamed(const QString& from, const QString& to)
{
    append(
        QStringLiteral("renamed %1 to %2 (the claim archive already holds a different document of that name)")
            .arg(oneLine(from), oneLine(to)));
}

void TransferLog::documentAlreadyPacked(const QString& name, const QString& archive,
                                        const QString& trashFailure)
{
    const QString held =
        QStringLiteral("%1 is already in %2 with the same contents").arg(oneLine(name), oneLine(archive));
    append(trashFailure.isEmpty()
               ? held + QStringLiteral("; moved to the trash")
               : held + QStringLiteral("; it stays in the outbox: ") + oneLine(trashFailure));
}

void TransferLog::documentNotPacked(const QString& name, const QString& archive, const QString& cause)
{
    append(QStringLiteral("not packed %1 into %2: %3; it stays in the outbox")
               .arg(oneLine(name), oneLine(archive), oneLine(cause)));
}

void TransferLog::serverNote(const QString& event)
{
    append(QStringLiteral("server: %1").arg(oneLine(event)));
}

void TransferLog::finished(bool ok, const QString& failureReason)
{
    if (ok)
        append(QStringLiteral("transfer complete"));
    else
        append(QStringLiteral("transfer failed: %1").arg(oneLine(failureReason)));
}

void TransferLog::cancelled()
{
    append(QStringLiteral("transfer cancelled by the clerk; what was not sent or received waits for the next Transfer"));
}

void TransferLog::append(const QString& event)
{
    m_thisRun << QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss ")) + event;
    QDir().mkpath(QFileInfo(m_filePath).path());
    const QByteArray path = QFile::encodeName(m_filePath);
    // Writers of the history (two programs at once) take turns on the file
    // itself; a writer that finds the file full renames it to the old one
    // under the lock, and a writer that finds the name no longer its file
    // (another just rotated it) opens the new one, so no rotation replaces
    // the history a moment-old rotation made.
    for (int attempt = 0; attempt < 4; ++attempt) {
        const int fd = ::open(path.constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0)
            return;
        struct stat opened {}, named {};
        const bool locked = ::flock(fd, LOCK_EX) == 0;
        if (!locked || ::fstat(fd, &opened) != 0 || ::stat(path.constData(), &named) != 0 ||
            opened.st_ino != named.st_ino || opened.st_dev != named.st_dev) {
            ::close(fd);
            if (!locked)
                return;
            continue;
        }
        if (opened.st_size >= m_rotationSize) {
            std::rename(path.constData(), QFile::encodeName(oldFilePath()).constData());
            ::close(fd);
            continue;
        }
        QByteArray line;
        if (endsInTornLine(fd))
            line += '\n';
        line += QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")).toUtf8();
        line += event.toUtf8();
        line += '\n';
        writeAll(fd, line);
        ::close(fd);
        return;
    }
}

} // namespace tevrak::transfer
