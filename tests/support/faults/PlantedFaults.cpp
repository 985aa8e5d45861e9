#include "support/faults/PlantedFaults.h"

#include <cerrno>
#include <cstdio>
#include <dlfcn.h>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace tevrak::test {
namespace {

std::mutex faultsLock;
std::string failedRenameSuffix;
std::string beforeRenameSuffix;
std::function<void(const std::string&)> beforeRenameAction;
std::string failedFlushPart;

bool endsWith(const std::string& text, const std::string& suffix)
{
    return !suffix.empty() && text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string pathOf(int fd)
{
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[4096];
    const ssize_t n = ::readlink(link, target, sizeof target - 1);
    return n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
}

} // namespace

FailedRename::FailedRename(std::string targetSuffix)
{
    std::lock_guard<std::mutex> hold(faultsLock);
    failedRenameSuffix = std::move(targetSuffix);
}
FailedRename::~FailedRename()
{
    std::lock_guard<std::mutex> hold(faultsLock);
    failedRenameSuffix.clear();
}

BeforeRename::BeforeRename(std::string targetSuffix, std::function<void(const std::string&)> meanwhile)
{
    std::lock_guard<std::mutex> hold(faultsLock);
    beforeRenameSuffix = std::move(targetSuffix);
    beforeRenameAction = std::move(meanwhile);
}
BeforeRename::~BeforeRename()
{
    std::lock_guard<std::mutex> hold(faultsLock);
    beforeRenameSuffix.clear();
    beforeRenameAction = nullptr;
}

FailedFlush::FailedFlush(std::string pathPart)
{
    std::lock_guard<std::mutex> hold(faultsLock);
    failedFlushPart = std::move(pathPart);
}
FailedFlush::~FailedFlush()
{
    std::lock_guard<std::mutex> hold(faultsLock);
    failedFlushPart.clear();
}

} // namespace tevrak::test

using namespace tevrak::test;

extern "C" int renameat2(int oldDir, const char* oldPath, int newDir, const char* newPath, unsigned int flags) noexcept
{
    using Real = int (*)(int, const char*, int, const char*, unsigned int);
    static const Real real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "renameat2"));
    std::function<void(const std::string&)> meanwhile;
    {
        std::lock_guard<std::mutex> hold(faultsLock);
        if (endsWith(newPath, failedRenameSuffix)) {
            errno = EIO;
            return -1;
        }
        if (endsWith(newPath, beforeRenameSuffix)) {
            meanwhile = std::move(beforeRenameAction);
            beforeRenameAction = nullptr;
            beforeRenameSuffix.clear();
        }
    }
    if (meanwhile)
        meanwhile(newPath);
    return real(oldDir, oldPath, newDir, newPath, flags);
}

extern "C" int fsync(int fd)
{
    using Real = int (*)(int);
    static const Real real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "fsync"));
    {
        std::lock_guard<std::mutex> hold(faultsLock);
        if (!failedFlushPart.empty() && pathOf(fd).find(failedFlushPart) != std::string::npos) {
            errno = EIO;
            return -1;
        }
    }
    return real(fd);
}
