#include "app/SingleInstance.h"

#include "platform/core/DriveC.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tevrak {

SingleInstance::SingleInstance()
{
    const QString root = platform::localPath(QStringLiteral("c:\\"));
    QDir().mkpath(root);
    m_fd = ::open(QFile::encodeName(root + QStringLiteral("/.tevrak-running")).constData(),
                  O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd < 0)
        return;
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        m_acquired = false;
}

SingleInstance::~SingleInstance()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

QString SingleInstance::alreadyRunningMessage()
{
    return QStringLiteral("โปรแกรม Tevrak เปิดอยู่แล้วบนเครื่องนี้: กรุณาใช้หน้าต่างที่เปิดอยู่");
}

} // namespace tevrak
