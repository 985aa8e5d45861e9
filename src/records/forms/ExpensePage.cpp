#include "records/forms/ExpensePage.h"

#include "platform/widgets/DateBox.h"
#include "platform/widgets/Dialogs.h"
#include "platform/core/Error.h"
#include "records/tables/ClaimDatabase.h"
#include "records/forms/EnquiryU.h"
#include "records/tables/ExpenseCalculation.h"
#include "records/forms/FieldControls.h"
#include "records/forms/FormLook.h"
#include "records/forms/FormUserU.h"
#include "records/forms/RecordBinding.h"
#include "records/tables/RecordDates.h"
#include "records/forms/RecordForms.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

namespace tevrak::records {

namespace {

QString field(const char* name)
{
    return QString::fromLatin1(name);
}

} // namespace

ExpensePage::ExpensePage(QWidget* tab, ClaimDatabase& database, const RecordForms& forms)
    : QObject(tab), m_db(database), m_forms(forms)
{
    m_tab = tab;
    buildControls(tab);
    connect(&m_db, &QObject::destroyed, this, [this] { detachFromDatabase(); });
    m_binding = new RecordBinding(m_db.ExpenseT, m_db.ExpenseTDs, this);
    m_binding->bindLookup(DBLookupComboBox2, field("Userid"));
    m_binding->bindChoice(m_typeGroup, field("Typ"), {QStringLiteral("1"), QStringLiteral("2")});
    m_binding->bindText(DBEdit6, field("Claimno"));
    m_binding->bindNumber(DBEdit7, field("Seq"));
    m_binding->bindDate(DBDateEdit1, field("SurvDate"));
    m_binding->bindText(DBEdit8, field("From1"));
    m_binding->bindText(DBEdit9, field("To1"));
    m_binding->bindNumber(DBEdit10, field("Distance1"));
    m_binding->bindText(DBEdit11, field("From2"));
    m_binding->bindText(DBEdit12, field("To2"));
    m_binding->bindNumber(DBEdit13, field("Distance2"));
    m_binding->bindText(DBEdit14, field("From3"));
    m_binding->bindText(DBEdit15, field("To3"));
    m_binding->bindNumber(DBEdit16, field("Distance3"));
    m_binding->bindNumber(DBEdit27, field("Rate"));
    m_binding->bindNumber(DBEdit18, field("Total_Dis"));
    m_binding->bindNumber(DBEdit17, field("Distance"));
    m_binding->bindNumber(DBEdit19, field("Survey"));
    m_binding->bindNumber(DBEdit20, field("Copy"));
    m_binding->bindNumber(DBEdit21, field("Pay"));
    m_binding->bindNumber(DBEdit25, field("Other"));
    m_binding->bindNumber(DBEdit26, field("Total"));
    m_binding->showRecord();
    connect(&m_db.UserT, &Dataset::reset, this, [this] { platform::guard([&] { fillRequesterList(); }); });
    fillRequesterList();
    connectHandlers();
}

ExpensePage::~ExpensePage() = default;

void ExpensePage::detachFromDatabase()
{
    detachControls(*this, *m_tab);
}

QList<FieldEdit*> ExpensePage::amountBoxes() const
{
    return {DBEdit10, DBEdit13, DBEdit16, DBEdit19, DBEdit20, DBEdit21, DBEdit25, DBEdit27};
}

namespace {

// A row of the panel's grid laid out by itself, flush with the grid's columns.
QHBoxLayout* newLine()
{
    auto* line = new QHBoxLayout;
    line->setContentsMargins(0, 0, 0, 0);
    return line;
}

} // namespace

void ExpensePage::buildControls(QWidget* tab)
{
    auto* page = new QHBoxLayout(tab);
    page->setContentsMargins(8, 6, 8, 6);
    page->setSpacing(10);
    page->addLayout(buildButtons(tab));
    Panel32 = new QFrame(tab);
    Panel32->setObjectName(QStringLiteral("Panel32"));
    Panel32->setFrameShape(QFrame::StyledPanel);
    Panel32->setFrameShadow(QFrame::Raised);
    page->addWidget(Panel32, 1);

    auto* grid = new QGridLayout(Panel32);
    grid->setContentsMargins(12, 6, 12, 8);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(3);
    // Columns: 0 line caption, 1 box, 2 "ไป", 3 box, 4 "ระยะทาง", 5 box, 6 unit.
    int row = 0;
    addTitle(grid, row);
    addRequesterLine(grid, row);
    addTypeLine(grid, row);
    addClaimLine(grid, row);
    addDateLine(grid, row);
    addLegs(grid, row);
    addTravelCost(grid, row);
    addAmounts(grid, row);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    grid->setRowStretch(row, 1);
    orderTabStops();
}

QVBoxLayout* ExpensePage::buildButtons(QWidget* tab)
{
    // The three buttons beside the panel.
    auto* buttons = new QVBoxLayout;
    buttons->setSpacing(8);
    BitBtn10 = look::button(QStringLiteral("BitBtn10"), QStringLiteral("สร้าง"), QStyle::SP_FileIcon, tab);
    BitBtn11 =
        look::button(QStringLiteral("BitBtn11"), QStringLiteral("บันทึก"), QStyle::SP_DialogSaveButton, tab);
    BitBtn12 = look::button(QStringLiteral("BitBtn12"), QStringLiteral("ค้นหา"),
                            QStyle::SP_FileDialogContentsView, tab);
    BitBtn11->setEnabled(false);
    buttons->addSpacing(34);
    buttons->addWidget(BitBtn10);
    buttons->addWidget(BitBtn11);
    buttons->addWidget(BitBtn12);
    buttons->addStretch(1);
    return buttons;
}

FieldEdit* ExpensePage::newTextBox(const char* name, int size)
{
    return new FieldEdit(QString::fromLatin1(name), FieldEdit::Kind::Text, size, Panel32);
}

FieldEdit* ExpensePage::newNumberBox(const char* name)
{
    auto* box = new FieldEdit(QString::fromLatin1(name), FieldEdit::Kind::Number, 0, Panel32);
    box->setAlignment(Qt::AlignRight);
    look::fitChars(box, 9);
    return box;
}

void ExpensePage::addCaptionedLine(QGridLayout* grid, int& row, const QString& caption, QWidget* buddy,
                                   QLayout* line)
{
    grid->addWidget(look::caption(caption, buddy, Panel32), row, 0);
    grid->addLayout(line, row++, 1, 1, 6);
}

void ExpensePage::addTitle(QGridLayout* grid, int& row)
{
    Label32 = new QLabel(QStringLiteral("สรุปค่าใช้จ่ายสำรวจความเสียหาย"), Panel32);
    Label32->setObjectName(QStringLiteral("Label32"));
    Label32->setAlignment(Qt::AlignCenter);
    look::makeHeading(Label32);
    grid->addWidget(Label32, row++, 0, 1, 7);
}

void ExpensePage::addRequesterLine(QGridLayout* grid, int& row)
{
    DBLookupComboBox2 = new QComboBox(Panel32);
    DBLookupComboBox2->setObjectName(QStringLiteral("DBLookupComboBox2"));
    DBLookupComboBox2->setMaxVisibleItems(9);
    look::fitChars(DBLookupComboBox2, 20);
    Button1 = look::button(QStringLiteral("Button1"), QStringLiteral("เพิ่ม"), QStyle::SP_FileDialogNewFolder,
                           Panel32);
    auto* line = newLine();
    line->addWidget(DBLookupComboBox2);
    line->addWidget(Button1);
    line->addStretch(1);
    addCaptionedLine(grid, row, QStringLiteral("ผู้ขออนุมัติ"), DBLookupComboBox2, line);
}

void ExpensePage::addTypeLine(QGridLayout* grid, int& row)
{
    DBRadioGroup1 = new QGroupBox(Panel32);
    DBRadioGroup1->setObjectName(QStringLiteral("DBRadioGroup1"));
    DBRadioGroup1->setFlat(false);
    DBRadioGroup1First = new QRadioButton(QStringLiteral("ครั้งแรก"), DBRadioGroup1);
    DBRadioGroup1First->setObjectName(QStringLiteral("DBRadioGroup1First"));
    DBRadioGroup1FollowUp = new QRadioButton(QStringLiteral("ติดตามเรื่อง"), DBRadioGroup1);
    DBRadioGroup1FollowUp->setObjectName(QStringLiteral("DBRadioGroup1FollowUp"));
    m_typeGroup = new QButtonGroup(this);
    m_typeGroup->addButton(DBRadioGroup1First, 0);
    m_typeGroup->addButton(DBRadioGroup1FollowUp, 1);
    auto* columns = new QHBoxLayout(DBRadioGroup1);
    columns->setContentsMargins(8, 2, 8, 2);
    columns->addWidget(DBRadioGroup1First, 1);
    columns->addWidget(DBRadioGroup1FollowUp, 1);
    DBRadioGroup1->setFocusPolicy(Qt::NoFocus);
    DBRadioGroup1->setFocusProxy(DBRadioGroup1First);
    DBRadioGroup1->setMinimumWidth(DBLookupComboBox2->minimumWidth());
    auto* line = newLine();
    line->addWidget(DBRadioGroup1);
    line->addStretch(1);
    addCaptionedLine(grid, row, QStringLiteral("ประเภท"), DBRadioGroup1, line);
}

void ExpensePage::addClaimLine(QGridLayout* grid, int& row)
{
    DBEdit6 = newTextBox("DBEdit6", 8);
    look::fitChars(DBEdit6, 8);
    DBEdit7 = new FieldEdit(QStringLiteral("DBEdit7"), FieldEdit::Kind::Number, 0, Panel32);
    DBEdit7->setComputed();
    DBEdit7->setAlignment(Qt::AlignRight);
    look::fitChars(DBEdit7, 3);
    auto* line = newLine();
    line->addWidget(DBEdit6);
    line->addSpacing(16);
    line->addWidget(look::caption(QStringLiteral("ครั้งที่"), DBEdit7, Panel32));
    line->addWidget(DBEdit7);
    line->addStretch(1);
    addCaptionedLine(grid, row, QStringLiteral("เลขรับแจ้ง"), DBEdit6, line);
}

void ExpensePage::addDateLine(QGridLayout* grid, int& row)
{
    DBDateEdit1 = new platform::DateBox(Panel32);
    DBDateEdit1->setObjectName(QStringLiteral("DBDateEdit1"));
    auto* line = newLine();
    line->addWidget(DBDateEdit1);
    line->addStretch(1);
    addCaptionedLine(grid, row, QStringLiteral("วันที่ออกปฎิบัติงาน"), DBDateEdit1, line);
}

void ExpensePage::addLegs(QGridLayout* grid, int& row)
{
    const auto leg = [&](const QString& caption, FieldEdit*& from, const char* fromName, FieldEdit*& to,
                         const char* toName, FieldEdit*& distance, const char* distanceName) {
        from = newTextBox(fromName, 30);
        to = newTextBox(toName, 30);
        distance = newNumberBox(distanceName);
        from->setMinimumWidth(150);
        to->setMinimumWidth(150);
        grid->addWidget(look::caption(caption, from, Panel32), row, 0);
        grid->addWidget(from, row, 1);
        grid->addWidget(look::caption(QStringLiteral("ไป"), to, Panel32), row, 2);
        grid->addWidget(to, row, 3);
        grid->addWidget(look::caption(QStringLiteral("ระยะทาง"), distance, Panel32), row, 4);
        grid->addWidget(distance, row, 5);
        grid->addWidget(look::text(QStringLiteral("กม."), Panel32), row++, 6);
    };
    leg(QStringLiteral("1. ค่าพาหนะจาก"), DBEdit8, "DBEdit8", DBEdit9, "DBEdit9", DBEdit10, "DBEdit10");
    leg(QStringLiteral("จาก"), DBEdit11, "DBEdit11", DBEdit12, "DBEdit12", DBEdit13, "DBEdit13");
    leg(QStringLiteral("จาก"), DBEdit14, "DBEdit14", DBEdit15, "DBEdit15", DBEdit16, "DBEdit16");
}

void ExpensePage::addTravelCost(QGridLayout* grid, int& row)
{
    DBEdit27 = newNumberBox("DBEdit27");
    DBEdit27->setFocusPolicy(Qt::ClickFocus);
    look::fitChars(DBEdit27, 4);
    DBEdit18 = newNumberBox("DBEdit18");
    DBEdit18->setComputed();
    look::fitChars(DBEdit18, 7);
    DBEdit17 = newNumberBox("DBEdit17");
    DBEdit17->setComputed();
    // Rate and total distance share the columns of the places; the travel
    // cost stands under the distances.
    auto* rate = newLine();
    rate->addWidget(DBEdit27);
    rate->addWidget(look::text(QStringLiteral("บาท"), Panel32));
    rate->addSpacing(16);
    rate->addStretch(1);
    rate->addWidget(look::caption(QStringLiteral("รวมระยะทาง"), DBEdit18, Panel32));
    rate->addWidget(DBEdit18);
    rate->addWidget(look::text(QStringLiteral("กม."), Panel32));
    grid->addWidget(look::caption(QStringLiteral("ค่าพาหนะ กม.ละ"), DBEdit27, Panel32), row, 0);
    grid->addLayout(rate, row, 1, 1, 3);
    grid->addWidget(look::caption(QStringLiteral("เป็นเงิน"), DBEdit17, Panel32), row, 4);
    grid->addWidget(DBEdit17, row, 5);
    grid->addWidget(look::text(QStringLiteral("บาท"), Panel32), row++, 6);
}

void ExpensePage::addAmounts(QGridLayout* grid, int& row)
{
    // The amounts 2 to 5 and the total, their boxes under the travel cost.
    const auto amount = [&](const QString& caption, FieldEdit*& box, const char* name, bool bold) {
        box = newNumberBox(name);
        auto* label = new QLabel(caption, Panel32);
        label->setBuddy(box);
        if (bold) {
            QFont font = label->font();
            font.setBold(true);
            label->setFont(font);
            label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        }
        grid->addWidget(label, row, 0, 1, 5);
        grid->addWidget(box, row, 5);
        grid->addWidget(look::text(QStringLiteral("บาท"), Panel32), row++, 6);
    };
    amount(QStringLiteral("2. ค่าสำรวจอุบัติเหตุ (ในอำเภอ)"), DBEdit19, "DBEdit19", false);
    amount(QStringLiteral("3. ค่าคัดสำเนาประจำวัน"), DBEdit20, "DBEdit20", false);
    amount(QStringLiteral("4. ค่าเบี้ยเลี้ยง"), DBEdit21, "DBEdit21", false);
    amount(QStringLiteral("5. อื่นๆ (ระบุ)"), DBEdit25, "DBEdit25", false);
    amount(QStringLiteral("รวมเป็นเงินทั้งสิ้น"), DBEdit26, "DBEdit26", true);
    DBEdit26->setComputed();
    QFont totalFont = DBEdit26->font();
    totalFont.setBold(true);
    DBEdit26->setFont(totalFont);
}

void ExpensePage::orderTabStops()
{
    // The buttons, then the panel's boxes in their order.
    QWidget::setTabOrder(BitBtn10, BitBtn11);
    QWidget::setTabOrder(BitBtn11, BitBtn12);
    QWidget::setTabOrder(BitBtn12, DBLookupComboBox2);
    QWidget* previous = DBLookupComboBox2;
    for (QWidget* next :
         QList<QWidget*>{DBRadioGroup1First, DBRadioGroup1FollowUp, DBEdit6, DBDateEdit1, DBEdit8, DBEdit9,
                         DBEdit10, DBEdit11, DBEdit12, DBEdit13, DBEdit14, DBEdit15, DBEdit16, DBEdit19,
                         DBEdit20, DBEdit21, DBEdit25, Button1}) {
        QWidget::setTabOrder(previous, next);
        previous = next;
    }
}

void ExpensePage::connectHandlers()
{
    connect(BitBtn10, &QPushButton::clicked, this, [this] { BitBtn10Click(); });
    connect(BitBtn11, &QPushButton::clicked, this, [this] { BitBtn11Click(); });
    connect(BitBtn12, &QPushButton::clicked, this, [this] { BitBtn12Click(); });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(DBEdit6, &FieldEdit::left, this, [this] { DBEdit6Exit(); });
    for (FieldEdit* box : amountBoxes())
        connect(box, &FieldEdit::left, this, [this, box] { amountExit(box); });
}

void ExpensePage::fillRequesterList()
{
    const QString chosen = DBLookupComboBox2->currentText();
    const int index = DBLookupComboBox2->currentIndex();
    QStringList ids;
    if (m_db.UserT.isOpen() && m_db.UserT.state() != Dataset::State::Insert) {
        const int current = m_db.UserT.currentRow();
        for (m_db.UserT.first(); !m_db.UserT.eof(); m_db.UserT.next())
            ids.append(m_db.UserT.asText(field("USERID")));
        m_db.UserT.moveTo(current);
    }
    const QSignalBlocker quiet(DBLookupComboBox2);
    DBLookupComboBox2->clear();
    DBLookupComboBox2->addItems(ids);
    DBLookupComboBox2->setCurrentIndex(index < 0 ? -1
                                                 : DBLookupComboBox2->findText(chosen, Qt::MatchExactly));
}

void ExpensePage::BitBtn10Click()
{
    platform::guard([&] {
        Table& record = m_db.ExpenseT;
        if (record.state() == Dataset::State::Insert)
            record.cancel();
        if (DBLookupComboBox2->count() == 0)
            fillRequesterList();
        record.append();
        record.setText(field("Typ"), QStringLiteral("1"));
        record.setFloat(field("Rate"), 3);
        m_binding->setActive(true);
        Panel32->setEnabled(true);
        BitBtn10->setEnabled(false);
        BitBtn12->setEnabled(false);
        BitBtn11->setEnabled(true);
        m_refusedBox = nullptr;
        DBLookupComboBox2->setFocus();
    });
}

void ExpensePage::DBEdit6Exit()
{
    platform::guard([&] {
        if (!m_binding->isEntering())
            return;
        Table& record = m_db.ExpenseT;
        record.setText(field("Claimno"), DBEdit6->text());
        m_db.ExpenseQ.close();
        m_db.ExpenseQ.setParam(record.asText(field("Claimno")));
        m_db.ExpenseQ.open();
        record.setInteger(field("Seq"), m_db.ExpenseQ.asInteger(QStringLiteral("MAX OF Seq")) + 1);
    });
}

void ExpensePage::CalRate()
{
    Table& r = m_db.ExpenseT;
    ExpenseAmounts a;
    a.distance1 = r.asFloat(field("Distance1"));
    a.distance2 = r.asFloat(field("Distance2"));
    a.distance3 = r.asFloat(field("Distance3"));
    a.rate = r.asFloat(field("Rate"));
    a.survey = r.asFloat(field("Survey"));
    a.copy = r.asFloat(field("Copy"));
    a.pay = r.asFloat(field("Pay"));
    a.home = r.asFloat(field("Home"));
    a.ems = r.asFloat(field("Ems"));
    a.fax = r.asFloat(field("Fax"));
    a.other = r.asFloat(field("Other"));
    const ExpenseTotals t = records::CalRate(a);
    r.setFloat(field("Total_Dis"), t.totalDistance);
    r.setFloat(field("Distance"), t.travelCost);
    r.setFloat(field("Total"), t.total);
}

void ExpensePage::refuseNumber(FieldEdit* box, const QString& message, bool deferred)
{
    m_refusedBox = box;
    m_refusedText = box->text();
    const auto show = [this, box = QPointer<FieldEdit>(box), message] {
        m_refusalPending = false;
        platform::showErrorBox(message);
        if (box) {
            box->setFocus();
            box->selectAll();
        }
    };
    if (!deferred) {
        show();
        return;
    }
    // Leaving the box is a focus change in progress: the message and the
    // return of the focus wait until it is over.
    m_refusalPending = true;
    QTimer::singleShot(0, this, show);
}

void ExpensePage::amountExit(FieldEdit* box)
{
    platform::guard([&] {
        if (!m_binding->isEntering())
            return;
        try {
            m_binding->takeNumber(box);
        } catch (const Error& e) {
            refuseNumber(box, e.message(), true);
            return;
        }
        CalRate();
    });
}

bool ExpensePage::takeChangedNumbers()
{
    if (m_refusalPending)
        return false;
    for (FieldEdit* box : amountBoxes()) {
        if (!box->isModified())
            continue;
        try {
            m_binding->takeNumber(box);
        } catch (const Error& e) {
            // The same text was refused when the box was left just now: the
            // user has seen the message.
            if (box == m_refusedBox && box->text() == m_refusedText) {
                box->setFocus();
                box->selectAll();
            } else {
                refuseNumber(box, e.message(), false);
            }
            return false;
        }
        CalRate();
    }
    return true;
}

bool ExpensePage::checkEntry()
{
    const auto refuse = [](QWidget* control, const QString& message) {
        platform::showInputError(message);
        control->setFocus();
        return false;
    };
    const Table& record = m_db.ExpenseT;
    if (record.asText(field("Userid")).isEmpty())
        return refuse(DBLookupComboBox2, QStringLiteral("กรุณาป้อนผู้ขออนุมัติ"));
    if (record.asText(field("Typ")).isEmpty())
        return refuse(DBRadioGroup1, QStringLiteral("กรุณาเลือกประเภท"));
    if (record.asText(field("Claimno")).isEmpty())
        return refuse(DBEdit6, QStringLiteral("กรุณาป้อนเลขรับแจ้ง"));
    if (DBDateEdit1->isEmptyDate())
        return refuse(DBDateEdit1, QStringLiteral("กรุณาป้อนวันที่ออกปฎิบัติงาน"));
    const QDate surveyDate = DBDateEdit1->date();
    if (!hasChristianEraYear(surveyDate))
        return refuse(DBDateEdit1, QStringLiteral("กรุณาป้อนวันที่ออกปฎิบัติงานเป็นปี คศ."));
    if (!isNotInFuture(surveyDate, today()))
        return refuse(DBDateEdit1, QStringLiteral("ห้ามป้อนวันที่ออกปฎิบัติงานล่วงหน้า"));
    return true;
}

void ExpensePage::BitBtn11Click()
{
    platform::guard([&] {
        if (!m_binding->isEntering())
            return;
        // The box being edited is left when Save is clicked with the mouse;
        // from the keyboard (or a Save with no focus change) the same must
        // happen first.
        if (!takeChangedNumbers())
            return;
        if (DBEdit6->hasFocus() || m_db.ExpenseT.isBlank(field("Seq")))
            DBEdit6Exit();
        m_binding->takeAll();
        if (!checkEntry())
            return;
        Table& record = m_db.ExpenseT;
        record.setDate(field("Sysdate"), today());
        record.setBoolean(field("Send"), false);
        // Once the row is stored the tab is idle again, even should what
        // follows the storing fail.
        record.post([this] {
            m_binding->setActive(false);
            BitBtn10->setEnabled(true);
            BitBtn12->setEnabled(true);
            BitBtn11->setEnabled(false);
            m_refusedBox = nullptr;
        });
        platform::dialogs().showMessage({platform::applicationTitle(), QStringLiteral("Save Complete"),
                                         platform::MessageIcon::Confirmation});
    });
}

void ExpensePage::BitBtn12Click()
{
    platform::guard([&] {
        if (!m_forms.Enquiry)
            throw Error(QStringLiteral("หน้าต่างค้นหายังไม่พร้อมใช้งาน"));
        if (m_forms.Enquiry->showFor(m_db) != 1)
            return;
        Query& chosen = m_db.ExpenseQ2;
        const QString claimno = chosen.asText(field("Claimno"));
        const int seq = chosen.asInteger(field("Seq"));
        if (m_db.ExpenseT.state() == Dataset::State::Insert)
            m_db.ExpenseT.cancel();
        m_db.ExpenseT.locate(claimno, seq);
        m_binding->setActive(true);
        Panel32->setEnabled(false);
    });
}

void ExpensePage::Button1Click()
{
    platform::guard([&] {
        if (!m_forms.FormUser)
            throw Error(QStringLiteral("หน้าต่างผู้ขออนุมัติยังไม่พร้อมใช้งาน"));
        m_forms.FormUser->showFor(m_db);
        fillRequesterList();
    });
}

} // namespace tevrak::records
