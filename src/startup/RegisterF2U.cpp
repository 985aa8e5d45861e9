#include "startup/RegisterF2U.h"

#include "platform/core/Cp874.h"
#include "platform/widgets/Dialogs.h"
#include "platform/core/DriveC.h"
#include "platform/core/Error.h"
#include "platform/core/FileSystem.h"
#include "platform/core/StagedCopy.h"

#include <QComboBox>
#include <QEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>

namespace tevrak {

const QStringList& TRegisterF2::branches()
{
    static const QStringList items{
        QStringLiteral("สาขากาญจนบุรี"),    QStringLiteral("สาขากาฬสินธุ์"),   QStringLiteral("สาขาขอนแก่น"),
        QStringLiteral("สาขาโคราช"),       QStringLiteral("สาขาจันทบุรี"),     QStringLiteral("สาขาชลบุรี"),
        QStringLiteral("สาขาชัยนาท"),       QStringLiteral("สาขาชุมพร"),       QStringLiteral("สาขาเชียงใหม่"),
        QStringLiteral("สาขาตรัง"),         QStringLiteral("สาขาทุ่งสง"),       QStringLiteral("สาขานครปฐม"),
        QStringLiteral("สาขานครศรีธรรมราช"), QStringLiteral("สาขานครสวรรค์"),   QStringLiteral("สาขาบุรีรัมย์"),
        QStringLiteral("สาขาปราณบุรี"),     QStringLiteral("สาขาปัตตานี"),      QStringLiteral("สาขาพังงา"),
        QStringLiteral("สาขาพิษณุโลก"),     QStringLiteral("สาขาภูเก็ต"),       QStringLiteral("สาขายะลา"),
        QStringLiteral("สาขาระยอง"),       QStringLiteral("สาขาราชบุรี"),      QStringLiteral("สาขาสกลนคร"),
        QStringLiteral("สาขาสตูล"),         QStringLiteral("สาขาสระบุรี"),      QStringLiteral("สาขาสุราษฏร์ธานี"),
        QStringLiteral("สาขาสุรินทร์"),      QStringLiteral("สาขาสุไหงโกลก"),   QStringLiteral("สาขาหาดใหญ่"),
        QStringLiteral("สาขาอยุธยา"),       QStringLiteral("สาขาอุบลราชธานี"),
    };
    return items;
}

TRegisterF2::TRegisterF2(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint)
{
    setObjectName(QStringLiteral("RegisterF2"));
    setWindowTitle(QStringLiteral("Register"));
    setFixedSize(219, 94);

    Label1 = new QLabel(QStringLiteral("สาขา :"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setStyleSheet(QStringLiteral("color: navy; font-weight: bold;"));
    Label1->setGeometry(8, 36, 44, 22);
    Label2 = new QLabel(QStringLiteral("*** กรุณาพิมพ์สาขาที่ต้องการ ***"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setStyleSheet(QStringLiteral("color: red; font-size: 10px;"));
    Label2->setGeometry(8, 6, 205, 22);
    Label2->hide();

    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);  // typed text is never added to the list
    ComboBox1->addItems(branches());
    ComboBox1->setCurrentIndex(-1);
    ComboBox1->setEditText(QString());
    ComboBox1->setGeometry(56, 34, 155, 26);
    connect(ComboBox1, &QComboBox::editTextChanged, this, [this] { platform::guard([this] { ComboBox1Change(); }); });

    Button1 = new QPushButton(QStringLiteral("&Enter"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    QFont bold = Button1->font();
    bold.setBold(true);
    Button1->setFont(bold);
    Button1->setGeometry(72, 64, 75, 26);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, [this] { platform::guard([this] { Button1Click(); }); });
    setTabOrder(ComboBox1, Button1);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
}

bool TRegisterF2::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate)
        platform::guard([this] { FormActivate(); });
    return QDialog::event(event);
}

void TRegisterF2::keyPressEvent(QKeyEvent* event)
{
    // No close box and no Escape: the form ends only through Enter.
    if (event->key() == Qt::Key_Escape)
        return;
    QDialog::keyPressEvent(event);
}

void TRegisterF2::FormActivate()
{
    platform::ensureFolder(platform::paths::load);
    platform::ensureFolder(platform::paths::loadAll);
}

void TRegisterF2::ComboBox1Change()
{
    if (ComboBox1->currentText() == QStringLiteral("อื่นๆ")) {
        Label2->show();
        ComboBox1->setFocus();
    } else {
        Label2->hide();
    }
}

void TRegisterF2::Button1Click()
{
    const QString branch = ComboBox1->currentText();
    if (branch.isEmpty()) {
        platform::showInputError(QStringLiteral("กรุณาเลือกสาขาที่ต้องการลงทะเบียน"));
        return;
    }
    const auto bytes = platform::cp874::encode(branch);
    if (!bytes) {
        platform::showInputError(QStringLiteral("ชื่อสาขามีอักขระที่ไม่ใช่ภาษาไทยหรืออังกฤษ: กรุณาพิมพ์ใหม่"));
        ComboBox1->setFocus();
        return;
    }
    // The branch text alone, CP874, no line end; written whole or not at all.
    const QString path = platform::localPath(platform::paths::branchFile);
    platform::ensureFolder(platform::paths::load);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(*bytes) != bytes->size() || !file.commit())
        throw Error(QStringLiteral("บันทึกแฟ้มสาขาไม่ได้\n%1: %2").arg(path, file.errorString()));
    platform::syncFolder(QFileInfo(path).absolutePath());
    accept();
}

}  // namespace tevrak
