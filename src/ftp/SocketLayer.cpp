#include "ftp/SocketLayer.h"

#include <mutex>

namespace tevrak {

namespace {
std::mutex g_lock;
int g_users = 0;
} // namespace

TSocketLayer::TSocketLayer()
{
    std::lock_guard<std::mutex> hold(g_lock);
    // First user: nothing to load on this platform. Sends carry MSG_NOSIGNAL,
    // so the process-wide SIGPIPE disposition is left to the program.
    ++g_users;
}

TSocketLayer::~TSocketLayer()
{
    std::lock_guard<std::mutex> hold(g_lock);
    --g_users;
}

int TSocketLayer::Users()
{
    std::lock_guard<std::mutex> hold(g_lock);
    return g_users;
}

} // namespace tevrak
