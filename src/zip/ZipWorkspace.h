#pragma once

#include <thread>
#include <vector>
#include <zlib.h>

namespace tevrak {

// What a TZip keeps between runs: the buffers and the zlib state, so that
// packing many files one run at a time allocates nothing new, and the last
// handle on the archive the latest run replaced.
class ZipWorkspace {
public:
    ZipWorkspace();
    ~ZipWorkspace(); // waits for the replaced archive's closing, then ends zlib
    ZipWorkspace(const ZipWorkspace&) = delete;
    ZipWorkspace& operator=(const ZipWorkspace&) = delete;

    std::vector<unsigned char> input;  // source bytes, and scratch for kept-member copies
    std::vector<unsigned char> output; // deflated bytes
    std::vector<unsigned char> write;  // the new archive's write buffer
    z_stream stream{};

    // Readies the raw deflate stream (no zlib header or trailer, 32 KiB
    // window, memory level 8) at `level`, reusing it when it has that level.
    void start(int level);

    // The archive a run replaced stays open until it has been renamed over,
    // so that the rename is quick; closing that last handle frees the old
    // file's blocks, which takes milliseconds for a large archive. That
    // happens on a helper thread while the caller goes on (typically with
    // the next file's run); the next release, or the end of the TZip, waits
    // for it.
    void releaseReplaced(int fd);

private:
    void waitForCloser();

    int level_ = -1;
    std::thread closer_;
};

} // namespace tevrak
