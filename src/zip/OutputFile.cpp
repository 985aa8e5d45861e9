#include "zip/OutputFile.h"

#include "zip/FileIo.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace tevrak::zipio {

void OutputFile::write(const void* data, std::size_t length)
{
    const auto* p = static_cast<const unsigned char*>(data);
    while (length > 0) {
        if (used_ == buffer_.size())
            flush();
        const std::size_t chunk = std::min(length, buffer_.size() - used_);
        std::memcpy(buffer_.data() + used_, p, chunk);
        used_ += chunk;
        p += chunk;
        length -= chunk;
    }
}

void OutputFile::flush()
{
    writeAllAt(fd_, buffer_.data(), used_, flushed_);
    startWriteback(fd_, flushed_, used_);
    flushed_ += used_;
    used_ = 0;
}

void OutputFile::patch(std::uint64_t offset, const std::string& bytes)
{
    if (offset >= flushed_) {
        std::memcpy(buffer_.data() + (offset - flushed_), bytes.data(), bytes.size());
        return;
    }
    flush();
    writeAllAt(fd_, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), offset);
}

void OutputFile::truncate(std::uint64_t offset)
{
    if (offset >= flushed_) {
        used_ = static_cast<std::size_t>(offset - flushed_);
        return;
    }
    used_ = 0;
    flushed_ = offset;
    if (::ftruncate(fd_, static_cast<off_t>(offset)) != 0)
        throw WriteFailure(errno, "writing the archive: " + errorText(errno));
}

void OutputFile::copyFrom(int in, std::uint64_t offset, std::uint64_t length,
                          std::vector<unsigned char>& scratch)
{
    flush();
    copyRange(in, offset, fd_, flushed_, length, scratch);
    startWriteback(fd_, flushed_, length);
    flushed_ += length;
}

} // namespace tevrak::zipio
