#include "zip/FileIo.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace tevrak::zipio {

void Fd::reset(int fd)
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

int Fd::release()
{
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

std::string errorText(int code)
{
    return std::strerror(code);
}

std::string withSlashes(std::string path)
{
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

std::string folderOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string join(const std::string& folder, const std::string& name)
{
    return folder == "/" ? "/" + name : folder + "/" + name;
}

Identity identityOf(const struct stat& st)
{
    return {st.st_dev, st.st_ino, st.st_size, static_cast<std::int64_t>(st.st_mtim.tv_sec),
            st.st_mtim.tv_nsec};
}

std::size_t readSome(int fd, unsigned char* buffer, std::size_t length)
{
    for (;;) {
        const ssize_t n = ::read(fd, buffer, length);
        if (n >= 0)
            return static_cast<std::size_t>(n);
        if (errno != EINTR)
            throw ReadFailure(errorText(errno));
    }
}

bool readAllAt(int fd, void* buffer, std::size_t length, std::uint64_t offset)
{
    auto* p = static_cast<unsigned char*>(buffer);
    while (length > 0) {
        const ssize_t n = ::pread(fd, p, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        length -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

void writeAllAt(int fd, const unsigned char* data, std::size_t length, std::uint64_t offset)
{
    while (length > 0) {
        const ssize_t n = ::pwrite(fd, data, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw WriteFailure(n < 0 ? errno : EIO, "writing the archive: " + errorText(n < 0 ? errno : EIO));
        data += n;
        length -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
}

void copyRange(int in, std::uint64_t inOffset, int out, std::uint64_t outOffset, std::uint64_t length,
               std::vector<unsigned char>& buffer)
{
    bool kernelCopy = true;
    while (length > 0) {
        if (kernelCopy) {
            loff_t from = static_cast<loff_t>(inOffset), to = static_cast<loff_t>(outOffset);
            const ssize_t n =
                ::copy_file_range(in, &from, out, &to, std::min<std::uint64_t>(length, 1u << 30), 0);
            if (n > 0) {
                inOffset += static_cast<std::uint64_t>(n);
                outOffset += static_cast<std::uint64_t>(n);
                length -= static_cast<std::uint64_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == ENOSPC || errno == EDQUOT || errno == EFBIG || errno == EIO))
                throw WriteFailure(errno, "writing the archive: " + errorText(errno));
            kernelCopy = false; // not supported here (or a short source): copy through the buffer
        }
        if (buffer.empty())
            buffer.resize(BufferSize);
        const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(length, buffer.size()));
        const ssize_t n = ::pread(in, buffer.data(), chunk, static_cast<off_t>(inOffset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw WriteFailure(n < 0 ? errno : EIO,
                               "reading the old archive: " + errorText(n < 0 ? errno : EIO));
        writeAllAt(out, buffer.data(), static_cast<std::size_t>(n), outOffset);
        inOffset += static_cast<std::uint64_t>(n);
        outOffset += static_cast<std::uint64_t>(n);
        length -= static_cast<std::uint64_t>(n);
    }
}

void startWriteback(int fd, std::uint64_t offset, std::uint64_t length)
{
    if (length > 0)
        ::sync_file_range(fd, static_cast<off_t>(offset), static_cast<off_t>(length), SYNC_FILE_RANGE_WRITE);
}

void flushFile(int fd)
{
    if (::fsync(fd) != 0)
        throw WriteFailure(errno, "flushing the archive: " + errorText(errno));
}

void copyWholeFile(const std::string& from, const std::string& to)
{
    const Fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    struct stat st {};
    if (!in || ::fstat(in.get(), &st) != 0)
        throw WriteFailure(errno, errorText(errno));
    if (!S_ISREG(st.st_mode))
        throw WriteFailure(EINVAL, "not a regular file");
    Fd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 0777));
    if (!out)
        throw WriteFailure(errno, errorText(errno));
    try {
        std::vector<unsigned char> buffer;
        copyRange(in.get(), 0, out.get(), 0, static_cast<std::uint64_t>(st.st_size), buffer);
        flushFile(out.get());
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(out.get(), times);
        if (::close(out.release()) != 0)
            throw WriteFailure(errno, errorText(errno));
    } catch (...) {
        out.reset();
        ::unlink(to.c_str());
        throw;
    }
}

void syncFolder(const std::string& folder)
{
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir && ::fsync(dir.get()) != 0 && errno != EINVAL && errno != EROFS)
        throw WriteFailure(errno, "flushing the archive's folder: " + errorText(errno));
}

} // namespace tevrak::zipio
