#include "records/forms/EnquiryU.h"

#include "platform/widgets/Dialogs.h"
#include "records/tables/ClaimDatabase.h"
#include "records/forms/DatasetModel.h"
#include "records/forms/FieldControls.h"
#include "records/forms/FormLook.h"
#include "records/tables/SearchTexts.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace tevrak {

using records::ClaimDatabase;

TEnquiry::TEnquiry(QWidget* parent) : records::DatabaseDialog(parent)
{
    setObjectName(QStringLiteral("Enquiry"));
    setWindowTitle(QStringLiteral("Enquiry"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(6);

    auto* upper = new QFrame(this);
    upper->setObjectName(QStringLiteral("Panel1"));
    upper->setFrameShape(QFrame::StyledPanel);
    auto* line = new QHBoxLayout(upper);
    line->setContentsMargins(10, 6, 10, 6);
    Edit1 = new records::FieldEdit(QStringLiteral("Edit1"), records::FieldEdit::Kind::Text, 8, upper);
    records::look::fitChars(Edit1, 8);
    BitBtn1 = records::look::button(QStringLiteral("BitBtn1"), QStringLiteral("ค้นหา"),
                                    QStyle::SP_FileDialogContentsView, upper);
    BitBtn2 = records::look::button(QStringLiteral("BitBtn2"), QStringLiteral("ยกเลิก"),
                                    QStyle::SP_DialogCancelButton, upper);
    line->addWidget(records::look::caption(QStringLiteral("เลขรับแจ้ง"), Edit1, upper));
    line->addWidget(Edit1);
    line->addSpacing(10);
    line->addWidget(BitBtn1);
    line->addWidget(BitBtn2);
    line->addStretch(1);
    layout->addWidget(upper);

    auto* lower = new QFrame(this);
    lower->setObjectName(QStringLiteral("Panel2"));
    auto* lowerLayout = new QVBoxLayout(lower);
    lowerLayout->setContentsMargins(0, 0, 0, 0);
    DBGrid1 = new QTableView(lower);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    lowerLayout->addWidget(DBGrid1);
    layout->addWidget(lower, 1);

    setTabOrder(Edit1, BitBtn1);
    setTabOrder(BitBtn1, BitBtn2);

    connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
    connect(BitBtn2, &QPushButton::clicked, this, [this] { BitBtn2Click(); });
    connect(Edit1, &QLineEdit::returnPressed, this, [this] { BitBtn1Click(); });
    connect(DBGrid1, &QTableView::doubleClicked, this,
            [this](const QModelIndex& index) { DBGrid1DblClick(index.isValid() ? index.row() : -1); });
    resize(640, 360);
}

TEnquiry::~TEnquiry() = default;

void TEnquiry::attachDatabase(ClaimDatabase& database)
{
    m_model = new records::DatasetModel(database.ExpenseQ2Ds,
                                        {{QStringLiteral("Claimno"), QStringLiteral("เลขรับแจ้ง")},
                                         {QStringLiteral("Seq"), QStringLiteral("ครั้งที่")},
                                         {QStringLiteral("Userid"), QStringLiteral("ผู้ขออนุมัติ")},
                                         {QStringLiteral("Total"), QStringLiteral("จำนวนเงิน")},
                                         {QStringLiteral("SurvDate"), QStringLiteral("วันที่ออกปฎิบัติงาน")},
                                         {QStringLiteral("Sysdate"), QStringLiteral("วันที่ป้อนข้อมูล")}},
                                        this);
    DBGrid1->setModel(m_model);
    records::look::makeRecordGrid(DBGrid1, {90, 60, 130, 100, 120, 0});
    connect(DBGrid1->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (m_db && current.isValid())
                    m_db->ExpenseQ2.moveTo(current.row());
            });
}

void TEnquiry::detachDatabase()
{
    DBGrid1->setModel(nullptr);
    delete m_model;
    m_model = nullptr;
}

QWidget* TEnquiry::firstBox() const
{
    return Edit1;
}

int TEnquiry::showFor(ClaimDatabase& database)
{
    platform::guard([&] {
        useDatabase(database);
        FormShow();
    });
    platform::dialogs().showModal(*this);
    return Tag;
}

void TEnquiry::FormShow()
{
    Edit1->clear();
    if (m_db)
        m_db->ExpenseQ2.close();
    Edit1->setFocus();
}

void TEnquiry::BitBtn1Click()
{
    platform::guard([&] {
        if (!m_db)
            return;
        records::Query& result = m_db->ExpenseQ2;
        result.close();
        result.setSql(records::search::expensesOfClaim());
        result.setParam(Edit1->text());
        result.open();
        if (result.recordCount() == 0) {
            platform::showInputError(QStringLiteral("Record not found"));
            Edit1->setFocus();
            return;
        }
        DBGrid1->selectRow(0);
    });
}

void TEnquiry::BitBtn2Click()
{
    Tag = 0;
    done(0);
}

void TEnquiry::reject()
{
    BitBtn2Click();
}

void TEnquiry::DBGrid1DblClick(int row)
{
    platform::guard([&] {
        if (!m_db || !m_db->ExpenseQ2.isOpen() || row < 0 || row >= m_db->ExpenseQ2.recordCount())
            return;
        m_db->ExpenseQ2.moveTo(row);
        Tag = 1;
        done(1);
    });
}

} // namespace tevrak
