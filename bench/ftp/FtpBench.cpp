// FTP transfers over loopback against one running server, ours beside curl
// doing the same work, in one run (bench/ftp/compare.sh prepares the server
// and the files and prints the ratios).
//
// Environment: TEVRAK_FTP_PORT (server on 127.0.0.1), TEVRAK_FTP_USER (online, the
// stand-in's user, if not set; vsftpd's anonymous), TEVRAK_BENCH_DIR
// holding local/big.bin (uploaded), local/small/f000..f199 (50 KiB each) and
// server/ (the server's root, where Claim/Bench/big.bin is downloaded from).
// The encrypted runs: TEVRAK_FTP_TLS_PORT (a second server on the same root
// that requires TLS), TEVRAK_FTP_CA (the authority its certificate is from,
// trusted by both clients). TEVRAK_FTP_SERVER_PIDS (the servers' process ids)
// lets every run report the server's CPU time beside the client's, with the
// processes a server forks for its connections.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "ftp/FtpLink.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int SmallFiles = 200;

std::string env(const char* name)
{
    const char* value = std::getenv(name);
    if (!value || !*value)
        throw std::runtime_error(std::string(name) + " is not set (run bench/ftp/compare.sh)");
    return value;
}

// How a run's connections go: plain text in active mode (the server connects
// to us for data, as the exchange runs), plain text in passive mode, or TLS in
// passive mode (curl 7.88 cannot take an encrypted data connection in active
// mode: "sa_addr inet_ntop() failed").
enum class Wire { Plain, Passive, Tls };

int port(Wire wire = Wire::Plain)
{
    return std::stoi(env(wire == Wire::Tls ? "TEVRAK_FTP_TLS_PORT" : "TEVRAK_FTP_PORT"));
}
std::string user()
{
    const char* name = std::getenv("TEVRAK_FTP_USER");
    return name && *name ? name : "online";
}
fs::path benchDir()
{
    return env("TEVRAK_BENCH_DIR");
}
fs::path bigFile()
{
    return benchDir() / "local" / "big.bin";
}
fs::path serverFolder()
{
    return benchDir() / "server" / "Claim" / "Bench";
}

std::string smallName(int i)
{
    char name[8];
    std::snprintf(name, sizeof name, "f%03d", i);
    return name;
}

double peakResidentMegabytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

double seconds(const timeval& t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// CPU seconds (user and system) this process has used so far.
double ownCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// CPU seconds a process has used, with those of its children it has waited
// for, and those of its living descendants.
double processTreeCpuSeconds(const std::string& pid)
{
    std::ifstream stat("/proc/" + pid + "/stat");
    std::string line;
    std::getline(stat, line);
    const auto afterName = line.rfind(')');
    if (afterName == std::string::npos)
        return 0;
    std::istringstream fields(line.substr(afterName + 2));
    std::string field;
    // utime, stime, cutime and cstime are the 12th to 15th fields after the name.
    for (int i = 0; i < 11 && fields >> field; ++i) {
    }
    unsigned long long user = 0, system = 0, childrenUser = 0, childrenSystem = 0;
    fields >> user >> system >> childrenUser >> childrenSystem;
    double total = static_cast<double>(user + system + childrenUser + childrenSystem) /
                   static_cast<double>(sysconf(_SC_CLK_TCK));
    std::error_code ignored;
    for (const auto& task : fs::directory_iterator("/proc/" + pid + "/task", ignored)) {
        std::ifstream children(task.path() / "children");
        std::string child;
        while (children >> child)
            total += processTreeCpuSeconds(child);
    }
    return total;
}

// CPU seconds the servers named in TEVRAK_FTP_SERVER_PIDS have used so far.
double serverCpuSeconds()
{
    const char* pids = std::getenv("TEVRAK_FTP_SERVER_PIDS");
    if (!pids)
        return 0;
    std::istringstream list(pids);
    std::string pid;
    double total = 0;
    while (list >> pid)
        total += processTreeCpuSeconds(pid);
    return total;
}

// The CPU time of one benchmark's iterations: the client's (this process, or
// the curl processes it waited for) and the server's, per iteration.
class CpuMeter {
public:
    explicit CpuMeter(bool childClient) : childClient_(childClient)
    {
        server_ = serverCpuSeconds();
        own_ = ownCpuSeconds();
    }
    void Report(benchmark::State& state, double childSeconds) const
    {
        const double iterations = static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
        const double client = childClient_ ? childSeconds : ownCpuSeconds() - own_;
        state.counters["client_cpu_s"] = client / iterations;
        state.counters["server_cpu_s"] = (serverCpuSeconds() - server_) / iterations;
    }

private:
    bool childClient_;
    double server_ = 0;
    double own_ = 0;
};

// CPU seconds of the curl processes run so far.
double curlCpuSeconds = 0;

void runCurl(const std::vector<std::string>& arguments, const fs::path& folder = {})
{
    std::vector<std::string> all = {"curl", "-s", "-S", "--disable-eprt"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!folder.empty())
        posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    pid_t pid;
    if (posix_spawnp(&pid, "curl", &actions, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start curl");
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    curlCpuSeconds += seconds(usage.ru_utime) + seconds(usage.ru_stime);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("curl failed");
}

std::string url(const std::string& path, Wire wire = Wire::Plain)
{
    return "ftp://" + user() + ":tuvorplex@127.0.0.1:" + std::to_string(port(wire)) + "/" + path;
}

// curl's arguments for the server: encrypted control and data connections
// (--ssl-reqd), the server's certificate checked against the run's authority.
std::vector<std::string> curlWire(Wire wire)
{
    switch (wire) {
    case Wire::Plain:
        return {"-P", "127.0.0.1"};
    case Wire::Passive:
        return {};
    case Wire::Tls:
        break;
    }
    return {"--ssl-reqd", "--cacert", env("TEVRAK_FTP_CA")};
}

void openLink(tevrak::TFtpLink& link, const std::string& folder, Wire wire = Wire::Plain)
{
    link.Host = "127.0.0.1";
    link.Port = port(wire);
    link.Username = user();
    link.Password = "tuvorplex";
    link.ReadTimeout = 60000;
    link.Passive = wire != Wire::Plain;
    if (wire == Wire::Tls) {
        link.Tls = tevrak::TTlsMode::Required;
        link.CertificateFile = env("TEVRAK_FTP_CA");
    }
    link.OpenControl(true);
    link.ChangeDirectory(folder);
}

std::vector<std::string> joined(std::vector<std::string> first, const std::vector<std::string>& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

void removeQuietly(const fs::path& path)
{
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

void reportMemory(benchmark::State& state)
{
    state.counters["peak_rss_MB"] = peakResidentMegabytes();
}

// Upload of the big file with APPE on a fresh control connection (login included).
void Upload_Tevrak(benchmark::State& state, Wire wire)
{
    const auto size = fs::file_size(bigFile());
    const CpuMeter cpu(false);
    for (auto _ : state) {
        state.PauseTiming();
        removeQuietly(serverFolder() / "up-tevrak.bin");
        state.ResumeTiming();
        tevrak::TFtpLink link;
        openLink(link, "Claim/Bench", wire);
        link.StoreFile(bigFile().string(), "up-tevrak.bin", true);
        link.CloseControl();
    }
    cpu.Report(state, 0);
    if (fs::file_size(serverFolder() / "up-tevrak.bin") != size)
        state.SkipWithError("uploaded file has the wrong size");
    removeQuietly(serverFolder() / "up-tevrak.bin");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
    reportMemory(state);
}

void Upload_Curl(benchmark::State& state, Wire wire)
{
    const auto size = fs::file_size(bigFile());
    const CpuMeter cpu(true);
    const double curlBefore = curlCpuSeconds;
    for (auto _ : state) {
        state.PauseTiming();
        removeQuietly(serverFolder() / "up-curl.bin");
        state.ResumeTiming();
        runCurl(joined(curlWire(wire), {"--append", "-T", bigFile().string(), url("Claim/Bench/up-curl.bin", wire)}));
    }
    cpu.Report(state, curlCpuSeconds - curlBefore);
    if (fs::file_size(serverFolder() / "up-curl.bin") != size)
        state.SkipWithError("uploaded file has the wrong size");
    removeQuietly(serverFolder() / "up-curl.bin");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

// Download of the big file with RETR into a local file.
void Download_Tevrak(benchmark::State& state, Wire wire)
{
    const auto size = fs::file_size(serverFolder() / "big.bin");
    const fs::path target = benchDir() / "local" / "down-tevrak.bin";
    const CpuMeter cpu(false);
    for (auto _ : state) {
        tevrak::TFtpLink link;
        openLink(link, "Claim/Bench", wire);
        link.RetrieveFile("big.bin", target.string(), true, false);
        link.CloseControl();
    }
    cpu.Report(state, 0);
    if (fs::file_size(target) != size)
        state.SkipWithError("downloaded file has the wrong size");
    removeQuietly(target);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
    reportMemory(state);
}

void Download_Curl(benchmark::State& state, Wire wire)
{
    const auto size = fs::file_size(serverFolder() / "big.bin");
    const fs::path target = benchDir() / "local" / "down-curl.bin";
    const CpuMeter cpu(true);
    const double curlBefore = curlCpuSeconds;
    for (auto _ : state)
        runCurl(joined(curlWire(wire), {"-o", target.string(), url("Claim/Bench/big.bin", wire)}));
    cpu.Report(state, curlCpuSeconds - curlBefore);
    if (fs::file_size(target) != size)
        state.SkipWithError("downloaded file has the wrong size");
    removeQuietly(target);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

// 200 files of 50 KiB appended on one control connection.
void Append200_Tevrak(benchmark::State& state)
{
    const fs::path small = benchDir() / "local" / "small";
    for (auto _ : state) {
        state.PauseTiming();
        removeQuietly(serverFolder() / "small-tevrak");
        fs::create_directories(serverFolder() / "small-tevrak");
        state.ResumeTiming();
        tevrak::TFtpLink link;
        openLink(link, "Claim/Bench/small-tevrak");
        for (int i = 0; i < SmallFiles; ++i)
            link.StoreFile((small / smallName(i)).string(), smallName(i), true);
        link.CloseControl();
    }
    state.counters["files"] = benchmark::Counter(static_cast<double>(state.iterations() * SmallFiles),
                                                 benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    reportMemory(state);
}

void Append200_Curl(benchmark::State& state)
{
    const fs::path small = benchDir() / "local" / "small";
    std::string glob = "{";
    for (int i = 0; i < SmallFiles; ++i)
        glob += (i ? "," : "") + smallName(i);
    glob += "}";
    for (auto _ : state) {
        state.PauseTiming();
        removeQuietly(serverFolder() / "small-curl");
        fs::create_directories(serverFolder() / "small-curl");
        state.ResumeTiming();
        runCurl(joined(curlWire(Wire::Plain), {"--append", "-T", glob, url("Claim/Bench/small-curl/")}), small);
    }
    state.counters["files"] = benchmark::Counter(static_cast<double>(state.iterations() * SmallFiles),
                                                 benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK_CAPTURE(Upload_Tevrak, plain, Wire::Plain)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK_CAPTURE(Upload_Curl, plain, Wire::Plain)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK_CAPTURE(Download_Tevrak, plain, Wire::Plain)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK_CAPTURE(Download_Curl, plain, Wire::Plain)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK_CAPTURE(Upload_Tevrak, passive, Wire::Passive)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK_CAPTURE(Upload_Curl, passive, Wire::Passive)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK_CAPTURE(Download_Tevrak, passive, Wire::Passive)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK_CAPTURE(Download_Curl, passive, Wire::Passive)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK_CAPTURE(Upload_Tevrak, tls, Wire::Tls)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK_CAPTURE(Upload_Curl, tls, Wire::Tls)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK_CAPTURE(Download_Tevrak, tls, Wire::Tls)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK_CAPTURE(Download_Curl, tls, Wire::Tls)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(Append200_Tevrak)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(Append200_Curl)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

} // namespace

BENCHMARK_MAIN();
