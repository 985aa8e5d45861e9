#include "support/TestEnvironment.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace tevrak::test {

namespace {
std::string g_base;
}

void useTemporaryWorkstation()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "tevrak-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder for the test");
    g_base = pattern;
    const std::filesystem::path base(g_base);
    std::filesystem::create_directories(base / "C");
    std::filesystem::create_directories(base / "config");
    std::filesystem::create_directories(base / "data");
    setenv("TEVRAK_ROOT", (base / "C").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (base / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (base / "data").c_str(), 1);
    setenv("HOME", g_base.c_str(), 1);
}

std::string temporaryBase() { return g_base; }

std::string driveCFolder() { return (std::filesystem::path(g_base) / "C").string(); }

}  // namespace tevrak::test
