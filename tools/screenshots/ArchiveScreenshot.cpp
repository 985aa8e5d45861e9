// Screenshots of tab 2 and of the print preview, for the documentation (not a test).
//
//   archive_screenshot OUTDIR     run under a real X server (Xvfb): writes OUTDIR/archive-tab2.png and
//                                 OUTDIR/archive-preview.png
// Uses a private drive C: under a temporary folder.
#include "ScreenshotSupport.h"
#include "archive/ArchivePage.h"
#include "intake/PictureZoom.h"
#include "platform/widgets/Controls.h"
#include "platform/widgets/Dialogs.h"
#include "support/TestPictures.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QScrollArea>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

using namespace tevrak;
using tevrak::screenshots::settle;

namespace {


// A simple drawing of a damaged car, different for every photo.
QImage carPhoto(int index)
{
    QImage photo(1600, 1200, QImage::Format_RGB32);
    QPainter p(&photo);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(0, 0, 1600, 700, QColor(150 + 8 * (index % 5), 190, 230));
    p.fillRect(0, 700, 1600, 500, QColor(90, 90, 95));
    const QColor body = QColor::fromHsv((index * 47) % 360, 170, 200);
    p.setBrush(body);
    p.setPen(QPen(Qt::black, 6));
    QPainterPath car;
    car.addRoundedRect(QRectF(250, 560, 1100, 300), 60, 60);
    car.addRoundedRect(QRectF(520, 380, 560, 230), 80, 80);
    p.drawPath(car.simplified());
    p.setBrush(QColor(30, 30, 30));
    p.drawEllipse(QPointF(500, 870), 120, 120);
    p.drawEllipse(QPointF(1100, 870), 120, 120);
    p.setBrush(QColor(200, 230, 255));
    p.drawRoundedRect(QRectF(580, 420, 200, 150), 20, 20);
    p.drawRoundedRect(QRectF(820, 420, 200, 150), 20, 20);
    // The damage.
    p.setPen(QPen(QColor(60, 20, 10), 10));
    p.drawLine(300 + 60 * (index % 7), 620, 420 + 60 * (index % 7), 800);
    p.drawLine(330 + 60 * (index % 7), 600, 470 + 60 * (index % 7), 760);
    p.setPen(Qt::white);
    QFont font = p.font();
    font.setPixelSize(90);
    p.setFont(font);
    p.drawText(QRect(0, 60, 1600, 120), Qt::AlignCenter, QStringLiteral("Photo %1").arg(index));
    return photo;
}

QImage scannedDocument()
{
    QImage scan(850, 1100, QImage::Format_RGB32);
    scan.fill(Qt::white);
    QPainter p(&scan);
    p.setPen(Qt::black);
    QFont font = p.font();
    font.setPixelSize(36);
    p.setFont(font);
    p.drawText(QRect(0, 60, 850, 60), Qt::AlignCenter, QStringLiteral("CLAIM FORM 12345678"));
    font.setPixelSize(18);
    p.setFont(font);
    for (int line = 0; line < 36; ++line)
        p.drawLine(80, 180 + 25 * line, 770 - 90 * (line % 3), 180 + 25 * line);
    p.drawRect(60, 150, 730, 900);
    return scan;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: archive_screenshot OUTDIR\n");
        return 2;
    }
    QTemporaryDir drive;
    qputenv("TEVRAK_ROOT", drive.path().toLocal8Bit());
    QApplication app(argc, argv);
    const QString out = QString::fromLocal8Bit(argv[1]);

    const QString claim = drive.path() + QStringLiteral("/picture/12345678");
    QDir().mkpath(claim);
    QDir().mkpath(drive.path() + QStringLiteral("/picture/transfer"));
    QDir().mkpath(drive.path() + QStringLiteral("/picture/12340001"));
    QDir().mkpath(drive.path() + QStringLiteral("/picture/AB998877"));
    const int sequences[] = {1, 2, 3, 4, 300, 301, 500, 501};
    int index = 1;
    for (const int sequence : sequences)
        carPhoto(index++).save(
            QStringLiteral("%1/12345678%2.jpg").arg(claim).arg(sequence, 3, 10, QLatin1Char('0')), "JPG", 85);
    test::writeGif(claim + QStringLiteral("/12345678800.gif"), scannedDocument());

    QWidget window;
    window.setWindowTitle(QStringLiteral("Tevrak"));
    window.resize(800, 554);
    auto* tabs = new QTabWidget(&window);
    tabs->setGeometry(0, 0, 800, 554);
    for (const char* caption : {"รูปภาพใหม่", "รูปภาพเก่า", "รายงานรถยนต์ค้าง", "สรุปค่าใช้จ่ายสำรวจความเสียหาย"})
        tabs->addTab(new QWidget, QString::fromUtf8(caption));
    QWidget* tab2 = tabs->widget(1);
    tabs->setCurrentIndex(1);
    window.show();
    settle(300);
    archive::ArchivePage page(tab2);
    page.ScrollBox2->resize(page.ScrollBox2->width(), tab2->height());
    page.TabSheet2Show();
    page.ListBox2->setCurrentItem(
        page.ListBox2->findItems(QStringLiteral("12345678"), Qt::MatchExactly).first());
    settle(500);
    window.grab().save(out + QStringLiteral("/archive-tab2.png"));
    std::printf("%s/archive-tab2.png\n", qPrintable(out));

    // The zoom runs the desktop's own modal preview; once it has painted, it
    // is photographed and closed with its Close button.
    const QString previewFile = out + QStringLiteral("/archive-preview.png");
    bool closed = false;
    QTimer::singleShot(2000, [&] {
        QWidget* preview = QApplication::activeModalWidget();
        if (preview == nullptr) {
            std::fprintf(stderr, "no modal preview is open\n");
            return;
        }
        const QPixmap shot = preview->grab();
        shot.scaled(shot.size() * 3 / 4, Qt::KeepAspectRatio, Qt::SmoothTransformation).save(previewFile);
        std::printf("%s: \"%s\" %dx%d, maximized %d\n", qPrintable(previewFile),
                    qPrintable(preview->windowTitle()), preview->width(), preview->height(),
                    preview->isMaximized() ? 1 : 0);
        if (auto* close = preview->findChild<QAction*>(QStringLiteral("closeAction"))) {
            close->trigger();
            closed = true;
        }
    });
    const auto& slot = page.pictureSlots()[4];
    const bool zoomed = intake::zoomPicture(page.picturePath(slot.caption), slot.caption->text(), &window);
    std::printf("zoom returned %d after the preview was closed by its Close button: %d\n", zoomed ? 1 : 0,
                closed ? 1 : 0);
    return zoomed && closed ? 0 : 1;
}
