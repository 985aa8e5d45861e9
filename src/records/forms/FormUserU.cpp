#include "records/forms/FormUserU.h"

#include "platform/widgets/Dialogs.h"
#include "records/tables/ClaimDatabase.h"
#include "records/forms/FieldControls.h"
#include "records/forms/FormLook.h"
#include "records/forms/RecordBinding.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace tevrak {

using records::ClaimDatabase;

namespace {
const QString userIdField = QStringLiteral("USERID");
}

TFormUser::TFormUser(QWidget* parent) : records::DatabaseDialog(parent)
{
    setObjectName(QStringLiteral("FormUser"));
    setWindowTitle(QString());

    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(14, 14, 14, 12);
    layout->setHorizontalSpacing(8);
    layout->setVerticalSpacing(12);
    DBEdit1 = new records::FieldEdit(QStringLiteral("DBEdit1"), records::FieldEdit::Kind::Text, 20, this);
    records::look::fitChars(DBEdit1, 20);
    Button1 = records::look::button(QStringLiteral("Button1"), QStringLiteral("เพิ่ม"),
                                    QStyle::SP_DialogApplyButton, this);
    Button2 = records::look::button(QStringLiteral("Button2"), QStringLiteral("ยกเลิก"),
                                    QStyle::SP_DialogCancelButton, this);
    layout->addWidget(records::look::caption(QStringLiteral("ผู้ขออนุมัติ"), DBEdit1, this), 0, 0);
    layout->addWidget(DBEdit1, 0, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    layout->addLayout(buttons, 1, 0, 1, 2);

    setTabOrder(Button1, Button2);
    setTabOrder(Button2, DBEdit1);

    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(DBEdit1, &QLineEdit::returnPressed, this, [this] { Button1Click(); });
}

TFormUser::~TFormUser() = default;

void TFormUser::attachDatabase(ClaimDatabase& database)
{
    m_binding = new records::RecordBinding(database.UserT, database.UserTDs, this);
    m_binding->bindText(DBEdit1, userIdField);
}

void TFormUser::detachDatabase()
{
    delete m_binding;
    m_binding = nullptr;
}

QWidget* TFormUser::firstBox() const
{
    return DBEdit1;
}

int TFormUser::showFor(ClaimDatabase& database)
{
    bool started = false;
    platform::guard([&] {
        useDatabase(database);
        records::Table& users = database.UserT;
        if (users.state() == records::Dataset::State::Insert)
            users.cancel();
        users.append();
        m_binding->showRecord();
        started = true;
    });
    if (!started)
        return 0;
    DBEdit1->setFocus();
    m_added = false;
    platform::dialogs().showModal(*this);
    // However the dialog ended, no requester stays pending.
    if (m_db && m_db->UserT.state() == records::Dataset::State::Insert)
        m_db->UserT.cancel();
    return m_added ? 1 : 0;
}

void TFormUser::Button1Click()
{
    platform::guard([&] {
        if (!m_db || m_db->UserT.state() != records::Dataset::State::Insert)
            return;
        records::Table& users = m_db->UserT;
        m_binding->takeAll();
        const QString id = users.asText(userIdField);
        // An empty id would only add a blank line to the requester list, and
        // the same id twice would show it twice.
        if (id.trimmed().isEmpty()) {
            platform::showInputError(QStringLiteral("กรุณาป้อนผู้ขออนุมัติ"));
            DBEdit1->setFocus();
            return;
        }
        for (int row = 0; row < users.recordCount(); ++row) {
            if (users.displayText(row, userIdField) == id) {
                platform::showInputError(QStringLiteral("มีชื่อผู้ขออนุมัตินี้ในรายการแล้ว"));
                DBEdit1->setFocus();
                DBEdit1->selectAll();
                return;
            }
        }
        users.post();
        m_added = true;
        platform::dialogs().showMessage({platform::applicationTitle(), QStringLiteral("Save Complete"),
                                         platform::MessageIcon::Information});
        done(1);
    });
}

void TFormUser::Button2Click()
{
    platform::guard([&] {
        if (m_db && m_db->UserT.state() == records::Dataset::State::Insert)
            m_db->UserT.cancel();
    });
    done(0);
}

void TFormUser::reject()
{
    Button2Click();
}

} // namespace tevrak
