#include "platform/widgets/Dialogs.h"

#include "platform/core/Error.h"

#include <QDesktopServices>
#include <QDialog>
#include <QEventLoop>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QAbstractButton>
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

namespace {

constexpr int questionPictureWidth = 240;
constexpr int questionPictureHeight = 180;
constexpr int questionCaptionHeight = 22;

// The pictures of a question side by side on white, each scaled into its box
// keeping its proportions, its caption under it.
QPixmap sideBySide(const Question& question)
{
    const std::initializer_list<std::pair<const QImage*, const QString*>> pictures{
        {&question.leftPicture, &question.leftCaption}, {&question.rightPicture, &question.rightCaption}};
    const int gap = 12;
    QPixmap canvas(2 * questionPictureWidth + gap, questionPictureHeight + questionCaptionHeight);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    int left = 0;
    for (const auto& [picture, caption] : pictures) {
        const QRect box(left, 0, questionPictureWidth, questionPictureHeight);
        if (!picture->isNull()) {
            const QImage scaled = picture->scaled(box.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
            painter.drawImage(box.x() + (box.width() - scaled.width()) / 2,
                              box.y() + (box.height() - scaled.height()) / 2, scaled);
        } else {
            painter.fillRect(box, QColor(0xc0, 0xc0, 0xc0));
        }
        painter.drawText(QRect(left, questionPictureHeight, questionPictureWidth, questionCaptionHeight),
                         Qt::AlignCenter, *caption);
        left += questionPictureWidth + gap;
    }
    return canvas;
}

}  // namespace

std::unique_ptr<QMessageBox> questionBox(const Question& question)
{
    auto box = std::make_unique<QMessageBox>();
    box->setWindowTitle(question.caption);
    box->setText(question.text);
    if (question.leftPicture.isNull() && question.rightPicture.isNull())
        box->setIcon(QMessageBox::Warning);
    else {
        box->setIconPixmap(sideBySide(question));
        // The text beside two pictures keeps room for its longest line (a file name with its date).
        box->setStyleSheet(QStringLiteral("QLabel#qt_msgbox_label { min-width: 330px; }"));
    }
    box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box->setDefaultButton(QMessageBox::No);
    box->setEscapeButton(QMessageBox::No);
    box->button(QMessageBox::Yes)->setText(QStringLiteral("ใช่"));
    box->button(QMessageBox::No)->setText(QStringLiteral("ไม่ใช่"));
    return box;
}

bool Dialogs::ask(const Question& question)
{
    return questionBox(question)->exec() == QMessageBox::Yes;
}

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
