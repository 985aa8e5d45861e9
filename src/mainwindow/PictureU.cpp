#include "mainwindow/PictureU.h"

#include "archive/ArchivePage.h"
#include "intake/Filing.h"
#include "intake/InboxPage.h"
#include "intake/PictureZoom.h"
#include "intake/guard/PrintBackfill.h"
#include "intake/guard/PrintTable.h"
#include "platform/core/Error.h"
#include "mainwindow/SharedForms.h"
#include "platform/widgets/Dialogs.h"
#include "records/tables/ClaimDatabase.h"
#include "records/forms/ExpensePage.h"
#include "records/forms/PendingCarPage.h"
#include "transfer/forms/TransferRun.h"
#include "platform/core/DriveC.h"
#include "platform/core/FileSystem.h"
#include "platform/core/Registry.h"
#include "platform/core/ServerAddress.h"

#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace tevrak {

QString TPicture::caption()
{
    return QStringLiteral("บริษัท Norvathaประกันภัย จำกัด [ Tevrak หาดใหญ่สาขา ADSL ") + platform::ftpHost() +
           QStringLiteral(" ] ");
}

TPicture::TPicture(SharedForms& forms, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint | Qt::WindowTitleHint),
      m_forms(forms)
{
    setObjectName(QStringLiteral("Picture"));
    setWindowTitle(caption());
    // Thai text in the whole window; the tab control in a sans-serif face.
    QFont windowFont(QStringLiteral("Garuda"));
    windowFont.setPixelSize(14);
    setFont(windowFont);
    resize(800, 550);
    move(-4, -4);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    // The page control fills the window at any size, maximised too.
    auto* fill = new QVBoxLayout(this);
    fill->setContentsMargins(0, 0, 0, 0);
    fill->setSizeConstraint(QLayout::SetNoConstraint); // the window keeps the sizes it is given
    fill->addWidget(PageControl1);
    auto addTab = [this](const QString& name, const QString& caption) {
        auto* tab = new QWidget;
        tab->setObjectName(name);
        tab->resize(796, 520);
        PageControl1->addTab(tab, caption);
        return tab;
    };
    TabSheet1 = addTab(QStringLiteral("TabSheet1"), QStringLiteral("รูปภาพใหม่"));
    TabSheet2 = addTab(QStringLiteral("TabSheet2"), QStringLiteral("รูปภาพเก่า"));
    TabSheet3 = addTab(QStringLiteral("TabSheet3"), QStringLiteral("รายงานรถยนต์ค้าง"));
    TabSheet4 = addTab(QStringLiteral("TabSheet4"), QStringLiteral("สรุปค่าใช้จ่ายสำรวจความเสียหาย"));
    PageControl1->setCurrentWidget(TabSheet1);

    // The requesters' table is open from the moment the window exists.
    m_database = std::make_unique<records::ClaimDatabase>();
    platform::guard([this] { m_database->UserT.open(); });

    m_inbox = new intake::InboxPage(TabSheet1, m_values, [this] { FormCreate(); });
    m_filing = std::make_unique<intake::Filing>(*m_inbox, m_values);
    m_filing->setGarageDates([this](const QString& claimNumber) {
        try {
            return m_database->earliestGarageDate(claimNumber);
        } catch (const Error&) {
            return QDate(); // a register that cannot be read: the claim counts as not in it
        }
    });
    connect(m_inbox->BitBtn3, &QPushButton::clicked, this, [this] { platform::guard([this] { BitBtn3Click(); }); });
    connect(m_inbox, &intake::InboxPage::zoomRequested, this,
            [this](platform::PanelControl* panel) { platform::guard([&] { Zoom(panel); }); });

    m_archive = new archive::ArchivePage(TabSheet2);
    connect(m_archive, &archive::ArchivePage::zoomRequested, this,
            [this](platform::PanelControl* panel) { platform::guard([&] { Zoom2(panel); }); });
    m_pendingCars = new records::PendingCarPage(TabSheet3, *m_database);
    m_expenses = new records::ExpensePage(TabSheet4, *m_database, m_forms);

    connect(PageControl1, &QTabWidget::currentChanged, this, [this] {
        if (PageControl1->currentWidget() == TabSheet2)
            platform::guard([this] { m_archive->TabSheet2Show(); });
    });

    FormCreate();
}

TPicture::~TPicture() = default;

void TPicture::startPrintBackfill()
{
    if (m_backfill)
        return;
    m_filing->prepareGuard();
    m_backfill = std::make_unique<intake::guard::PrintBackfillThread>(intake::guard::PrintTable::defaultFile());
    m_backfill->begin();
}

void TPicture::FormCreate()
{
    // A failure stops the steps after it; the window still opens.
    platform::guard([this] { initialise(); });
}

void TPicture::initialise()
{
    // Dates are shown and typed as dd/mm/yyyy everywhere (the date boxes' own format).
    m_database->openForStartUp();
    // Tab 3's heading and search date show today.
    m_pendingCars->resetToToday();

    // Folders of the picture inbox and the outbox: one that cannot be made is
    // reported, and the window still opens.
    platform::guard([] { platform::ensureFolder(platform::paths::inbox); });
    platform::guard([] { platform::ensureFolder(platform::paths::outbox); });

    m_values.GarageName =
        platform::registry::readString(platform::registry::sarvelloKey, platform::registry::garageNameValue);

    m_inbox->buildFirstPage();
}

void TPicture::BitBtn3Click()
{
    transfer::TransferRun(*m_database, m_values, m_forms, this).run();
}

void TPicture::Zoom(platform::PanelControl* caption)
{
    intake::zoomPicture(platform::paths::inbox + QLatin1Char('\\') + caption->text(), caption->text(), this);
}

void TPicture::Zoom2(platform::PanelControl* caption)
{
    intake::zoomPicture(m_archive->picturePath(caption), caption->text(), this);
}

}  // namespace tevrak
