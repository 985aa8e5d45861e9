#pragma once

#include <cstddef>
#include <cstdint>

namespace tevrak {

// Where the bytes of an upload come from. Size() is asked once, before the
// first Read; the transfer sends exactly that many bytes.
class TDataSource {
public:
    virtual ~TDataSource() = default;
    virtual std::uint64_t Size() = 0;
    // Up to size bytes; 0 means the source has nothing more.
    virtual size_t Read(char* data, size_t size) = 0;
};

// Where the bytes of a download go, in arrival order.
class TDataSink {
public:
    virtual ~TDataSink() = default;
    virtual void Write(const char* data, size_t size) = 0;
};

} // namespace tevrak
