#include <gtest/gtest.h>

#include <QApplication>
#include <filesystem>

#include "support/TestEnvironment.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    tevrak::test::useTemporaryWorkstation();
    // Widget tests run without a display unless a test run asks for a real one.
    if (qEnvironmentVariableIsEmpty("TEVRAK_TEST_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int result = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(tevrak::test::temporaryBase(), ignored);
    return result;
}
