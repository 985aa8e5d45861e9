// Archive benchmarks (run by compare.sh beside ImageMagick; not run by CI).
//
//   tevrak_archive_bench make ROOT          drive C: at ROOT with two claim folders of nine 12-megapixel
//                                           photos: c:\picture\PLAIN001 (no EXIF thumbnail) and
//                                           c:\picture\EXIFT001 (camera EXIF with a 160 x 120 thumbnail),
//                                           and c:\picture\DOCS0001 with nine scanned 1700 x 2300 GIFs
//   tevrak_archive_bench page [-r R] CLAIM  opens the claim folder on tab 2 as a click in the folder list
//                                           does (list the folder, decode, show the nine slots), R times;
//                                           prints per round "page_ms <ms>", the process's CPU time for
//                                           it ("page_cpu_ms", all threads) and the time of the decoding
//                                           alone right after ("decode_only_ms")
//   tevrak_archive_bench preview [-r R] FILE
//                                           zooms FILE (a Windows path on drive C:) and waits until the
//                                           preview window has painted its page, then closes it; prints
//                                           "preview_ms <ms>" per round
// TEVRAK_ROOT names drive C: for page and preview.
#include "archive/ArchivePage.h"
#include "imaging/PageLoader.h"
#include "intake/PictureZoom.h"
#include "platform/widgets/Controls.h"
#include "platform/widgets/Dialogs.h"
#include "platform/core/DriveC.h"
#include "support/TestPictures.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QGraphicsView>
#include <QListWidget>
#include <QPainter>
#include <QPrintPreviewWidget>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>

using namespace tevrak;

namespace {

using Clock = std::chrono::steady_clock;

// User and system time of the whole process (all threads), in ms.
double cpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int usage()
{
    std::fprintf(stderr, "usage: tevrak_archive_bench make ROOT | page [-r R] CLAIM | preview [-r R] FILE\n");
    return 2;
}

int makePhotos(const QString& root)
{
    for (const char* claim : {"PLAIN001", "EXIFT001"}) {
        const bool exif = std::strcmp(claim, "EXIFT001") == 0;
        const QString folder = QStringLiteral("%1/picture/%2").arg(root, QLatin1String(claim));
        QDir().mkpath(folder);
        for (int i = 1; i <= 9; ++i) {
            const QString path = QStringLiteral("%1/%2%3.jpg")
                                     .arg(folder, QLatin1String(claim))
                                     .arg(i, 3, 10, QLatin1Char('0'));
            if (QFileInfo(path).size() > 0)
                continue;
            test::writeJpeg(path, test::cameraPhoto(i, exif));
            std::printf("%s %.1f MB\n", qPrintable(path), QFileInfo(path).size() / 1e6);
        }
    }
    // Nine scanned claim documents: 1700 x 2300 pages of typed lines.
    const QString documents = QStringLiteral("%1/picture/DOCS0001").arg(root);
    QDir().mkpath(documents);
    for (int i = 1; i <= 9; ++i) {
        const QString path = QStringLiteral("%1/DOCS0001%2.gif").arg(documents).arg(799 + i);
        if (QFileInfo(path).size() > 0)
            continue;
        QImage scan(1700, 2300, QImage::Format_RGB32);
        scan.fill(Qt::white);
        QPainter painter(&scan);
        QFont font = painter.font();
        font.setPixelSize(28);
        painter.setFont(font);
        for (int line = 0; line < 70; ++line)
            painter.drawText(
                100, 150 + 30 * line,
                QStringLiteral("Claim DOCS0001 page %1 line %2: front bumper, left door and bonnet")
                    .arg(i)
                    .arg(line));
        painter.end();
        test::writeGif(path, scan);
        std::printf("%s %.1f MB\n", qPrintable(path), QFileInfo(path).size() / 1e6);
    }
    return 0;
}

// Counts the messages instead of showing them; shows the preview until its
// page has been painted, then closes it.
class BenchDialogs final : public platform::Dialogs {
public:
    void showMessage(const platform::Message& message) override
    {
        std::fprintf(stderr, "message: %s\n", qPrintable(message.text));
        ++failures;
    }
    int showModal(QWidget& form) override
    {
        auto* preview = form.findChild<QPrintPreviewWidget*>();
        QWidget* viewport = nullptr;
        if (auto* view = preview ? preview->findChild<QGraphicsView*>() : nullptr)
            viewport = view->viewport();
        PaintWatch watch;
        if (viewport)
            viewport->installEventFilter(&watch);
        form.show();
        QElapsedTimer limit;
        limit.start();
        while (!watch.painted && limit.elapsed() < 20000)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        shownAt = Clock::now();
        if (!watch.painted)
            ++failures;
        if (auto* dialog = qobject_cast<QDialog*>(&form))
            dialog->reject();
        form.hide();
        return 0;
    }
    void openDocument(const QString&, const QString&) override {}

    int failures = 0;
    Clock::time_point shownAt;

private:
    struct PaintWatch : QObject {
        bool painted = false;
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::Paint)
                painted = true;
            return false;
        }
    };
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return usage();
    const QString mode = QString::fromLocal8Bit(argv[1]);
    if (mode == QLatin1String("make")) {
        QGuiApplication app(argc, argv);
        return makePhotos(QString::fromLocal8Bit(argv[2]));
    }
    int rounds = 1, arg = 2;
    if (arg + 1 < argc && std::strcmp(argv[arg], "-r") == 0) {
        rounds = std::max(1, std::atoi(argv[arg + 1]));
        arg += 2;
    }
    if (arg >= argc)
        return usage();
    const QString target = QString::fromLocal8Bit(argv[arg]);
    QApplication app(argc, argv);
    BenchDialogs dialogs;
    platform::setDialogs(&dialogs);

    if (mode == QLatin1String("page")) {
        QWidget tab;
        tab.resize(800, 540);
        archive::ArchivePage page(&tab);
        tab.show();
        page.TabSheet2Show();
        for (int r = 0; r < rounds; ++r) {
            page.PageHide();
            const double cpuStart = cpuMs();
            const auto start = Clock::now();
            page.openFolder(target);
            const double ms = msSince(start);
            const double cpu = cpuMs() - cpuStart;
            int shown = 0;
            for (const auto& slot : page.pictureSlots())
                shown += slot.image->isVisibleTo(&tab) ? 1 : 0;
            if (shown != 9) {
                std::fprintf(stderr, "only %d slots shown\n", shown);
                return 1;
            }
            // The decoding alone, for the share of the page that is not the loader's.
            QStringList files;
            for (const QString& name : page.fileList())
                files.append(platform::localPath(page.currentFolder() + QLatin1Char('\\') + name));
            const auto decodeStart = Clock::now();
            imaging::loadThumbnailPage(files, imaging::kSlotSize, 0, imaging::GifThumbnail::WholePicture);
            std::printf("page_ms %.2f page_cpu_ms %.2f decode_only_ms %.2f\n", ms, cpu, msSince(decodeStart));
        }
        return 0;
    }
    if (mode == QLatin1String("preview")) {
        for (int r = 0; r < rounds; ++r) {
            const auto start = Clock::now();
            intake::zoomPicture(target, QFileInfo(target).fileName());
            if (dialogs.failures > 0)
                return 1;
            std::printf("preview_ms %.2f\n",
                        std::chrono::duration<double, std::milli>(dialogs.shownAt - start).count());
        }
        return 0;
    }
    return usage();
}
