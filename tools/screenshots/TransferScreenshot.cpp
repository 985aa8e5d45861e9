// Screenshots of a Transfer on a slow line, for the documentation (not a test).
//
//   transfer_screenshot OUTDIR SERVER_ROOT PORT
//       with the stand-in already serving SERVER_ROOT on PORT on a slow line, e.g.
//       scripts/ftp-server SERVER_ROOT PORT --demo --rate 300000
//   writes OUTDIR/transfer-packing.png, transfer-sending.png, transfer-receiving.png and
//   transfer-result.png (the result box with its details shown). Uses a private drive C: under a
//   temporary folder; the garage is "Garage1", the branch "HATYAI".
#include "ScreenshotSupport.h"
#include "app/QtTranslation.h"
#include "exchange/forms/CopyfU.h"
#include "platform/core/DriveC.h"
#include "platform/core/ProgramValues.h"
#include "records/tables/ClaimDatabase.h"
#include "records/tables/WorkstationCreation.h"
#include "startup/RegisterF2U.h"
#include "support/TestPictures.h"
#include "transfer/forms/TransferForms.h"
#include "transfer/forms/TransferRun.h"
#include "transfer/forms/ZipfU.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <random>

using namespace tevrak;
using tevrak::screenshots::save;

namespace {

void write(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
}

QByteArray noise(int size, unsigned seed)
{
    std::mt19937 random(seed);
    QByteArray bytes(size, '\0');
    for (char& c : bytes)
        c = char(random());
    return bytes;
}


} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s OUTDIR SERVER_ROOT PORT\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QString serverRoot = QString::fromLocal8Bit(argv[2]);
    installQtTranslation(app);
    QTemporaryDir drive;
    qputenv("TEVRAK_ROOT", drive.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (drive.path() + "/config").toLocal8Bit());
    qputenv("TEVRAK_FTP_HOST", "127.0.0.1");
    qputenv("TEVRAK_FTP_PORT", argv[3]);
    qputenv("TEVRAK_FTP_ENCRYPTION", "Off");
    records::createWorkstation();

    const QString outbox = platform::localPath(platform::paths::outbox);
    for (int i = 1; i <= 8; ++i)
        write(outbox + QStringLiteral("/1234567800%1.jpg").arg(i), noise(600000, unsigned(i)));
    for (const QString& gif : {QStringLiteral("12345678800.gif"), QStringLiteral("12345678801.gif")})
        write(outbox + "/" + gif, test::gifBytes(test::noisyImage(QSize(800, 1100), Qt::darkGreen, 30, gif.size())));
    write(platform::localPath(platform::paths::branchFile), "HATYAI\r\n");
    for (const char* name : {"approval.pdf", "rates.xls"})
        write(serverRoot + "/Claim/Download3/HATYAI/" + name, noise(2000000, 7));

    records::ClaimDatabase database;
    database.openForStartUp();
    ProgramValues values;
    values.GarageName = QStringLiteral("Garage1");
    TCopyf copyf;
    TZipf zipf;
    TRegisterF2 branchForm;
    transfer::TransferForms forms;
    forms.Copyf = &copyf;
    forms.Zipf = &zipf;
    forms.RegisterF2 = &branchForm;
    QWidget mainWindow;

    // Takes each picture once, when the windows show the moment.
    bool packed = false, sent = false, received = false, detailsOpened = false;
    QElapsedTimer sending, receiving;
    QTimer camera;
    QObject::connect(&camera, &QTimer::timeout, [&] {
        if (!packed && zipf.isVisible()) {
            save(zipf, out + "/transfer-packing.png");
            packed = true;
        }
        if (copyf.isVisible() && copyf.Label2->text().startsWith("From")) {
            if (!sending.isValid())
                sending.start();
            if (!sent && sending.elapsed() > 5000) {
                save(copyf, out + "/transfer-sending.png");
                sent = true;
            }
        }
        if (copyf.isVisible() && copyf.Label2->text().startsWith(QStringLiteral("รับไฟล์"))) {
            if (!receiving.isValid())
                receiving.start();
            if (!received && receiving.elapsed() > 300) {
                save(copyf, out + "/transfer-receiving.png");
                received = true;
            }
        }
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            if (!detailsOpened) {
                for (QAbstractButton* button : box->buttons())
                    if (box->buttonRole(button) == QMessageBox::ActionRole)
                        button->click();
                detailsOpened = true;
                return;
            }
            save(*box, out + "/transfer-result.png");
            box->accept();
        }
    });
    camera.start(100);

    transfer::TransferRun run(database, values, forms, &mainWindow);
    run.run();
    return packed && sent && received && detailsOpened ? 0 : 1;
}
