#include "zip/ZipWorkspace.h"

#include "zip/FileIo.h"

#include <stdexcept>
#include <unistd.h>

namespace tevrak {

ZipWorkspace::ZipWorkspace() : input(zipio::BufferSize), output(zipio::BufferSize), write(zipio::BufferSize)
{
}

ZipWorkspace::~ZipWorkspace()
{
    waitForCloser();
    if (level_ >= 0)
        ::deflateEnd(&stream);
}

void ZipWorkspace::start(int level)
{
    if (level_ == level) {
        ::deflateReset(&stream);
        return;
    }
    if (level_ >= 0)
        ::deflateEnd(&stream);
    level_ = -1;
    stream = z_stream{};
    if (::deflateInit2(&stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("zlib cannot start a deflate stream");
    level_ = level;
}

void ZipWorkspace::releaseReplaced(int fd)
{
    waitForCloser();
    try {
        closer_ = std::thread([fd] { ::close(fd); });
    } catch (const std::system_error&) {
        ::close(fd); // no thread to be had: the caller waits for the close
    }
}

void ZipWorkspace::waitForCloser()
{
    if (closer_.joinable())
        closer_.join();
}

} // namespace tevrak
