#pragma once

#include <cstdint>
#include <exception>
#include <thread>
#include <vector>

namespace tevrak::zipio {

// The members kept ahead of the first new file have their places in the new
// archive already: a helper thread copies them (in the kernel, and starts
// writing them to disk) while the new files are deflated behind them. It
// touches only the two files, never an event. Both files must stay open
// until finish() or the destructor, which wait for the copy.
class PrefixCopy {
public:
    struct Range {
        std::uint64_t from, to, length;
    };

    // Starts copying the ranges from `in` to `out` (on the calling thread
    // when no helper thread can be had).
    PrefixCopy(int in, int out, std::vector<Range> ranges);
    ~PrefixCopy();
    PrefixCopy(const PrefixCopy&) = delete;
    PrefixCopy& operator=(const PrefixCopy&) = delete;

    // Waits for the copy; throws what it failed with (a WriteFailure).
    void finish();

private:
    void copyAll();

    int in_;
    int out_;
    std::vector<Range> ranges_;
    std::exception_ptr failure_;
    std::thread thread_;
};

} // namespace tevrak::zipio
