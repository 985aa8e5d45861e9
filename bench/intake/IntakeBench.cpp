// Timings of tab 1's own work, for bench/intake/compare.sh:
//   refresh N   - builds the first thumbnail page after re-reading an inbox of N
//                 small JPEGs (the cost of the listing as the inbox grows);
//   filing DIR  - files every photo of DIR (copied into the inbox first) under one
//                 claim, through the filing code, and prints the time taken.
// TEVRAK_ROOT must name a scratch drive C: folder.

#include "intake/Filing.h"
#include "intake/InboxPage.h"
#include "platform/core/ProgramValues.h"
#include "platform/widgets/Controls.h"
#include "platform/widgets/Dialogs.h"
#include "platform/core/DriveC.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <cstdio>

using namespace tevrak;

namespace {

class SilentDialogs final : public platform::Dialogs {
public:
    void showMessage(const platform::Message& message) override
    {
        std::fprintf(stderr, "message: %s\n", message.text.toUtf8().constData());
    }
    int showModal(QWidget&) override { return 0; }
    void openDocument(const QString&, const QString&) override {}
};

QString inbox() { return platform::localPath(platform::paths::inbox); }

int refresh(int count)
{
    QDir().mkpath(inbox());
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    QByteArray bytes;
    {
        QFile probe(inbox() + "/probe.jpg");
        picture.save(&probe, "JPG");
    }
    QFile probe(inbox() + "/probe.jpg");
    probe.open(QIODevice::ReadOnly);
    bytes = probe.readAll();
    probe.close();
    QFile::remove(inbox() + "/probe.jpg");
    for (int i = 0; i < count; ++i) {
        QFile file(inbox() + QStringLiteral("/IMG_%1.jpg").arg(i, 5, 10, QLatin1Char('0')));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
    }
    ProgramValues values;
    QWidget tab;
    intake::InboxPage page(&tab, values, [] {});
    constexpr int rounds = 20;
    QElapsedTimer timer;
    timer.start();
    for (int round = 0; round < rounds; ++round) {
        page.readInboxList();
        page.buildFirstPage();
    }
    std::printf("refresh %d files: %.2f ms per first page\n", count, timer.nsecsElapsed() / 1e6 / rounds);
    return 0;
}

int filing(const QString& photos)
{
    QDir().mkpath(inbox());
    QDir().mkpath(platform::localPath(platform::paths::outbox));
    const QStringList names = QDir(photos).entryList({"*.jpg"}, QDir::Files, QDir::Name);
    for (const QString& name : names)
        QFile::copy(photos + "/" + name, inbox() + "/" + name);
    ProgramValues values;
    QWidget tab;
    intake::InboxPage page(&tab, values, [] {});
    intake::Filing filing(page, values);
    page.Edit1->setText("12345678");
    // Photos are dropped slot by slot, a page at a time; only the filing itself
    // is timed, not the building of the pages.
    qint64 filingNanoseconds = 0;
    int filed = 0;
    while (!page.inboxList().isEmpty()) {
        page.buildFirstPage();
        for (const intake::ThumbnailSlot& slot : page.thumbnailSlots()) {
            if (!slot.image->isVisibleTo(&tab))
                continue;
            QElapsedTimer timer;
            timer.start();
            filing.Image10DragDrop(page.beforeRepair.image, slot.image);
            filingNanoseconds += timer.nsecsElapsed();
            ++filed;
        }
    }
    std::printf("filing %d photos: %.1f ms\n", filed, filingNanoseconds / 1e6);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    SilentDialogs dialogs;
    platform::setDialogs(&dialogs);
    if (argc == 3 && QByteArray(argv[1]) == "refresh")
        return refresh(QByteArray(argv[2]).toInt());
    if (argc == 3 && QByteArray(argv[1]) == "filing")
        return filing(QString::fromLocal8Bit(argv[2]));
    std::fprintf(stderr, "usage: tevrak_intake_bench refresh N | filing PHOTO_FOLDER\n");
    return 2;
}
