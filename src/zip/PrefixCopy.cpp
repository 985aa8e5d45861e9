#include "zip/PrefixCopy.h"

#include "zip/FileIo.h"

#include <system_error>

namespace tevrak::zipio {

PrefixCopy::PrefixCopy(int in, int out, std::vector<Range> ranges)
    : in_(in), out_(out), ranges_(std::move(ranges))
{
    if (ranges_.empty())
        return;
    try {
        thread_ = std::thread([this] { copyAll(); });
    } catch (const std::system_error&) {
        copyAll();
    }
}

PrefixCopy::~PrefixCopy()
{
    if (thread_.joinable())
        thread_.join();
}

void PrefixCopy::finish()
{
    if (thread_.joinable())
        thread_.join();
    if (failure_)
        std::rethrow_exception(failure_);
}

void PrefixCopy::copyAll()
{
    try {
        std::vector<unsigned char> scratch;
        for (const Range& range : ranges_) {
            copyRange(in_, range.from, out_, range.to, range.length, scratch);
            startWriteback(out_, range.to, range.length);
        }
    } catch (...) {
        failure_ = std::current_exception();
    }
}

} // namespace tevrak::zipio
