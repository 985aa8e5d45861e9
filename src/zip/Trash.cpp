#include "zip/Trash.h"

#include "zip/FileIo.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tevrak {

namespace {

using zipio::errorText;


bool makeFolder(const std::string& path)
{
    if (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) {
        struct stat st;
        return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    if (errno != ENOENT)
        return false;
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0 || !makeFolder(path.substr(0, slash)))
        return false;
    return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

std::string percentEncode(const std::string& path)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '/' ||
            c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// The absolute path of the file itself (its folder resolved, not the file:
// a symbolic link is trashed as the link).
std::string absolutePath(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    char buffer[PATH_MAX];
    if (!::realpath(folder.c_str(), buffer))
        return {};
    std::string out = buffer;
    if (out != "/")
        out += '/';
    return out + name;
}

// Copies a file that cannot be renamed into the trash (another file system).
bool copyInto(const std::string& from, const std::string& to, std::string& reason)
{
    try {
        zipio::copyWholeFile(from, to);
        return true;
    } catch (const zipio::WriteFailure& failure) {
        reason = failure.what();
        return false;
    }
}

} // namespace

std::string trashFolder()
{
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome && dataHome[0] == '/')
        return std::string(dataHome) + "/Trash";
    const char* home = std::getenv("HOME");
    std::string base = (home && home[0] == '/') ? home : "";
    if (base.empty()) {
        if (const passwd* pw = ::getpwuid(::getuid()))
            base = pw->pw_dir;
    }
    return base + "/.local/share/Trash";
}

bool moveToTrash(const std::string& path, std::string& reason)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
        reason = errorText(errno);
        return false;
    }
    const std::string original = absolutePath(path);
    if (original.empty()) {
        reason = "cannot resolve the file's folder";
        return false;
    }
    const std::string trash = trashFolder();
    if (!makeFolder(trash + "/files") || !makeFolder(trash + "/info")) {
        reason = "cannot create the trash folders in " + trash;
        return false;
    }

    const std::string name = original.substr(original.find_last_of('/') + 1);
    const auto dot = name.find_last_of('.');
    const std::string stem = (dot == std::string::npos || dot == 0) ? name : name.substr(0, dot);
    const std::string extension = (dot == std::string::npos || dot == 0) ? "" : name.substr(dot);

    char when[32];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%S", &local);
    const std::string info =
        "[Trash Info]\nPath=" + percentEncode(original) + "\nDeletionDate=" + when + "\n";

    for (int number = 1; number < 10000; ++number) {
        const std::string trashName = number == 1 ? name : stem + "." + std::to_string(number) + extension;
        const std::string infoPath = trash + "/info/" + trashName + ".trashinfo";
        const std::string filePath = trash + "/files/" + trashName;
        // The info file is created exclusively first: it reserves the name.
        zipio::Fd fd(::open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (!fd) {
            if (errno == EEXIST)
                continue;
            reason = errorText(errno);
            return false;
        }
        try {
            zipio::writeAllAt(fd.get(), reinterpret_cast<const unsigned char*>(info.data()), info.size(), 0);
            zipio::flushFile(fd.get());
            if (::close(fd.release()) != 0)
                throw zipio::WriteFailure(errno, errorText(errno));
        } catch (const zipio::WriteFailure& failure) {
            fd.reset();
            ::unlink(infoPath.c_str());
            reason = failure.what();
            return false;
        }
        struct stat existing;
        if (::lstat(filePath.c_str(), &existing) == 0) {
            ::unlink(infoPath.c_str()); // a stray file without info: take the next name
            continue;
        }
        if (::rename(path.c_str(), filePath.c_str()) == 0)
            return true;
        const int renameError = errno;
        if (renameError == EXDEV && S_ISREG(st.st_mode)) {
            if (copyInto(path, filePath, reason)) {
                if (::unlink(path.c_str()) == 0)
                    return true;
                reason = errorText(errno);
                ::unlink(filePath.c_str());
            }
        } else {
            reason = errorText(renameError);
        }
        ::unlink(infoPath.c_str());
        return false;
    }
    reason = "no free name in the trash";
    return false;
}

} // namespace tevrak
