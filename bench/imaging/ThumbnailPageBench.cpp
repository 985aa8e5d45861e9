// Thumbnail page benchmark: the first page of nine 12-megapixel photos, timed in-process, plus the peak
// memory of a process that holds the nine thumbnails. compare.sh runs it beside ImageMagick.
//
//   tevrak_imaging_bench make DIR            nine plain photos in DIR/plain, nine with camera EXIF in
//   DIR/exif tevrak_imaging_bench page [-t N] [-r R] FILES...
//                                            loads the page R times (default 1) on N threads (0 = all cores)
//                                            and prints "page_ms <ms>" (wall) and "page_cpu_ms <ms>"
//                                            (CPU time of all threads) per round
//   tevrak_imaging_bench memory FILES...     loads the page once, keeps it, prints "peak_rss_mb <MB>"
#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/resource.h>

#include "imaging/PageLoader.h"
#include "support/TestPictures.h"

using namespace tevrak;

namespace {

int usage()
{
    std::fprintf(stderr,
                 "usage: tevrak_imaging_bench make DIR | page [-t N] [-r R] FILES... | memory FILES...\n");
    return 2;
}

int makePhotos(const QString& dir)
{
    for (const char* kind : {"plain", "exif"}) {
        const bool exif = std::strcmp(kind, "exif") == 0;
        for (int i = 1; i <= 9; ++i) {
            const QString path = QStringLiteral("%1/%2/IMG_%3.jpg").arg(dir, QLatin1String(kind)).arg(i);
            if (QFileInfo(path).size() > 0)
                continue;
            test::writeJpeg(path, test::cameraPhoto(i, exif));
            std::printf("%s %.1f MB\n", qPrintable(path), QFileInfo(path).size() / 1e6);
        }
    }
    return 0;
}

// CPU time of the whole process (all threads), user and system.
double cpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

double peakRssMb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0; // kilobytes on Linux
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return usage();
    const QString mode = QString::fromLocal8Bit(argv[1]);
    if (mode == QLatin1String("make"))
        return makePhotos(QString::fromLocal8Bit(argv[2]));

    int threads = 0, rounds = 1, arg = 2;
    while (arg + 1 < argc && argv[arg][0] == '-') {
        if (std::strcmp(argv[arg], "-t") == 0)
            threads = std::atoi(argv[arg + 1]);
        else if (std::strcmp(argv[arg], "-r") == 0)
            rounds = std::max(1, std::atoi(argv[arg + 1]));
        else
            return usage();
        arg += 2;
    }
    QStringList files;
    for (; arg < argc; ++arg)
        files << QString::fromLocal8Bit(argv[arg]);
    if (files.isEmpty())
        return usage();

    if (mode == QLatin1String("page")) {
        for (int r = 0; r < rounds; ++r) {
            const double cpuStart = cpuMs();
            const auto start = std::chrono::steady_clock::now();
            const auto page = imaging::loadThumbnailPage(files, imaging::kSlotSize, threads);
            const double ms =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            const int failed = imaging::firstFailure(page);
            if (failed >= 0) {
                std::fprintf(stderr, "%s\n", qPrintable(page[size_t(failed)].error));
                return 1;
            }
            std::printf("page_ms %.2f\npage_cpu_ms %.2f\n", ms, cpuMs() - cpuStart);
        }
        return 0;
    }
    if (mode == QLatin1String("memory")) {
        const double before = peakRssMb();
        const auto page = imaging::loadThumbnailPage(files, imaging::kSlotSize, threads);
        if (imaging::firstFailure(page) >= 0)
            return 1;
        qint64 bytes = 0;
        for (const auto& entry : page)
            bytes += entry.image.sizeInBytes();
        std::printf("rss_before_mb %.1f\npeak_rss_mb %.1f\nthumbnail_bytes_mb %.2f\n", before, peakRssMb(),
                    bytes / 1e6);
        return 0;
    }
    return usage();
}
