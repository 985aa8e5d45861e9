#include "intake/InboxPage.h"

#include "imaging/PageLoader.h"
#include "imaging/Pictures.h"
#include "platform/widgets/Controls.h"
#include "platform/widgets/Dialogs.h"
#include "platform/core/DriveC.h"
#include "platform/core/Error.h"
#include "platform/core/FileSystem.h"
#include "platform/core/ProgramValues.h"

#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>

namespace tevrak::intake {

namespace {

const QString inboxMask = platform::paths::inbox + QStringLiteral("\\*.jpg;") + platform::paths::inbox +
                          QStringLiteral("\\*.gif");


const QColor teal(0, 128, 128);

QString lastFourUpper(const QString& name) { return name.right(4).toUpper(); }

CategoryTarget makeTarget(QWidget* parent, const QString& panelName, const QString& caption,
                          const QString& imageName, int top, const QImage& folder)
{
    CategoryTarget target;
    target.caption = new platform::PanelControl(caption, parent);
    target.caption->setObjectName(panelName);
    target.caption->setColors(teal, Qt::yellow);
    target.caption->setGeometry(4, top, 83, 25);
    target.image = new platform::ImageControl(parent);
    target.image->setObjectName(imageName);
    target.image->setGeometry(90, top, 107, 74);
    target.image->setPicture(folder);
    return target;
}

// The yellow folder picture shown on each category target (110 x 94).
QImage folderPicture()
{
    QImage picture(110, 94, QImage::Format_ARGB32);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(150, 110, 0), 2));
    p.setBrush(QColor(240, 200, 40));
    p.drawRoundedRect(QRectF(6, 10, 40, 18), 4, 4);
    p.setBrush(QColor(255, 220, 70));
    p.drawRoundedRect(QRectF(6, 20, 98, 66), 5, 5);
    return picture;
}

}  // namespace

QString inboxFile(const QString& name)
{
    return platform::localPath(platform::paths::inbox + QLatin1Char('\\') + name);
}

InboxPage::InboxPage(QWidget* tab, ProgramValues& values, std::function<void()> refresh)
    : QObject(tab), m_values(values), m_refresh(std::move(refresh))
{
    buildControls(tab);
}

void InboxPage::buildControls(QWidget* tab)
{
    const QImage folder = folderPicture();
    beforeRepair = makeTarget(tab, QStringLiteral("Panel11"), QStringLiteral("ก่อนซ่อม"), QStringLiteral("Image10"),
                              4, folder);
    duringRepair = makeTarget(tab, QStringLiteral("Panel13"), QStringLiteral("ระหว่างซ่อม"),
                              QStringLiteral("Image21"), 109, folder);
    afterRepair = makeTarget(tab, QStringLiteral("Panel15"), QStringLiteral("หลังซ่อม"), QStringLiteral("Image22"),
                             214, folder);
    documents = makeTarget(tab, QStringLiteral("Panel12"), QStringLiteral("เอกสาร"), QStringLiteral("Image11"), 319,
                           folder);

    Panel14 = new platform::PanelControl(QStringLiteral("เลขรับแจ้ง"), tab);
    Panel14->setObjectName(QStringLiteral("Panel14"));
    Panel14->setColors(teal, Qt::yellow);
    Panel14->setGeometry(4, 404, 83, 25);
    Edit1 = new QLineEdit(tab);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setMaxLength(8);
    Edit1->setGeometry(90, 404, 107, 25);

    Panel10 = new QWidget(tab);
    Panel10->setObjectName(QStringLiteral("Panel10"));
    Panel10->setGeometry(4, 440, 193, 74);
    auto makeButton = [this](const QString& name, const QString& caption, QStyle::StandardPixmap glyph, int x,
                             int y) {
        auto* button = new QPushButton(caption, Panel10);
        button->setObjectName(name);
        button->setIcon(Panel10->style()->standardIcon(glyph));
        button->setGeometry(x, y, 92, 32);
        return button;
    };
    BitBtn2 = makeButton(QStringLiteral("BitBtn2"), QStringLiteral("Next"), QStyle::SP_ArrowRight, 0, 2);
    BitBtn4 = makeButton(QStringLiteral("BitBtn4"), QStringLiteral("Refresh"), QStyle::SP_BrowserReload, 100, 2);
    BitBtn3 = makeButton(QStringLiteral("BitBtn3"), QStringLiteral("Transfer"), QStyle::SP_ArrowUp, 0, 40);
    BitBtn1 = makeButton(QStringLiteral("BitBtn1"), QStringLiteral("&Close"), QStyle::SP_DialogCloseButton, 100, 40);
    // Tab order: Next, Refresh, Transfer, Close after the claim-number box.
    QWidget::setTabOrder(Edit1, BitBtn2);
    QWidget::setTabOrder(BitBtn2, BitBtn4);
    QWidget::setTabOrder(BitBtn4, BitBtn3);
    QWidget::setTabOrder(BitBtn3, BitBtn1);
    connect(BitBtn2, &QPushButton::clicked, this, [this] { platform::guard([this] { BitBtn2Click(); }); });
    connect(BitBtn4, &QPushButton::clicked, this, [this] { platform::guard([this] { BitBtn4Click(); }); });
    connect(BitBtn1, &QPushButton::clicked, this, [tab] { tab->window()->close(); });

    ScrollBox1 = platform::buildThumbnailSlots(tab, QStringLiteral("ScrollBox1"), 1, 1, m_slots);
    for (const ThumbnailSlot& slot : m_slots) {
        slot.image->setDragSource(true);
        platform::PanelControl* caption = slot.caption;
        connect(caption, &platform::PanelControl::doubleClicked, this, [this, caption] { emit zoomRequested(caption); });
    }
}

QStringList& InboxPage::inboxList()
{
    if (!m_inboxRead)
        readInboxList();
    return m_inbox;
}

void InboxPage::readInboxList()
{
    m_inbox = platform::listFiles(inboxMask);
    m_inboxRead = true;
}

void InboxPage::Hide()
{
    for (const ThumbnailSlot& slot : m_slots) {
        slot.image->hide();
        slot.caption->hide();
    }
}

void InboxPage::showInSlot(const ThumbnailSlot& slot, const QImage& picture)
{
    slot.image->setPicture(picture);
    slot.caption->setText(m_values.CurrentFileName);
    slot.image->show();
    slot.caption->show();
}

void InboxPage::fillSlots(const std::array<int, 9>& entries)
{
    const QStringList& inbox = inboxList();
    QStringList files;
    for (const int entry : entries) {
        if (entry >= 0)
            files.append(inboxFile(inbox[entry]));
    }
    // The page's pictures are decoded together; they are shown in slot order
    // and the first one that fails ends the page.
    const std::vector<imaging::PageThumbnail> pictures = imaging::loadThumbnailPage(files);
    const int failed = imaging::firstFailure(pictures);
    emit pageShown(failed < 0 ? files : files.first(failed));
    size_t next = 0;
    for (size_t k = 0; k < entries.size(); ++k) {
        if (entries[k] < 0)
            continue;
        m_values.CurrentFileName = inbox[entries[k]];
        m_values.ExtensionText = lastFourUpper(m_values.CurrentFileName);
        const imaging::PageThumbnail& picture = pictures[next++];
        if (!picture.loaded())
            throw Error(picture.error);
        showInSlot(m_slots[k], picture.image);
    }
}

void InboxPage::buildFirstPage()
{
    Hide();
    const QStringList& inbox = inboxList();
    std::array<int, 9> entries;
    for (int k = 0; k < 9; ++k)
        entries[static_cast<size_t>(k)] = k < inbox.size() ? k : -1;
    // A picture that fails ends the page with the error box; the page state is
    // still that of a complete build, so the user can page on.
    m_values.PageOffset = 0;
    BitBtn2->setEnabled(true);
    fillSlots(entries);
}

void InboxPage::BitBtn2Click()
{
    Hide();
    m_values.PageOffset += 9;
    const QStringList& inbox = inboxList();
    std::array<int, 9> entries;
    for (int k = 0; k < 9; ++k) {
        const int index = m_values.PageOffset + k;
        entries[static_cast<size_t>(k)] = index >= 0 && index < inbox.size() ? index : -1;
    }
    // Next stays enabled only when this page reaches slot 9.
    BitBtn2->setEnabled(entries[8] >= 0);
    fillSlots(entries);
}

void InboxPage::BitBtn4Click()
{
    readInboxList();
    m_refresh();
}

}  // namespace tevrak::intake
