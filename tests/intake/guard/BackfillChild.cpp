// print_backfill_child: runs the back-fill over the drive C: of TEVRAK_ROOT, printing "folders N" after
// each committed folder and then pausing PAUSE_MS (the first argument), so that a test can kill it in the
// middle of the next folder.
#include "intake/guard/PrintBackfill.h"
#include "intake/guard/PrintTable.h"

#include <QCoreApplication>
#include <QThread>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int pause = argc > 1 ? std::atoi(argv[1]) : 0;
    std::atomic<bool> stop{false};
    try {
        const auto progress = tevrak::intake::guard::backfillPrints(
            tevrak::intake::guard::PrintTable::defaultFile(), stop,
            [pause](const tevrak::intake::guard::BackfillProgress& done) {
                std::printf("folders %d\n", done.folders);
                std::fflush(stdout);
                QThread::msleep(static_cast<unsigned long>(pause));
            });
        std::printf("done %d %d\n", progress.folders, progress.printed);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
