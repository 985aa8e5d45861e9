// Packing scanned documents into one claim archive, one writer run per file,
// beside zlib alone deflating the same bytes and Info-ZIP `zip -6` adding the
// same files one at a time to its own archive. The input folder (GIF files)
// comes from TEVRAK_ZIP_BENCH_INPUT; bench/zip/compare.sh makes it.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

#include "zip/Zip.h"

extern char** environ;

namespace {

std::string inputFolder()
{
    const char* folder = std::getenv("TEVRAK_ZIP_BENCH_INPUT");
    if (!folder || !*folder)
        throw std::runtime_error(
            "set TEVRAK_ZIP_BENCH_INPUT to a folder of GIF files (bench/zip/compare.sh does)");
    return folder;
}

std::vector<std::string> inputFiles()
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(inputFolder().c_str())) {
        while (const dirent* e = ::readdir(dir)) {
            const std::string name = e->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".gif") == 0)
                names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The archives go beside the input, on the same disk.
std::string workFolder()
{
    const std::string folder = inputFolder() + "/../work";
    ::mkdir(folder.c_str(), 0755);
    return folder;
}

std::uint64_t fileSize(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

std::uint64_t inputBytes(const std::vector<std::string>& names)
{
    std::uint64_t total = 0;
    for (const auto& n : names)
        total += fileSize(inputFolder() + "/" + n);
    return total;
}

void BM_TevrakZip_OneRunPerFile(benchmark::State& state)
{
    const auto names = inputFiles();
    const std::string archive = workFolder() + "/12345678.Zip";
    tevrak::TZip zip;
    int errors = 0;
    zip.OnError = [&](tevrak::TZip&, const std::string&, const std::string&, const std::string&, int) {
        ++errors;
    };
    for (auto _ : state) {
        state.PauseTiming();
        ::unlink(archive.c_str());
        state.ResumeTiming();
        for (const auto& name : names) {
            zip.SetArchiveFile(archive);
            zip.FileSpec = {inputFolder() + "/" + name};
            if (zip.Compress() != 1)
                state.SkipWithError("a run stored nothing");
        }
    }
    state.counters["archive_bytes"] = static_cast<double>(fileSize(archive));
    state.counters["input_bytes"] = static_cast<double>(inputBytes(names));
    state.counters["errors"] = errors;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * inputBytes(names)));
}

void BM_InfoZip_OneRunPerFile(benchmark::State& state)
{
    const auto names = inputFiles();
    const std::string archive = workFolder() + "/infozip.zip";
    for (auto _ : state) {
        state.PauseTiming();
        ::unlink(archive.c_str());
        state.ResumeTiming();
        for (const auto& name : names) {
            const std::string path = inputFolder() + "/" + name;
            const char* argv[] = {"zip", "-q", "-6", "-j", archive.c_str(), path.c_str(), nullptr};
            pid_t pid;
            if (::posix_spawnp(&pid, "zip", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
                state.SkipWithError("cannot start zip");
                return;
            }
            int status = 0;
            ::waitpid(pid, &status, 0);
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
                state.SkipWithError("zip failed");
        }
    }
    state.counters["archive_bytes"] = static_cast<double>(fileSize(archive));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * inputBytes(names)));
}

// zlib alone: read each file and raw-deflate it at the writer's parameters.
void BM_ZlibDeflateOnly(benchmark::State& state)
{
    const auto names = inputFiles();
    std::vector<unsigned char> in(256 * 1024), out(256 * 1024);
    z_stream s{};
    ::deflateInit2(&s, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::uint64_t packed = 0;
    for (auto _ : state) {
        packed = 0;
        for (const auto& name : names) {
            const int fd = ::open((inputFolder() + "/" + name).c_str(), O_RDONLY);
            ::deflateReset(&s);
            ssize_t n;
            while ((n = ::read(fd, in.data(), in.size())) > 0) {
                s.next_in = in.data();
                s.avail_in = static_cast<uInt>(n);
                do {
                    s.next_out = out.data();
                    s.avail_out = static_cast<uInt>(out.size());
                    ::deflate(&s, Z_NO_FLUSH);
                    packed += out.size() - s.avail_out;
                } while (s.avail_out == 0);
            }
            int status;
            do {
                s.next_out = out.data();
                s.avail_out = static_cast<uInt>(out.size());
                status = ::deflate(&s, Z_FINISH);
                packed += out.size() - s.avail_out;
            } while (status != Z_STREAM_END);
            ::close(fd);
        }
        benchmark::DoNotOptimize(packed);
    }
    ::deflateEnd(&s);
    state.counters["deflated_bytes"] = static_cast<double>(packed);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * inputBytes(names)));
}

long statusKib(const std::string& key)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key + ":", 0) == 0)
            return std::stol(line.substr(key.size() + 1));
    return -1;
}

// One run over a 64 MiB file: the peak memory must not grow with the file.
void BM_TevrakZip_MemoryFlat(benchmark::State& state)
{
    const std::string big = workFolder() + "/big.bin";
    const std::string archive = workFolder() + "/big.zip";
    {
        std::vector<unsigned char> block(1 << 20);
        std::uint32_t x = 12345;
        const int fd = ::open(big.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        for (int i = 0; i < 64; ++i) {
            for (auto& b : block)
                b = static_cast<unsigned char>((x = x * 1103515245u + 12345u) >> 24);
            if (::write(fd, block.data(), block.size()) < 0)
                break;
        }
        ::close(fd);
    }
    tevrak::TZip zip;
    zip.SetArchiveFile(archive);
    zip.FileSpec = {big};
    zip.Compress(); // buffers allocated once
    // The peak resident size is reset, then compared after the timed runs.
    std::ofstream("/proc/self/clear_refs") << "5";
    const long before = statusKib("VmRSS");
    for (auto _ : state) {
        state.PauseTiming();
        ::unlink(archive.c_str());
        state.ResumeTiming();
        zip.SetArchiveFile(archive);
        zip.FileSpec = {big};
        zip.Compress();
    }
    state.counters["peak_rss_growth_kib"] = static_cast<double>(statusKib("VmHWM") - before);
    state.counters["file_kib"] = 64 * 1024;
    ::unlink(big.c_str());
    ::unlink(archive.c_str());
}

} // namespace

BENCHMARK(BM_TevrakZip_MemoryFlat)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TevrakZip_OneRunPerFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InfoZip_OneRunPerFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibDeflateOnly)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
