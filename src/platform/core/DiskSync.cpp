#include "platform/core/DiskSync.h"

#include "platform/core/Error.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace tevrak::platform {

void syncFile(const QString& localPath)
{
    const int fd = ::open(QFile::encodeName(localPath).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        throw Error(QStringLiteral("ไม่สามารถบันทึกไฟล์ลงดิสก์ได้\n%1: %2")
                        .arg(localPath, QString::fromLocal8Bit(std::strerror(error))));
    }
    ::close(fd);
}

void syncFolder(const QString& localFolder)
{
    const int fd = ::open(QFile::encodeName(localFolder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace tevrak::platform
