#include "imaging/PictureFile.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/core/Error.h"

namespace tevrak::imaging {

namespace {

QString nameOf(const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    return name.isEmpty() ? path : name;
}

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

PictureFile::PictureFile(const QString& localFile) : path_(localFile)
{
    const QByteArray encoded = QFile::encodeName(localFile);
    do {
        fd_ = ::open(encoded.constData(), O_RDONLY | O_CLOEXEC);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            fail(QStringLiteral("the file does not exist"));
        fail(QStringLiteral("the file cannot be opened (%1)").arg(systemReason(error)));
    }
    struct stat info {};
    if (::fstat(fd_, &info) != 0) {
        const int error = errno;
        ::close(fd_);
        fd_ = -1;
        fail(QStringLiteral("the file cannot be read (%1)").arg(systemReason(error)));
    }
    if (S_ISDIR(info.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        fail(QStringLiteral("it is a folder, not a picture file"));
    }
    size_ = info.st_size;
    if (S_ISREG(info.st_mode) && size_ == 0) {
        ::close(fd_);
        fd_ = -1;
        fail(QStringLiteral("the file is empty (0 bytes)"));
    }
}

PictureFile::~PictureFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

size_t PictureFile::read(void* buffer, size_t length)
{
    for (;;) {
        const ssize_t got = ::read(fd_, buffer, length);
        if (got >= 0)
            return static_cast<size_t>(got);
        if (errno != EINTR)
            fail(QStringLiteral("the file cannot be read (%1)").arg(systemReason(errno)));
    }
}

void PictureFile::skip(qint64 count)
{
    if (count > 0 && ::lseek(fd_, count, SEEK_CUR) < 0)
        fail(QStringLiteral("the file cannot be read (%1)").arg(systemReason(errno)));
}

size_t PictureFile::readAt(void* buffer, size_t length, qint64 offset) const
{
    size_t done = 0;
    while (done < length) {
        const ssize_t got = ::pread(fd_, static_cast<char*>(buffer) + done, length - done, offset + done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += static_cast<size_t>(got);
    }
    return done;
}

QString PictureFile::message(const QString& reason) const
{
    return QStringLiteral("The picture %1 cannot be shown: %2").arg(nameOf(path_), reason);
}

void PictureFile::fail(const QString& reason) const
{
    throw Error(message(reason));
}

QString PictureFile::sniffKind() const
{
    unsigned char head[16] = {};
    const size_t got = readAt(head, sizeof head, 0);
    if (got >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF)
        return QStringLiteral("a JPEG picture");
    if (got >= 4 && std::memcmp(head, "GIF8", 4) == 0)
        return QStringLiteral("a GIF picture");
    if (got >= 8 && std::memcmp(head, "\x89PNG\r\n\x1a\n", 8) == 0)
        return QStringLiteral("a PNG picture");
    if (got >= 2 && head[0] == 'B' && head[1] == 'M')
        return QStringLiteral("a BMP picture");
    if (got >= 4 && (std::memcmp(head, "II*\0", 4) == 0 || std::memcmp(head, "MM\0*", 4) == 0))
        return QStringLiteral("a TIFF picture");
    if (got >= 4 && std::memcmp(head, "%PDF", 4) == 0)
        return QStringLiteral("a PDF document");
    if (got >= 4 && std::memcmp(head, "PK\x03\x04", 4) == 0)
        return QStringLiteral("a ZIP archive");
    if (got > 0) {
        bool text = true;
        for (size_t i = 0; i < got && text; ++i)
            text = head[i] >= 0x20 || head[i] == '\n' || head[i] == '\r' || head[i] == '\t';
        if (text)
            return QStringLiteral("text");
    }
    return {};
}

} // namespace tevrak::imaging
