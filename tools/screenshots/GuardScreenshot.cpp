// Screenshots of the filing guard's three questions, for the documentation (not a test).
//
//   guard_screenshot OUTDIR     writes OUTDIR/guard-same-bytes.png, guard-near-picture.png and
//                               guard-old-photo.png
// Runs tab 1 and the filing on a private drive C: under a temporary folder; each question is the desktop's
// own box (platform::questionBox), photographed once it has painted and answered No.
#include "ScreenshotSupport.h"
#include "intake/Filing.h"
#include "intake/InboxPage.h"
#include "platform/core/ProgramValues.h"
#include "platform/widgets/Dialogs.h"
#include "support/TestPictures.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <cstdio>

using namespace tevrak;
using tevrak::screenshots::settle;

namespace {


// The desktop's boxes, each photographed under the next name and answered No.
class PhotographingDialogs final : public platform::Dialogs {
public:
    explicit PhotographingDialogs(QString out) : m_out(std::move(out)) {}
    QStringList names;
    int shots = 0;

    void showMessage(const platform::Message& message) override
    {
        std::fprintf(stderr, "message: %s\n", qPrintable(message.text));
    }
    int showModal(QWidget&) override { return 0; }
    void openDocument(const QString&, const QString&) override {}
    bool ask(const platform::Question& question) override
    {
        const std::unique_ptr<QMessageBox> box = platform::questionBox(question);
        box->show();
        settle(400);
        const QString file = m_out + QLatin1Char('/') + names.value(shots, QStringLiteral("guard-extra")) + ".png";
        box->grab().save(file);
        std::printf("%s\n", qPrintable(file));
        ++shots;
        box->close();
        return false;
    }

private:
    QString m_out;
};

void addPhoto(const QString& inbox, const QString& name, unsigned seed, int quality, const QDateTime& taken)
{
    test::JpegSpec photo;
    photo.picture = test::shapesPicture(QSize(800, 600), seed);
    photo.quality = quality;
    if (taken.isValid())
        photo.dateTimeOriginal = taken.toString(QStringLiteral("yyyy:MM:dd HH:mm:ss"));
    test::writeJpeg(inbox + QLatin1Char('/') + name, photo);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: guard_screenshot OUTDIR\n");
        return 2;
    }
    QTemporaryDir drive;
    qputenv("TEVRAK_ROOT", drive.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (drive.path() + QStringLiteral("/config")).toLocal8Bit());
    QApplication app(argc, argv);
    QFont font(QStringLiteral("Garuda"));
    font.setPixelSize(14);
    QApplication::setFont(font);
    platform::setApplicationTitle(QStringLiteral("Tevrak หาดใหญ่ ADSL"));
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QString inbox = drive.path() + QStringLiteral("/picture");
    QDir().mkpath(inbox + QStringLiteral("/transfer"));
    QDir().mkpath(drive.path() + QStringLiteral("/claim/db"));

    const QDateTime now = QDateTime::currentDateTime();
    addPhoto(inbox, QStringLiteral("IMG_1.jpg"), 3, 92, now.addDays(-2));
    QFile::copy(inbox + QStringLiteral("/IMG_1.jpg"), inbox + QStringLiteral("/IMG_2.jpg"));
    addPhoto(inbox, QStringLiteral("IMG_3.jpg"), 3, 70, now.addDays(-2));
    addPhoto(inbox, QStringLiteral("IMG_4.jpg"), 4, 90, now.addDays(-95));

    PhotographingDialogs dialogs(out);
    dialogs.names = {QStringLiteral("guard-same-bytes"), QStringLiteral("guard-near-picture"),
                     QStringLiteral("guard-old-photo")};
    platform::setDialogs(&dialogs);
    ProgramValues values;
    QWidget tab;
    tab.resize(796, 520);
    intake::InboxPage page(&tab, values, [] {});
    intake::Filing filing(page, values);
    page.buildFirstPage();
    const auto drop = [&](const QString& claim, int slot) {
        page.Edit1->setText(claim);
        platform::guard([&] {
            filing.Image10DragDrop(page.beforeRepair.image, page.thumbnailSlots()[size_t(slot)].image);
        });
    };
    drop(QStringLiteral("AB120001"), 0); // filed without a question
    drop(QStringLiteral("CD340002"), 1); // the same bytes
    drop(QStringLiteral("CD340002"), 2); // the same picture, encoded again
    drop(QStringLiteral("EF560003"), 3); // taken 95 days ago, claim not in the register
    platform::setDialogs(nullptr);
    return dialogs.shots == 3 ? 0 : 1;
}
