#pragma once

#include <functional>
#include <string>

#include "ftp/SocketLayer.h"
#include "ftp/TcpLink.h"

namespace tevrak {

// The listening end of one active data connection: bound to the control
// connection's local address on a free port, it accepts the server's one
// connection, and only from the server's address.
class TDataListener {
public:
    TDataListener();
    ~TDataListener();
    TDataListener(const TDataListener&) = delete;
    TDataListener& operator=(const TDataListener&) = delete;

    std::string BoundIP;
    int BoundPort = 0; // 0 before Listen: any; the assigned port afterwards
    int Backlog = 15;
    int RecvBufferSize = 32768;
    int SendBufferSize = 32768;

    // Binds and starts listening; BoundPort then holds the assigned port.
    void Listen();

    enum class TWaitResult { Accepted, TimedOut, ControlReadable };

    // Waits at most timeout milliseconds (0: without limit) for a connection
    // from allowedPeer (dotted IPv4). Connections from any other address are
    // closed and the wait goes on. When controlHandle is a socket, the wait
    // also ends as soon as that socket has something to read (the server
    // answering on the control connection instead of connecting). On
    // Accepted the listening socket is closed and Connection() holds the
    // data connection.
    TWaitResult WaitForConnection(int timeout, const std::string& allowedPeer, int controlHandle = -1,
                                  const std::function<void()>& pulse = {});

    TTcpLink& Connection() { return connection_; }
    bool Listening() const { return fd_ >= 0; }
    // Number of connections refused because they came from another address.
    int RefusedConnections() const { return refused_; }

    // Closes the listening socket and the data connection, if any.
    void Close();

private:
    TSocketLayer layer_;
    int fd_ = -1;
    int refused_ = 0;
    TTcpLink connection_;
};

} // namespace tevrak
