#include "records/forms/PendingCarPage.h"

#include "platform/widgets/DateBox.h"
#include "platform/widgets/Dialogs.h"
#include "records/tables/ClaimDatabase.h"
#include "records/forms/DatasetModel.h"
#include "records/forms/FieldControls.h"
#include "records/forms/FormLook.h"
#include "records/forms/RecordBinding.h"
#include "records/tables/RecordDates.h"
#include "records/tables/SearchTexts.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTableView>

namespace tevrak::records {

namespace {

const QString headingText = QStringLiteral("รายงานรถยนต์คงค้างประจำวันที่ ");

} // namespace

PendingCarPage::PendingCarPage(QWidget* tab, ClaimDatabase& database) : QObject(tab), m_db(database)
{
    m_tab = tab;
    buildControls(tab);
    connect(&m_db, &QObject::destroyed, this, [this] { detachFromDatabase(); });
    m_binding = new RecordBinding(m_db.TevrakT, m_db.TevrakTDs, this);
    m_binding->bindText(DBEdit1, QStringLiteral("Claimno"));
    m_binding->bindDate(DBDateEdit2, QStringLiteral("GarageDate"));
    m_binding->bindText(DBEdit2, QStringLiteral("Brand"));
    m_binding->bindText(DBEdit3, QStringLiteral("Regno"));
    m_binding->bindText(DBEdit4, QStringLiteral("Garage"));
    m_binding->bindLookup(DBLookupComboBox1, QStringLiteral("Status"));
    m_binding->showRecord();
    connect(&m_db.StatusT, &Dataset::reset, this, [this] { platform::guard([&] { fillStatusList(); }); });
    fillStatusList();
    connectHandlers();
}

PendingCarPage::~PendingCarPage() = default;

void PendingCarPage::detachFromDatabase()
{
    detachControls(*this, *m_tab);
    DBGrid1->setModel(nullptr);
    delete m_gridModel;
    m_gridModel = nullptr;
}

void PendingCarPage::buildControls(QWidget* tab)
{
    auto* page = new QVBoxLayout(tab);
    page->setContentsMargins(8, 6, 8, 8);
    page->setSpacing(8);

    // Entry panel
    auto* entry = new QFrame(tab);
    entry->setObjectName(QStringLiteral("PendingEntryPanel"));
    entry->setFrameShape(QFrame::StyledPanel);
    entry->setFrameShadow(QFrame::Raised);
    auto* grid = new QGridLayout(entry);
    grid->setContentsMargins(12, 6, 12, 10);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(6);

    Label8 = new QLabel(headingText, entry);
    Label8->setObjectName(QStringLiteral("Label8"));
    Label8->setAlignment(Qt::AlignCenter);
    look::makeHeading(Label8);
    grid->addWidget(Label8, 0, 0, 1, 6);

    DBEdit1 = new FieldEdit(QStringLiteral("DBEdit1"), FieldEdit::Kind::Text, 8, entry);
    DBDateEdit2 = new platform::DateBox(entry);
    DBDateEdit2->setObjectName(QStringLiteral("DBDateEdit2"));
    DBEdit2 = new FieldEdit(QStringLiteral("DBEdit2"), FieldEdit::Kind::Text, 20, entry);
    DBEdit3 = new FieldEdit(QStringLiteral("DBEdit3"), FieldEdit::Kind::Text, 10, entry);
    DBEdit4 = new FieldEdit(QStringLiteral("DBEdit4"), FieldEdit::Kind::Text, 30, entry);
    DBLookupComboBox1 = new QComboBox(entry);
    DBLookupComboBox1->setObjectName(QStringLiteral("DBLookupComboBox1"));
    DBLookupComboBox1->setMaxVisibleItems(9);

    look::fitChars(DBEdit1, 8);
    look::fitChars(DBEdit2, 20);
    look::fitChars(DBEdit3, 10);
    look::fitChars(DBEdit4, 30);
    look::fitChars(DBLookupComboBox1, 22);

    grid->addWidget(look::caption(QStringLiteral("เลขรับแจ้ง"), DBEdit1, entry), 1, 0);
    grid->addWidget(DBEdit1, 1, 1, Qt::AlignLeft);
    grid->addWidget(look::caption(QStringLiteral("วันที่รถเข้าอู่"), DBDateEdit2, entry), 1, 3);
    grid->addWidget(DBDateEdit2, 1, 4, Qt::AlignLeft);
    grid->addWidget(look::caption(QStringLiteral("ยี่ห้อรถ"), DBEdit2, entry), 2, 0);
    grid->addWidget(DBEdit2, 2, 1, Qt::AlignLeft);
    grid->addWidget(look::caption(QStringLiteral("เลขทะเบียน"), DBEdit3, entry), 2, 3);
    grid->addWidget(DBEdit3, 2, 4, Qt::AlignLeft);
    grid->addWidget(look::caption(QStringLiteral("ชื่ออู่/สน."), DBEdit4, entry), 3, 0);
    grid->addWidget(DBEdit4, 3, 1, Qt::AlignLeft);
    grid->addWidget(look::caption(QStringLiteral("สถานะการซ่อม"), DBLookupComboBox1, entry), 3, 3);
    grid->addWidget(DBLookupComboBox1, 3, 4, Qt::AlignLeft);

    BitBtn5 = look::button(QStringLiteral("BitBtn5"), QStringLiteral("สร้าง"), QStyle::SP_FileIcon, entry);
    BitBtn6 =
        look::button(QStringLiteral("BitBtn6"), QStringLiteral("บันทึก"), QStyle::SP_DialogSaveButton, entry);
    BitBtn6->setEnabled(false);
    grid->addWidget(BitBtn5, 1, 5);
    grid->addWidget(BitBtn6, 2, 5);
    grid->setColumnMinimumWidth(2, 24);
    grid->setColumnStretch(2, 1);
    grid->setColumnStretch(5, 0);
    page->addWidget(entry);

    // Search panel
    GroupBox1 = new QGroupBox(QStringLiteral("การค้นหา"), tab);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    auto* search = new QVBoxLayout(GroupBox1);
    search->setContentsMargins(10, 6, 10, 10);
    search->setSpacing(6);
    auto* modes = new QHBoxLayout;
    modes->setSpacing(8);
    C0 = new QRadioButton(QStringLiteral("รถที่ยังซ่อมไม่เสร็จ"), GroupBox1);
    C0->setObjectName(QStringLiteral("C0"));
    C0->setChecked(true);
    C1 = new QRadioButton(QStringLiteral("รายงานวันที่"), GroupBox1);
    C1->setObjectName(QStringLiteral("C1"));
    DateEdit1 = new platform::DateBox(GroupBox1);
    DateEdit1->setObjectName(QStringLiteral("DateEdit1"));
    C2 = new QRadioButton(QStringLiteral("เลขรับแจ้ง"), GroupBox1);
    C2->setObjectName(QStringLiteral("C2"));
    Edit2 = new FieldEdit(QStringLiteral("Edit2"), FieldEdit::Kind::Text, 8, GroupBox1);
    look::fitChars(Edit2, 8);
    BitBtn9 = look::button(QStringLiteral("BitBtn9"), QStringLiteral("ค้นหา"),
                           QStyle::SP_FileDialogContentsView, GroupBox1);
    modes->addWidget(C0);
    modes->addSpacing(18);
    modes->addWidget(C1);
    modes->addWidget(DateEdit1);
    modes->addSpacing(18);
    modes->addWidget(C2);
    modes->addWidget(Edit2);
    modes->addSpacing(18);
    modes->addWidget(BitBtn9);
    modes->addStretch(1);
    search->addLayout(modes);

    DBGrid1 = new QTableView(GroupBox1);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    m_gridModel = new DatasetModel(m_db.TevrakQ2Ds,
                                   {{QStringLiteral("Claimno"), QStringLiteral("เลขรับแจ้ง")},
                                    {QStringLiteral("Seq"), QStringLiteral("ครั้งที่")},
                                    {QStringLiteral("GarageDate"), QStringLiteral("วันที่รถเข้าอู่")},
                                    {QStringLiteral("Garage"), QStringLiteral("ชื่ออู่")},
                                    {QStringLiteral("Brand"), QStringLiteral("ยี่ห้อรถ")},
                                    {QStringLiteral("Regno"), QStringLiteral("เลขทะเบียน")},
                                    {QStringLiteral("Status"), QStringLiteral("สถานะการซ่อม")}},
                                   this);
    DBGrid1->setModel(m_gridModel);
    look::makeRecordGrid(DBGrid1, {90, 60, 105, 170, 120, 95, 0});
    search->addWidget(DBGrid1, 1);
    page->addWidget(GroupBox1, 1);

    // Tab order: the entry panel, then the search panel.
    QWidget::setTabOrder(DBEdit1, DBDateEdit2);
    QWidget::setTabOrder(DBDateEdit2, DBEdit2);
    QWidget::setTabOrder(DBEdit2, DBEdit3);
    QWidget::setTabOrder(DBEdit3, DBEdit4);
    QWidget::setTabOrder(DBEdit4, DBLookupComboBox1);
    QWidget::setTabOrder(DBLookupComboBox1, BitBtn5);
    QWidget::setTabOrder(BitBtn5, BitBtn6);
    QWidget::setTabOrder(BitBtn6, C0);
    QWidget::setTabOrder(C0, C1);
    QWidget::setTabOrder(C1, DateEdit1);
    QWidget::setTabOrder(DateEdit1, C2);
    QWidget::setTabOrder(C2, Edit2);
    QWidget::setTabOrder(Edit2, BitBtn9);
}

void PendingCarPage::connectHandlers()
{
    connect(BitBtn5, &QPushButton::clicked, this, [this] { BitBtn5Click(); });
    connect(BitBtn6, &QPushButton::clicked, this, [this] { BitBtn6Click(); });
    connect(BitBtn9, &QPushButton::clicked, this, [this] { BitBtn9Click(); });
    connect(C0, &QRadioButton::clicked, this, [this] { C0Click(); });
    connect(C1, &QRadioButton::clicked, this, [this] { C1Click(); });
    connect(C2, &QRadioButton::clicked, this, [this] { C2Click(); });
    connect(Edit2, &FieldEdit::keyTyped, this, [this] { Edit2KeyPress(); });
    connect(DateEdit1, &platform::DateBox::keyTyped, this, [this] { DateEdit1KeyPress(); });
    connect(DateEdit1, &platform::DateBox::calendarClicked, this, [this] { DateEdit1KeyPress(); });
    connect(DBGrid1, &QTableView::doubleClicked, this,
            [this](const QModelIndex& index) { DBGrid1DblClick(index.isValid() ? index.row() : -1); });
    connect(DBGrid1->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid())
                    m_db.TevrakQ2.moveTo(current.row());
            });
}

void PendingCarPage::resetToToday()
{
    const QDate now = today();
    Label8->setText(headingText + QLocale(QLocale::Thai).toString(now, QStringLiteral("dd MMMM yyyy")));
    DateEdit1->setDate(now);
}

void PendingCarPage::fillStatusList()
{
    const QString chosen = DBLookupComboBox1->currentText();
    const int index = DBLookupComboBox1->currentIndex();
    QStringList statuses;
    if (m_db.StatusT.isOpen())
        for (m_db.StatusT.first(); !m_db.StatusT.eof(); m_db.StatusT.next())
            statuses.append(m_db.StatusT.asText(QStringLiteral("Status")));
    const QSignalBlocker quiet(DBLookupComboBox1);
    DBLookupComboBox1->clear();
    DBLookupComboBox1->addItems(statuses);
    DBLookupComboBox1->setCurrentIndex(index < 0 ? -1
                                                 : DBLookupComboBox1->findText(chosen, Qt::MatchExactly));
}

void PendingCarPage::startReport()
{
    if (m_db.TevrakT.state() == Dataset::State::Insert)
        m_db.TevrakT.cancel();
    if (DBLookupComboBox1->count() == 0)
        fillStatusList();
    m_db.TevrakT.append();
    m_binding->setActive(true);
    BitBtn5->setEnabled(false);
    BitBtn6->setEnabled(true);
}

void PendingCarPage::setDetailsLocked(bool locked)
{
    for (QWidget* box :
         {static_cast<QWidget*>(DBEdit1), static_cast<QWidget*>(DBEdit2), static_cast<QWidget*>(DBEdit3),
          static_cast<QWidget*>(DBEdit4), static_cast<QWidget*>(DBDateEdit2)})
        box->setEnabled(!locked);
}

void PendingCarPage::BitBtn5Click()
{
    platform::guard([&] {
        startReport();
        setDetailsLocked(false);
        DBEdit1->setFocus();
    });
}

bool PendingCarPage::checkEntry()
{
    const auto refuse = [](QWidget* control, const QString& message) {
        platform::showInputError(message);
        control->setFocus();
        return false;
    };
    if (DBEdit1->text().isEmpty())
        return refuse(DBEdit1, QStringLiteral("กรุณาป้อนเลขรับแจ้ง"));
    const QDate garageDate = DBDateEdit2->date();
    if (!hasChristianEraYear(garageDate))
        return refuse(DBDateEdit2, QStringLiteral("กรุณาป้อนวันที่รถเข้าอู่ เป็นปี คศ."));
    if (!isNotInFuture(garageDate, today()))
        return refuse(DBDateEdit2, QStringLiteral("ห้ามป้อนวันที่รถเข้าอู่ล่วงหน้า"));
    if (DBEdit2->text().isEmpty())
        return refuse(DBEdit2, QStringLiteral("กรุณาป้อนยี่ห้อรถ"));
    if (DBEdit3->text().isEmpty())
        return refuse(DBEdit3, QStringLiteral("กรุณาป้อนเลขทะเบียนรถ"));
    if (DBEdit4->text().isEmpty())
        return refuse(DBEdit4, QStringLiteral("กรุณาป้อนชื่ออู่"));
    if (DBLookupComboBox1->currentIndex() < 0 || DBLookupComboBox1->currentText().isEmpty())
        return refuse(DBLookupComboBox1, QStringLiteral("กรุณาป้อนเลือกสถานะการซ่อม"));
    return true;
}

void PendingCarPage::BitBtn6Click()
{
    platform::guard([&] {
        if (!m_binding->isEntering())
            return;
        m_binding->takeAll();
        if (!checkEntry())
            return;
        Table& record = m_db.TevrakT;
        m_db.TevrakQ.close();
        m_db.TevrakQ.setParam(record.asText(QStringLiteral("Claimno")));
        m_db.TevrakQ.open();
        record.setInteger(QStringLiteral("Seq"), m_db.TevrakQ.asInteger(QStringLiteral("MAX OF Seq")) + 1);
        record.setDate(QStringLiteral("ReportDate"), today());
        record.setBoolean(QStringLiteral("Send"), false);
        // Once the row is stored the tab is idle again, even should what
        // follows the storing fail.
        record.post([this] {
            m_binding->setActive(false);
            BitBtn5->setEnabled(true);
            BitBtn6->setEnabled(false);
            setDetailsLocked(false);
        });
        platform::dialogs().showMessage({platform::applicationTitle(), QStringLiteral("Save Complete"),
                                         platform::MessageIcon::Confirmation});
        BitBtn9Click();
    });
}

void PendingCarPage::BitBtn9Click()
{
    platform::guard([&] {
        Query& result = m_db.TevrakQ2;
        result.close();
        if (C1->isChecked()) {
            result.setSql(search::byReportDate());
            result.setParam(effectiveDate(DateEdit1->date()));
        } else if (C2->isChecked()) {
            result.setSql(search::byClaimNumber());
            result.setParam(Edit2->text());
        } else {
            Query& finished = m_db.TevrakQ4;
            finished.close();
            finished.open();
            QStringList claims;
            for (finished.first(); !finished.eof(); finished.next())
                claims.append(finished.asText(QStringLiteral("Claimno")));
            result.setSql(search::pendingCars(claims));
        }
        result.open();
    });
}

void PendingCarPage::setGridEnabled(bool enabled)
{
    DBGrid1->setEnabled(enabled);
}

void PendingCarPage::C0Click()
{
    setGridEnabled(true);
}

void PendingCarPage::C1Click()
{
    setGridEnabled(false);
}

void PendingCarPage::C2Click()
{
    setGridEnabled(false);
}

void PendingCarPage::Edit2KeyPress()
{
    C2->setChecked(true);
    C2Click();
    DateEdit1->setText(QStringLiteral("  /  /  "));
}

void PendingCarPage::DateEdit1KeyPress()
{
    C1->setChecked(true);
    C1Click();
    Edit2->clear();
}

void PendingCarPage::DBGrid1DblClick(int row)
{
    platform::guard([&] {
        Query& source = m_db.TevrakQ2;
        if (!DBGrid1->isEnabled() || !source.isOpen() || row < 0 || row >= source.recordCount())
            return;
        source.moveTo(row);
        // Read the row before starting the new record: both are shown from
        // the same moment on.
        const QString claimno = source.asText(QStringLiteral("Claimno"));
        const QDate tevrakDate = source.asDate(QStringLiteral("TevrakDate"));
        const QDate garageDate = source.asDate(QStringLiteral("GarageDate"));
        const QString brand = source.asText(QStringLiteral("Brand"));
        const QString regno = source.asText(QStringLiteral("Regno"));
        const QString garage = source.asText(QStringLiteral("Garage"));

        startReport();
        Table& record = m_db.TevrakT;
        record.setText(QStringLiteral("Claimno"), claimno);
        record.setDate(QStringLiteral("TevrakDate"), tevrakDate);
        record.setDate(QStringLiteral("GarageDate"), garageDate);
        record.setText(QStringLiteral("Brand"), brand);
        record.setText(QStringLiteral("Regno"), regno);
        record.setText(QStringLiteral("Garage"), garage);
        m_binding->showRecord();
        setDetailsLocked(true);
        DBLookupComboBox1->setFocus();
    });
}

} // namespace tevrak::records
