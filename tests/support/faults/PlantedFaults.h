#pragma once

#include <functional>
#include <string>

// Faults planted in the system calls that put files in place, for the test
// program that links this file: the program's own renameat2 and fsync stand
// in front of the C library's (the code under test calls them as usual), and
// do what the test planted for the paths it names, and the real call for all
// others. One fault of each kind at a time; a fault lasts while its object lives.
namespace tevrak::test {

// Every renameat2 onto a path ending in `targetSuffix` fails with EIO.
class FailedRename {
public:
    explicit FailedRename(std::string targetSuffix);
    ~FailedRename();
};

// Just before a renameat2 onto a path ending in `targetSuffix`, `meanwhile`
// runs (another program taking that name, say), once.
class BeforeRename {
public:
    BeforeRename(std::string targetSuffix, std::function<void(const std::string& target)> meanwhile);
    ~BeforeRename();
};

// Every fsync of a file whose path contains `pathPart` fails with EIO.
class FailedFlush {
public:
    explicit FailedFlush(std::string pathPart);
    ~FailedFlush();
};

} // namespace tevrak::test
