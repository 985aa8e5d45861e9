#pragma once

// Small helpers shared by the connection classes (not part of the public API).

#include <chrono>
#include <string>

#include <netinet/in.h>

namespace tevrak::socketutil {

// Waits for events on one socket for at most timeout milliseconds (0 or less:
// without limit), resuming after signals. Returns poll's revents, 0 on expiry.
short PollOne(int fd, short events, int timeout);

// Milliseconds left until deadline (at least 1 while time remains, 0 when passed).
int MillisecondsLeft(std::chrono::steady_clock::time_point deadline);

std::string AddressText(const in_addr& address);
bool ParseDottedQuad(const std::string& text, in_addr& address);

// Connects fd to address:port; timeout 0 or less blocks. Returns 0 or errno
// (ETIMEDOUT when the limit passes).
int ConnectWithin(int fd, const sockaddr_in& address, int timeout);

} // namespace tevrak::socketutil
