#include <gtest/gtest.h>

#include <filesystem>

#include "support/TestEnvironment.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    tevrak::test::useTemporaryWorkstation();
    const int result = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(tevrak::test::temporaryBase(), ignored);
    return result;
}
