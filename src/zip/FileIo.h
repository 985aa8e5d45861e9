#pragma once

// The file and path helpers of the ZIP writer: POSIX calls with their
// retries and their failures turned into exceptions, "/" separated paths.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace tevrak::zipio {

// Size of the read, deflate and write buffers.
inline constexpr std::size_t BufferSize = 256 * 1024;

// A failed write or flush of the new archive: the whole run fails.
struct WriteFailure : std::runtime_error {
    int code;
    WriteFailure(int error, const std::string& what) : std::runtime_error(what), code(error) {}
};

// A source file that could not be read to its end: that file is left out.
struct ReadFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// An open file descriptor, closed when the Fd goes.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset(int fd = -1);
    int release();

private:
    int fd_;
};

std::string errorText(int code);

std::string withSlashes(std::string path);
std::string folderOf(const std::string& path); // "." for a bare name
std::string nameOf(const std::string& path);
std::string join(const std::string& folder, const std::string& name);

// What identifies a source file as the one that was stored.
struct Identity {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    std::int64_t mtimeSec = 0;
    long mtimeNsec = 0;
    bool operator==(const Identity&) const = default;
};
Identity identityOf(const struct stat& st);

// Reads up to `length` bytes; 0 at the end of the file. Throws ReadFailure.
std::size_t readSome(int fd, unsigned char* buffer, std::size_t length);

// Reads exactly `length` bytes at `offset`: false when the file ends first or
// cannot be read (a reader of untrusted files decides what that means).
bool readAllAt(int fd, void* buffer, std::size_t length, std::uint64_t offset);

// Writes all bytes at `offset`. Throws WriteFailure.
void writeAllAt(int fd, const unsigned char* data, std::size_t length, std::uint64_t offset);

// Copies a byte range between two files, in the kernel where it can, else
// through `buffer` (sized on first use). Throws WriteFailure.
void copyRange(int in, std::uint64_t inOffset, int out, std::uint64_t outOffset, std::uint64_t length,
               std::vector<unsigned char>& buffer);

// Starts writing a range of the new archive to disk without waiting for it,
// so that the flush that ends the run finds little left to do.
void startWriteback(int fd, std::uint64_t offset, std::uint64_t length);

// fsync with the archive's failure message. Throws WriteFailure.
void flushFile(int fd);
// A whole copy of `from` into the new file `to` (created, never replacing,
// with `from`'s permissions and times), flushed. Throws WriteFailure; no
// partial copy is left behind.
void copyWholeFile(const std::string& from, const std::string& to);
void syncFolder(const std::string& folder);

} // namespace tevrak::zipio
