#include "platform/widgets/Dialogs.h"

#include "platform/core/Error.h"

#include <QDesktopServices>
#include <QDialog>
#include <QEventLoop>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QUrl>
#include <QWidget>

namespace tevrak::platform {

namespace {

class DesktopDialogs final : public Dialogs {
public:
    void showMessage(const Message& message) override
    {
        QMessageBox box;
        box.setWindowTitle(message.caption);
        box.setText(message.text);
        switch (message.icon) {
        case MessageIcon::None:
            break;
        case MessageIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case MessageIcon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case MessageIcon::Error:
            box.setIcon(QMessageBox::Critical);
            break;
        case MessageIcon::Confirmation:
            box.setIcon(QMessageBox::Question);
            break;
        }
        box.setStandardButtons(QMessageBox::Ok);
        if (!message.details.isEmpty())
            box.setDetailedText(message.details);
        box.exec();
    }

    int showModal(QWidget& form) override
    {
        if (auto* dialog = qobject_cast<QDialog*>(&form))
            return dialog->exec();
        // A plain window shown modally: block the other windows and run a
        // nested loop until it is hidden or destroyed.
        QPointer<QWidget> guardForm(&form);
        form.setWindowModality(Qt::ApplicationModal);
        form.setAttribute(Qt::WA_DeleteOnClose, false);
        form.show();
        QEventLoop loop;
        while (guardForm && guardForm->isVisible())
            loop.processEvents(QEventLoop::WaitForMoreEvents);
        return 0;
    }

    void openDocument(const QString& localFile, const QString& workingFolder) override
    {
        // xdg-open started detached in the day folder; the program does not wait.
        if (!QProcess::startDetached(QStringLiteral("xdg-open"), {localFile}, workingFolder))
            QDesktopServices::openUrl(QUrl::fromLocalFile(localFile));
    }
};

DesktopDialogs g_desktop;
Dialogs* g_current = nullptr;
QString g_title;

}  // namespace

Dialogs& dialogs() { return g_current ? *g_current : g_desktop; }

void setDialogs(Dialogs* service) { g_current = service; }

QString applicationTitle() { return g_title; }

void setApplicationTitle(const QString& title) { g_title = title; }

void showErrorBox(const QString& message)
{
    QString text = message;
    if (!text.endsWith(QLatin1Char('.')))
        text += QLatin1Char('.');
    dialogs().showMessage({applicationTitle(), text, MessageIcon::Error});
}

void showInputError(const QString& text)
{
    dialogs().showMessage({QStringLiteral("Error"), text, MessageIcon::Error});
}

void showPlainMessage(const QString& text) { dialogs().showMessage({applicationTitle(), text, MessageIcon::None}); }

void reportError(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        showErrorBox(QString::fromUtf8(e.what()));
    } catch (...) {
        showErrorBox(QStringLiteral("เกิดข้อผิดพลาดที่ไม่ทราบสาเหตุ"));
    }
}

}  // namespace tevrak::platform
