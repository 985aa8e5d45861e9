#pragma once

// Small helpers shared by the connection classes (not part of the public API).

#include <chrono>
#include <functional>
#include <string>

#include <netinet/in.h>

namespace tevrak::socketutil {

// How often a wait with a pulse runs it, in milliseconds.
constexpr int PulseInterval = 100;

// Waits for events on one socket for at most timeout milliseconds (0 or less:
// without limit), resuming after signals. Returns poll's revents, 0 on expiry.
// A pulse, when given, runs every PulseInterval while the wait lasts; what it
// throws ends the wait.
short PollOne(int fd, short events, int timeout, const std::function<void()>& pulse = {});

// Milliseconds left until deadline (at least 1 while time remains, 0 when passed).
int MillisecondsLeft(std::chrono::steady_clock::time_point deadline);

std::string AddressText(const in_addr& address);
bool ParseDottedQuad(const std::string& text, in_addr& address);

// Connects fd to address:port; timeout 0 or less blocks. Returns 0 or errno
// (ETIMEDOUT when the limit passes). The pulse runs as in PollOne.
int ConnectWithin(int fd, const sockaddr_in& address, int timeout, const std::function<void()>& pulse = {});

} // namespace tevrak::socketutil
