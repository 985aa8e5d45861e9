#include "platform/StagedCopy.h"

#include "platform/Error.h"

#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace tevrak::platform {

namespace {

QString reason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

// Copies every byte of `from` to `to`, in the kernel where it can.
void copyBytes(int from, int to)
{
    bool kernelCopy = true;
    std::vector<char> buffer;
    for (;;) {
        if (kernelCopy) {
            const ssize_t copied = ::copy_file_range(from, nullptr, to, nullptr, 8 << 20, 0);
            if (copied > 0)
                continue;
            if (copied == 0)
                return;
            if (errno == EINTR)
                continue;
            if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP)
                throw Error(reason(errno));
            kernelCopy = false;
            buffer.resize(1 << 20);
        }
        const ssize_t got = ::read(from, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw Error(reason(errno));
        }
        if (got == 0)
            return;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(to, buffer.data() + done, static_cast<size_t>(got - done));
            if (put < 0) {
                if (errno == EINTR)
                    continue;
                throw Error(reason(errno));
            }
            done += put;
        }
    }
}

}  // namespace

void syncFolder(const QString& localFolder)
{
    const int fd = ::open(QFile::encodeName(localFolder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

StagedCopy::StagedCopy(const QString& localSource, const QString& localTarget) : m_target(localTarget)
{
    const QFileInfo target(localTarget);
    const QByteArray source = QFile::encodeName(localSource);
    Descriptor in(::open(source.constData(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0)
        throw Error(reason(errno));

    // A hidden name no file list or upload mask picks up.
    QByteArray temporary =
        QFile::encodeName(target.absolutePath() + QStringLiteral("/.") + target.fileName() + QStringLiteral(".XXXXXX"));
    Descriptor out(::mkostemp(temporary.data(), O_CLOEXEC));
    if (out.get() < 0)
        throw Error(reason(errno));
    m_temporary = QFile::decodeName(temporary);
    try {
        copyBytes(in.get(), out.get());
        if (::fsync(out.get()) != 0)
            throw Error(reason(errno));
        if (::close(out.release()) != 0)
            throw Error(reason(errno));
    } catch (...) {
        ::unlink(temporary.constData());
        m_temporary.clear();
        throw;
    }
}

StagedCopy::~StagedCopy()
{
    if (!m_committed)
        discard();
}

void StagedCopy::commit()
{
    if (::rename(QFile::encodeName(m_temporary).constData(), QFile::encodeName(m_target).constData()) != 0)
        throw Error(reason(errno));
    m_temporary.clear();
    m_committed = true;
    syncFolder(QFileInfo(m_target).absolutePath());
}

void StagedCopy::discard()
{
    if (m_committed) {
        ::unlink(QFile::encodeName(m_target).constData());
        m_committed = false;
        syncFolder(QFileInfo(m_target).absolutePath());
    } else if (!m_temporary.isEmpty()) {
        ::unlink(QFile::encodeName(m_temporary).constData());
        m_temporary.clear();
    }
}

}  // namespace tevrak::platform
