#include "ZipTestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <zlib.h>

namespace tevrak::ziptest {

namespace {

std::uint16_t u16(const std::string& b, std::size_t at)
{
    return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) |
                                      (static_cast<unsigned char>(b[at + 1]) << 8));
}
std::uint32_t u32(const std::string& b, std::size_t at)
{
    return u16(b, at) | (std::uint32_t(u16(b, at + 2)) << 16);
}

std::string shellQuote(const std::string& text)
{
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

} // namespace

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

std::string randomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string out(size, '\0');
    for (auto& c : out)
        c = static_cast<char>(random() & 0xFF);
    return out;
}

void setLocalTime(const std::string& path, int year, int month, int day, int hour, int minute, int second)
{
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    const struct timespec times[2] = {{std::mktime(&t), 0}, {std::mktime(&t), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

std::uint32_t crcOf(const std::string& bytes)
{
    return static_cast<std::uint32_t>(
        ::crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

std::string inflateRaw(const std::string& data, std::size_t expectedSize)
{
    z_stream s{};
    if (::inflateInit2(&s, -15) != Z_OK)
        return "<inflateInit2 failed>";
    std::string out(expectedSize + 1, '\0');
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    s.avail_in = static_cast<uInt>(data.size());
    s.next_out = reinterpret_cast<Bytef*>(out.data());
    s.avail_out = static_cast<uInt>(out.size());
    const int status = ::inflate(&s, Z_FINISH);
    out.resize(out.size() - s.avail_out);
    const bool whole = status == Z_STREAM_END && s.avail_in == 0;
    ::inflateEnd(&s);
    return whole ? out : "<not one complete deflate stream>";
}

std::string deflateRaw(const std::string& data, int level)
{
    z_stream s{};
    if (::deflateInit2(&s, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return "<deflateInit2 failed>";
    std::string out(::deflateBound(&s, static_cast<uLong>(data.size())), '\0');
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    s.avail_in = static_cast<uInt>(data.size());
    s.next_out = reinterpret_cast<Bytef*>(out.data());
    s.avail_out = static_cast<uInt>(out.size());
    const int status = ::deflate(&s, Z_FINISH);
    out.resize(out.size() - s.avail_out);
    ::deflateEnd(&s);
    return status == Z_STREAM_END ? out : "<deflate failed>";
}

std::string makeGif(int width, int height, unsigned seed)
{
    std::string gif = "GIF89a";
    auto put16 = [&](int v) {
        gif += static_cast<char>(v & 0xFF);
        gif += static_cast<char>((v >> 8) & 0xFF);
    };
    put16(width);
    put16(height);
    gif += static_cast<char>(0xF7); // global colour table of 256 entries
    gif += '\0';
    gif += '\0';
    for (int i = 0; i < 256; ++i) {
        gif += static_cast<char>(i);
        gif += static_cast<char>(255 - i);
        gif += static_cast<char>((i * 7) & 0xFF);
    }
    gif += ',';
    put16(0);
    put16(0);
    put16(width);
    put16(height);
    gif += '\0';
    gif += static_cast<char>(8); // LZW minimum code size

    std::string lzw;
    std::uint32_t bits = 0;
    int bitCount = 0;
    auto code = [&](int value) {
        bits |= static_cast<std::uint32_t>(value) << bitCount;
        bitCount += 9;
        while (bitCount >= 8) {
            lzw += static_cast<char>(bits & 0xFF);
            bits >>= 8;
            bitCount -= 8;
        }
    };
    std::mt19937 random(seed);
    const long pixels = static_cast<long>(width) * height;
    for (long i = 0; i < pixels; ++i) {
        if (i % 250 == 0)
            code(256); // clear: the code size stays 9
        code(static_cast<int>(random() & 0xFF));
    }
    code(257); // end of information
    if (bitCount > 0)
        lzw += static_cast<char>(bits & 0xFF);
    for (std::size_t at = 0; at < lzw.size(); at += 255) {
        const std::size_t n = std::min<std::size_t>(255, lzw.size() - at);
        gif += static_cast<char>(n);
        gif += lzw.substr(at, n);
    }
    gif += '\0';
    gif += ';';
    return gif;
}

Layout parseLayout(const std::string& b)
{
    Layout layout;
    std::size_t pos = 0;
    while (pos + 4 <= b.size() && u32(b, pos) == 0x04034b50) {
        if (pos + 30 > b.size()) {
            ADD_FAILURE() << "local header cut at " << pos;
            return {};
        }
        LocalRecord r;
        r.offset = pos;
        r.header = b.substr(pos, 30);
        r.version = u16(b, pos + 4);
        r.flags = u16(b, pos + 6);
        r.method = u16(b, pos + 8);
        r.time = u16(b, pos + 10);
        r.date = u16(b, pos + 12);
        r.crc = u32(b, pos + 14);
        r.compressedSize = u32(b, pos + 18);
        r.size = u32(b, pos + 22);
        const std::size_t n = u16(b, pos + 26), m = u16(b, pos + 28);
        if (pos + 30 + n + m + r.compressedSize > b.size() || (r.flags & 0x0008)) {
            ADD_FAILURE() << "member at " << pos << " runs past the file or has a data descriptor";
            return {};
        }
        r.name = b.substr(pos + 30, n);
        r.extra = b.substr(pos + 30 + n, m);
        r.data = b.substr(pos + 30 + n + m, r.compressedSize);
        pos += 30 + n + m + r.compressedSize;
        layout.locals.push_back(std::move(r));
    }
    const std::size_t centralStart = pos;
    while (pos + 4 <= b.size() && u32(b, pos) == 0x02014b50) {
        if (pos + 46 > b.size()) {
            ADD_FAILURE() << "central header cut at " << pos;
            return {};
        }
        CentralRecord c;
        c.header = b.substr(pos, 46);
        c.madeBy = u16(b, pos + 4);
        c.version = u16(b, pos + 6);
        c.flags = u16(b, pos + 8);
        c.method = u16(b, pos + 10);
        c.time = u16(b, pos + 12);
        c.date = u16(b, pos + 14);
        c.crc = u32(b, pos + 16);
        c.compressedSize = u32(b, pos + 20);
        c.size = u32(b, pos + 24);
        const std::size_t n = u16(b, pos + 28), m = u16(b, pos + 30);
        c.commentLength = u16(b, pos + 32);
        c.diskStart = u16(b, pos + 34);
        c.internal = u16(b, pos + 36);
        c.external = u32(b, pos + 38);
        c.localOffset = u32(b, pos + 42);
        c.name = b.substr(pos + 46, n);
        c.extra = b.substr(pos + 46 + n, m);
        pos += 46 + n + m + c.commentLength;
        layout.centrals.push_back(std::move(c));
    }
    if (pos + 22 > b.size() || u32(b, pos) != 0x06054b50) {
        ADD_FAILURE() << "no end record right after the central directory (at " << pos << ")";
        return {};
    }
    EndRecord& e = layout.end;
    e.offset = pos;
    e.disk = u16(b, pos + 4);
    e.centralDisk = u16(b, pos + 6);
    e.entriesHere = u16(b, pos + 8);
    e.entries = u16(b, pos + 10);
    e.centralSize = u32(b, pos + 12);
    e.centralOffset = u32(b, pos + 16);
    e.commentLength = u16(b, pos + 20);
    EXPECT_EQ(pos + 22 + e.commentLength, b.size()) << "bytes after the end record";
    EXPECT_EQ(e.centralOffset, centralStart);
    EXPECT_EQ(e.centralSize, pos - centralStart);
    EXPECT_EQ(e.entries, layout.centrals.size());
    return layout;
}

ToolResult run(const std::string& command)
{
    ToolResult result;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return result;
    std::array<char, 4096> buffer;
    std::size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        result.output.append(buffer.data(), n);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

ToolResult unzipTest(const std::string& archive)
{
    return run("unzip -t " + shellQuote(archive));
}

ToolResult zipinfoVerbose(const std::string& archive)
{
    return run("zipinfo -v " + shellQuote(archive));
}

ToolResult pythonZipfile(const std::string& archive)
{
    static const char* script = R"PY(
import sys, zipfile, zlib
with zipfile.ZipFile(sys.argv[1]) as z:
    for i in z.infolist():
        raw = i.orig_filename.encode('utf-8' if i.flag_bits & 0x800 else 'cp437')
        data = z.read(i)
        print(raw.hex(), i.flag_bits, i.compress_type, i.CRC, i.file_size, i.compress_size,
              i.internal_attr, i.external_attr, i.create_system, i.create_version, i.extract_version,
              '-'.join(str(x) for x in i.date_time), zlib.crc32(data), len(data))
    print('testzip=%s' % z.testzip())
)PY";
    return run("/usr/bin/python3 -c " + shellQuote(script) + " " + shellQuote(archive));
}

std::string hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

void Recorder::attach(TZip& zip)
{
    zip.OnError = [this](TZip&, const std::string& fileName, const std::string& extended, const std::string&,
                         int code) {
        errors.push_back({fileName, extended, code});
    };
    zip.OnProcessMessages = [this](TZip&) { ++messagePumps; };
    zip.OnProgress = [this](TZip&, std::uint8_t byFile, std::uint8_t byArchive) {
        // Every report must have let the window handle its events first.
        if (messagePumps == 0)
            pumpBeforeEachProgress = false;
        messagePumps = 0;
        progress.emplace_back(byFile, byArchive);
    };
    zip.OnBegin = [this](TZip&, const std::string& fileName, int count, bool&) {
        begun.emplace_back(fileName, count);
    };
    zip.OnDeleteFile = [this](TZip&, const std::string& fileName, int count, int maxCount) {
        deleted.emplace_back(fileName, count * 1000 + maxCount);
    };
}

bool Recorder::hasError(int code) const
{
    for (const auto& e : errors)
        if (e.code == code)
            return true;
    return false;
}

std::string Recorder::describe() const
{
    std::string out;
    for (const auto& e : errors)
        out += std::to_string(e.code) + " " + e.fileName + " (" + e.extended + ")\n";
    return out.empty() ? "no errors" : out;
}

} // namespace tevrak::ziptest
