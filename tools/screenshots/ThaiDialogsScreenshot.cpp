// Screenshots of Qt's own windows in Thai, for the documentation (not a test).
//
//   thai_dialogs_screenshot OUTDIR   run under a real X server (Xvfb): loads the Thai translation as the
//                                    program does and writes OUTDIR/thai-message-box.png,
//                                    thai-print-preview.png, thai-page-setup.png, thai-printer-dialog.png
//                                    and thai-calendar.png
// Uses a private drive C: under a temporary folder.
#include "ScreenshotSupport.h"
#include "app/QtTranslation.h"
#include "app/Workstation.h"
#include "intake/PictureZoom.h"
#include "platform/widgets/DateBox.h"
#include "platform/widgets/Dialogs.h"
#include "support/TestPictures.h"

#include <QAction>
#include <QApplication>
#include <QCalendarWidget>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <cstdio>
#include <functional>

using namespace tevrak;
using tevrak::screenshots::settle;
using tevrak::screenshots::save;

namespace {


// Runs `show` (a modal window's exec); once the first modal window other than
// `parent` has painted, `shoot` gets it, then it is closed.
void whileModal(const std::function<void()>& show, const std::function<void(QWidget&)>& shoot,
                QWidget* parent = nullptr)
{
    QTimer poll;
    poll.setInterval(100);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || modal == parent || !modal->isVisible())
            return;
        poll.stop();
        settle(500);
        shoot(*modal);
        modal->close();
    });
    poll.start();
    show();
}


// Answers the zoom: photographs its preview, then its page set-up and printer dialogs.
class PreviewOnly final : public platform::Dialogs {
public:
    explicit PreviewOnly(QString out) : m_out(std::move(out)) {}
    void showMessage(const platform::Message&) override {}
    void openDocument(const QString&, const QString&) override {}
    int showModal(QWidget& form) override
    {
        form.resize(1000, 720);
        form.show();
        settle(800);
        save(form, m_out + "/thai-print-preview.png");
        for (QAction* action : form.findChildren<QAction*>()) {
            if (action->text() == QCoreApplication::translate("QPrintPreviewDialog", "Page setup"))
                whileModal([&] { action->trigger(); }, [&](QWidget& w) { save(w, m_out + "/thai-page-setup.png"); },
                           &form);
        }
        for (QAction* action : form.findChildren<QAction*>()) {
            if (action->text() == QCoreApplication::translate("QPrintPreviewDialog", "Print"))
                whileModal([&] { action->trigger(); },
                           [&](QWidget& w) {
                               for (QPushButton* button : w.findChildren<QPushButton*>())
                                   if (button->text() == QCoreApplication::translate("QPrintDialog", "&Options >>")) {
                                       button->click();
                                       break;
                                   }
                               settle(300);
                               save(w, m_out + "/thai-printer-dialog.png");
                           },
                           &form);
        }
        form.hide();
        return 0;
    }

private:
    QString m_out;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: thai_dialogs_screenshot OUTDIR\n");
        return 2;
    }
    QTemporaryDir base;
    qputenv("TEVRAK_ROOT", QFile::encodeName(base.path() + "/C"));
    QApplication app(argc, argv);
    if (installQtTranslation(app).isEmpty()) {
        std::fprintf(stderr, "no Thai translation found\n");
        return 1;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    platform::setApplicationTitle(Workstation::title());

    QMessageBox box(QMessageBox::Question, platform::applicationTitle(), QStringLiteral("Transfer failed"),
                    QMessageBox::Yes | QMessageBox::No);
    box.setInformativeText(QStringLiteral("ส่งไฟล์ไม่ครบ: ไฟล์ที่เหลือจะส่งในครั้งต่อไป"));
    box.setDetailedText(QStringLiteral("ส่ง 12345678001.JPG (3.8 MB) แล้ว\nส่ง 12345678.Zip ไม่ได้\n"
                                       "550 Permission denied"));
    whileModal([&] { box.exec(); },
               [&](QWidget& w) {
                   for (QAbstractButton* button : box.buttons())
                       if (box.buttonRole(button) == QMessageBox::ActionRole)
                           button->click();
                   settle(300);
                   save(w, out + "/thai-message-box.png");
               });

    QDir().mkpath(base.path() + "/C/picture");
    test::writeJpeg(base.path() + "/C/picture/photo.jpg", {});
    PreviewOnly dialogs(out);
    platform::setDialogs(&dialogs);
    intake::zoomPicture(QStringLiteral("c:\\picture\\photo.jpg"), QStringLiteral("photo.jpg"));
    platform::setDialogs(nullptr);

    QWidget holder;
    holder.resize(320, 60);
    platform::DateBox date(&holder);
    date.setDate(QDate(2026, 12, 10));
    holder.show();
    date.calendarButton()->click();
    settle(500);
    if (auto* calendar = date.findChild<QCalendarWidget*>())
        save(*calendar, out + "/thai-calendar.png");
    return 0;
}
