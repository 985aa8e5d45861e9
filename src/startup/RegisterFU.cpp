#include "startup/RegisterFU.h"

#include "platform/core/Cp874.h"
#include "platform/widgets/Dialogs.h"
#include "platform/core/DriveC.h"
#include "platform/core/FileSystem.h"
#include "platform/core/Registry.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

namespace tevrak {

TRegisterf::TRegisterf(std::function<void()> openMainWindow, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::CustomizeWindowHint),
      m_openMainWindow(std::move(openMainWindow))
{
    setObjectName(QStringLiteral("Registerf"));
    setWindowTitle(QStringLiteral("บริษัท Norvathaประกันภัย จำกัด"));
    setFixedSize(224, 91);

    Label1 = new QLabel(QStringLiteral("อู่ออนไลน์"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(8, 16, 64, 21);
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(76, 14, 140, 24);
    Button1 = new QPushButton(QStringLiteral("ลงทะเบียน"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(72, 52, 84, 28);
    setTabOrder(Edit1, Button1);
    connect(Button1, &QPushButton::clicked, this, [this] { platform::guard([this] { Button1Click(); }); });

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
}

void TRegisterf::Button1Click()
{
    // The name becomes the garage's folder on the insurer's server, written in
    // the Thai code page: a name that code page cannot hold is refused.
    if (!platform::cp874::canEncode(Edit1->text())) {
        platform::showInputError(QStringLiteral("ชื่ออู่มีอักขระที่ไม่ใช่ภาษาไทยหรืออังกฤษ: กรุณาพิมพ์ใหม่"));
        Edit1->setFocus();
        return;
    }
    // The name is stored as typed, an empty one too (the next start then asks again).
    platform::registry::writeString(platform::registry::sarvelloKey, platform::registry::garageNameValue,
                                    Edit1->text());
    platform::ensureFolder(platform::paths::inbox);
    platform::showPlainMessage(QStringLiteral("ลงทะเบียนเรียบร้อย"));
    // The main window is destroyed when it closes, also when it closes through
    // a failure; then this form closes, which ends the program.
    struct CloseAfterwards {
        QWidget* form;
        ~CloseAfterwards() { form->close(); }
    } closeAfterwards{this};
    m_openMainWindow();
}

}  // namespace tevrak
