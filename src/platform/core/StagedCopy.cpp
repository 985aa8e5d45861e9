#include "platform/core/StagedCopy.h"

#include "platform/core/DiskSync.h"
#include "platform/core/Error.h"
#include "platform/core/FileSystem.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tevrak::platform {

namespace {

QString reason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

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

// The process's file-creation mask, read without changing it (umask() would
// change it for a moment for every thread).
mode_t creationMask()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Umask:", 0) == 0)
            return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
    }
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

// Gives the copy what a plain copy keeps and a new file gets: the source's
// modification time and the permissions of a newly created file.
void takeOverAttributes(int copy, const struct stat& source)
{
    if (::fchmod(copy, 0666 & ~creationMask()) != 0)
        throw Error(reason(errno));
    const struct timespec times[2] = {source.st_atim, source.st_mtim};
    if (::futimens(copy, times) != 0)
        throw Error(reason(errno));
}

} // namespace

StagedCopy::StagedCopy(const QString& localSource, const QString& localTarget) : m_target(localTarget)
{
    const QFileInfo target(localTarget);
    // Every failure names the file and the folder it was to be copied into.
    const auto failed = [&](const QString& why) {
        return Error(QStringLiteral("คัดลอกแฟ้มเข้าโฟลเดอร์ไม่ได้\n%1 → %2\n%3")
                         .arg(QFileInfo(localSource).fileName(), target.absolutePath(), why));
    };
    const QByteArray source = QFile::encodeName(localSource);
    Descriptor in(::open(source.constData(), O_RDONLY | O_CLOEXEC));
    struct stat sourceStatus {};
    if (in.get() < 0 || ::fstat(in.get(), &sourceStatus) != 0)
        throw failed(reason(errno));

    // A hidden name no file list or upload mask picks up.
    QByteArray temporary = QFile::encodeName(target.absolutePath() + QStringLiteral("/.") +
                                             target.fileName() + QStringLiteral(".XXXXXX"));
    Descriptor out(::mkostemp(temporary.data(), O_CLOEXEC));
    if (out.get() < 0)
        throw failed(reason(errno));
    m_temporary = QFile::decodeName(temporary);
    try {
        copyBytes(in.get(), out.get());
        takeOverAttributes(out.get(), sourceStatus);
        if (::fsync(out.get()) != 0)
            throw Error(reason(errno));
        if (::close(out.release()) != 0)
            throw Error(reason(errno));
    } catch (const Error& error) {
        ::unlink(temporary.constData());
        m_temporary.clear();
        throw failed(error.message());
    }
}

StagedCopy::~StagedCopy()
{
    if (!m_committed)
        discard();
}

void renameOver(const QString& localFile, const QString& localTarget)
{
    if (::rename(QFile::encodeName(localFile).constData(), QFile::encodeName(localTarget).constData()) != 0) {
        const QFileInfo target(localTarget);
        throw Error(QStringLiteral("นำแฟ้มเข้าโฟลเดอร์ไม่ได้\n%1 → %2\n%3")
                        .arg(target.fileName(), target.absolutePath(), reason(errno)));
    }
    syncFolder(QFileInfo(localTarget).absolutePath());
}

void StagedCopy::commit()
{
    renameOver(m_temporary, m_target);
    m_temporary.clear();
    m_committed = true;
}

bool StagedCopy::commitWithoutReplacing(const QString& localTarget)
{
    if (!renameWithoutReplacing(m_temporary, localTarget))
        return false;
    m_target = localTarget;
    m_temporary.clear();
    m_committed = true;
    return true;
}

bool renameWithoutReplacing(const QString& localFile, const QString& localTarget)
{
    if (::renameat2(AT_FDCWD, QFile::encodeName(localFile).constData(), AT_FDCWD,
                    QFile::encodeName(localTarget).constData(), RENAME_NOREPLACE) != 0) {
        if (errno == EEXIST)
            return false;
        const QFileInfo target(localTarget);
        throw Error(QStringLiteral("นำแฟ้มเข้าโฟลเดอร์ไม่ได้\n%1 → %2\n%3")
                        .arg(target.fileName(), target.absolutePath(), reason(errno)));
    }
    syncFolder(QFileInfo(localTarget).absolutePath());
    return true;
}

bool sameBytes(const QString& localA, const QString& localB)
{
    QFile a(localA), b(localB);
    if (!a.open(QIODevice::ReadOnly) || !b.open(QIODevice::ReadOnly) || a.size() != b.size())
        return false;
    constexpr qint64 block = 1 << 20;
    while (!a.atEnd()) {
        const QByteArray left = a.read(block);
        if (left.isEmpty() || left != b.read(block))
            return false;
    }
    return true;
}

QString placeUnderFreeName(const QString& localFile, const QString& localFolder, const QString& name,
                           const std::function<bool(const QString& localTarget)>& placeWithoutReplacing)
{
    const QString existing = existingEntry(localFolder, name);
    if (!existing.isEmpty() && sameBytes(existing, localFile))
        return {};
    const QFileInfo parts(name);
    const QString base = parts.completeBaseName();
    const QString extension = parts.suffix().isEmpty() ? QString() : QLatin1Char('.') + parts.suffix();
    for (int number = 1;; ++number) {
        const QString candidate =
            number == 1 ? name : QStringLiteral("%1 (%2)%3").arg(base).arg(number).arg(extension);
        if (QFile::encodeName(candidate).size() > 255)
            throw Error(QStringLiteral("ไม่มีชื่อว่างสำหรับไฟล์ \"%1\" ในโฟลเดอร์ %2").arg(name, localFolder));
        if (!existingEntry(localFolder, candidate).isEmpty())
            continue;
        if (placeWithoutReplacing(localFolder + QLatin1Char('/') + candidate))
            return candidate;
    }
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

} // namespace tevrak::platform
