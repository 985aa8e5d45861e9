#include "exchange/forms/LoginU.h"

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace tevrak {

TLogin::TLogin(const QString& garageName, exchange::ExchangeForms& forms, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), m_windows(forms, garageName),
      m_session(garageName)
{
    setObjectName(QStringLiteral("Login"));
    setWindowTitle(QStringLiteral("เข้าสู่ออนไลน์ บริษัทNorvathaประกันภัยจำกัด"));
    setFixedSize(300, 130);

    Label1 = new QLabel(QStringLiteral("ชื่อผู้ใช้"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(16, 16, 80, 22);
    Edit1 = new QLineEdit(m_session.Username, this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(100, 16, 180, 24);

    Label2 = new QLabel(QStringLiteral("รหัสผ่าน"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(16, 50, 80, 22);
    Edit2 = new QLineEdit(m_session.Password, this);
    Edit2->setObjectName(QStringLiteral("Edit2"));
    Edit2->setGeometry(100, 50, 180, 24);
    Edit2->setEchoMode(QLineEdit::Password);

    BitBtn1 = new QPushButton(QStringLiteral("OK"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(100, 90, 80, 28);
    BitBtn1->setDefault(true);
    BitBtn2 = new QPushButton(QStringLiteral("Cancel"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setGeometry(200, 90, 80, 28);

    setTabOrder(Edit1, Edit2);
    setTabOrder(Edit2, BitBtn1);
    setTabOrder(BitBtn1, BitBtn2);
    Edit1->setFocus();

    // Enter anywhere on the form presses the default button, Esc rejects (closes) it.
    connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
    connect(BitBtn2, &QPushButton::clicked, this, [this] { BitBtn2Click(); });

    m_session.Observer = &m_windows;
}

TLogin::~TLogin() = default;

void TLogin::BitBtn1Click()
{
    if (m_running)
        return; // one exchange at a time, even when Enter arrives while it runs
    m_running = true;
    m_session.Username = Edit1->text();
    m_session.Password = Edit2->text();
    m_outcome = m_session.run();
    m_running = false;
}

void TLogin::BitBtn2Click()
{
    close();
}

} // namespace tevrak
