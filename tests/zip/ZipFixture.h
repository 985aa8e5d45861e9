#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ZipTestSupport.h"
#include "support/TestEnvironment.h"
#include "zip/Zip.h"

namespace tevrak::ziptest {

// A member as Python's zipfile reports it.
struct PyMember {
    std::string nameHex;
    unsigned flags = 0, method = 0;
    std::uint32_t crc = 0;
    std::uint64_t size = 0, compressedSize = 0;
    unsigned internal = 0;
    std::uint32_t external = 0;
    unsigned system = 0, createVersion = 0, extractVersion = 0;
    std::string dateTime;
    std::uint32_t contentCrc = 0;
    std::uint64_t contentLength = 0;
};

// Each test works in its own folder: src/ for the files to store, out/ for
// the archive.
class ZipFixture : public ::testing::Test {
protected:
    std::string dir, src, out;

    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = test::temporaryBase() + "/" + info->test_suite_name() + "." + info->name();
        src = dir + "/src";
        out = dir + "/out";
        std::filesystem::create_directories(src);
        std::filesystem::create_directories(out);
        std::filesystem::remove_all(trash());
    }

    static std::string trash() { return std::string(std::getenv("XDG_DATA_HOME")) + "/Trash"; }

    // A source file with a fixed local modification time.
    std::string put(const std::string& name, const std::string& bytes, const std::string& folder = {})
    {
        const std::string path = (folder.empty() ? src : folder) + "/" + name;
        writeFile(path, bytes);
        setLocalTime(path, 2024, 3, 5, 14, 37, 58);
        return path;
    }

    std::vector<PyMember> python(const std::string& archive)
    {
        const ToolResult r = pythonZipfile(archive);
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_NE(r.output.find("testzip=None"), std::string::npos) << r.output;
        std::vector<PyMember> members;
        std::istringstream lines(r.output);
        std::string line;
        while (std::getline(lines, line)) {
            if (line.rfind("testzip=", 0) == 0)
                continue;
            std::istringstream f(line);
            PyMember m;
            f >> m.nameHex >> m.flags >> m.method >> m.crc >> m.size >> m.compressedSize >> m.internal >>
                m.external >> m.system >> m.createVersion >> m.extractVersion >> m.dateTime >> m.contentCrc >>
                m.contentLength;
            if (f)
                members.push_back(m);
        }
        return members;
    }

    // The values zipinfo -v shows for one label, one per member in order.
    static std::vector<std::string> zipinfoValues(const std::string& output, const std::string& label)
    {
        std::vector<std::string> values;
        std::istringstream lines(output);
        std::string line;
        while (std::getline(lines, line)) {
            const auto at = line.find(label + ":");
            if (at == std::string::npos)
                continue;
            std::string value = line.substr(at + label.size() + 1);
            value.erase(0, value.find_first_not_of(' '));
            values.push_back(value);
        }
        return values;
    }

    // unzip -t and zipinfo -v accept the archive; Python's zipfile reads
    // every member back with a matching CRC.
    std::vector<PyMember> expectReadersAccept(const std::string& archive, std::size_t members)
    {
        const ToolResult t = unzipTest(archive);
        EXPECT_EQ(t.status, 0) << t.output;
        EXPECT_NE(t.output.find("No errors detected"), std::string::npos) << t.output;
        const ToolResult z = zipinfoVerbose(archive);
        EXPECT_EQ(z.status, 0) << z.output;
        const auto listed = python(archive);
        EXPECT_EQ(listed.size(), members);
        return listed;
    }
};

} // namespace tevrak::ziptest
