#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tevrak::zipio {

// The new archive being written: appends through a buffer, and lets a
// member's local header be written again once its sizes are known. Every
// range written to the file starts its way to disk at once.
class OutputFile {
public:
    // Appends from `start` on; the bytes before it are someone else's.
    OutputFile(int fd, std::vector<unsigned char>& buffer, std::uint64_t start)
        : fd_(fd), buffer_(buffer), flushed_(start)
    {
    }

    std::uint64_t position() const { return flushed_ + used_; }

    void write(const void* data, std::size_t length);
    void write(const std::string& bytes) { write(bytes.data(), bytes.size()); }
    void flush();
    // Writes `bytes` again at `offset`, which lies before position().
    void patch(std::uint64_t offset, const std::string& bytes);
    // Forgets everything from `offset` on.
    void truncate(std::uint64_t offset);
    // Appends a byte range of another file.
    void copyFrom(int in, std::uint64_t offset, std::uint64_t length, std::vector<unsigned char>& scratch);

private:
    int fd_;
    std::vector<unsigned char>& buffer_;
    std::uint64_t flushed_;
    std::size_t used_ = 0;
};

} // namespace tevrak::zipio
