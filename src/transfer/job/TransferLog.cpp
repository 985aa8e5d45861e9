#include "transfer/job/TransferLog.h"

#include "platform/core/DriveC.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tevrak::transfer {

namespace {

// A name or a server's reason may carry line ends; the history keeps one line per event.
QString oneLine(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    for (QChar& c : text)
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n'))
            c = QLatin1Char(' ');
    return text;
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

void TransferLog::started() { append(QStringLiteral("transfer started")); }

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

void TransferLog::note(const QString& event)
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

void TransferLog::rotateWhenFull()
{
    struct stat status {};
    const QByteArray path = QFile::encodeName(m_filePath);
    if (::stat(path.constData(), &status) == 0 && status.st_size >= m_rotationSize)
        std::rename(path.constData(), QFile::encodeName(oldFilePath()).constData());
}

void TransferLog::append(const QString& event)
{
    QDir().mkpath(QFileInfo(m_filePath).path());
    rotateWhenFull();
    const int fd = ::open(QFile::encodeName(m_filePath).constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC,
                          0644);
    if (fd < 0)
        return;
    QByteArray line;
    if (endsInTornLine(fd))
        line += '\n';
    line += QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")).toUtf8();
    line += event.toUtf8();
    line += '\n';
    writeAll(fd, line);
    ::close(fd);
}

} // namespace tevrak::transfer
