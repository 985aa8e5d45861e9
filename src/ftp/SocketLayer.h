#pragma once

namespace tevrak {

// The process-wide socket layer, prepared when the first connection object is
// created and released with the last one; the count is kept under a lock. On
// Linux there is little to prepare: the one thing that matters is that a send
// to a peer that has gone away reports an error instead of killing the process
// with SIGPIPE, which every send here asks for (MSG_NOSIGNAL).
class TSocketLayer {
public:
    TSocketLayer();
    ~TSocketLayer();
    TSocketLayer(const TSocketLayer&) = delete;
    TSocketLayer& operator=(const TSocketLayer&) = delete;

    // Number of live users (connection objects) of the socket layer.
    static int Users();
};

} // namespace tevrak
