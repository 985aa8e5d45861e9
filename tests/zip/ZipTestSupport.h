#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zip/Zip.h"

namespace tevrak::ziptest {

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
std::string randomBytes(std::size_t size, unsigned seed);
// Sets a file's modification time to the given local time.
void setLocalTime(const std::string& path, int year, int month, int day, int hour, int minute, int second);
std::uint32_t crcOf(const std::string& bytes);
// Raw inflate (no zlib header) of a member's data.
std::string inflateRaw(const std::string& data, std::size_t expectedSize);
// Raw deflate at a zlib level (32 KiB window, memory level 8), in one go.
std::string deflateRaw(const std::string& data, int level);

// A GIF89a picture with one 256-colour frame of pseudo-random pixels, its
// LZW data written with a clear code every 250 pixels (so every pixel is a
// 9-bit literal): what a scanned colour document looks like to deflate.
std::string makeGif(int width, int height, unsigned seed);

// The archive read front to back, independently of the writer's own reader:
// local headers in sequence, then the central directory, then the end record.
struct LocalRecord {
    std::uint64_t offset = 0;
    std::string header; // the 30 fixed bytes
    std::uint16_t version = 0, flags = 0, method = 0, time = 0, date = 0;
    std::uint32_t crc = 0, compressedSize = 0, size = 0;
    std::string name, extra, data;
};
struct CentralRecord {
    std::string header; // the 46 fixed bytes
    std::uint16_t madeBy = 0, version = 0, flags = 0, method = 0, time = 0, date = 0;
    std::uint32_t crc = 0, compressedSize = 0, size = 0;
    std::uint16_t commentLength = 0, diskStart = 0, internal = 0;
    std::uint32_t external = 0, localOffset = 0;
    std::string name, extra;
};
struct EndRecord {
    std::uint16_t disk = 0, centralDisk = 0, entriesHere = 0, entries = 0, commentLength = 0;
    std::uint32_t centralSize = 0, centralOffset = 0;
    std::uint64_t offset = 0;
};
struct Layout {
    std::vector<LocalRecord> locals;
    std::vector<CentralRecord> centrals;
    EndRecord end;
};
// Fails the current test (and returns an empty layout) when the bytes do not
// follow the layout exactly: members back to back from offset 0, no data
// descriptors, the directory right after, the end record closing the file.
Layout parseLayout(const std::string& bytes);

// Independent readers.
struct ToolResult {
    int status = -1;
    std::string output;
};
ToolResult run(const std::string& command);
ToolResult unzipTest(const std::string& archive);      // unzip -t
ToolResult zipinfoVerbose(const std::string& archive); // zipinfo -v
// Python's zipfile (the system python3): one line per member
// "name-hex flag method crc size csize internal external system extract-version
//  Y-M-D-h-m-s content-crc content-length", then "testzip=<first bad member or None>".
ToolResult pythonZipfile(const std::string& archive);

std::string hex(const std::string& bytes);

// Everything a run reports.
struct Recorder {
    struct Error {
        std::string fileName, extended;
        int code;
    };
    std::vector<Error> errors;
    std::vector<std::pair<int, int>> progress;
    std::vector<std::pair<std::string, int>> begun;
    std::vector<std::pair<std::string, int>> deleted;
    int messagePumps = 0;
    bool pumpBeforeEachProgress = true;

    void attach(TZip& zip);
    bool hasError(int code) const;
    std::string describe() const;
};

} // namespace tevrak::ziptest
