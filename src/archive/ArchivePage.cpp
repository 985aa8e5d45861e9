#include "archive/ArchivePage.h"

#include "imaging/PageLoader.h"
#include "platform/widgets/Controls.h"
#include "platform/widgets/Dialogs.h"
#include "platform/core/ClaimFileName.h"
#include "platform/core/DriveC.h"
#include "platform/core/Error.h"
#include "platform/core/FileSystem.h"

#include <QDir>
#include <QEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <filesystem>
#include <system_error>

namespace tevrak::archive {

namespace {


const QColor teal(0, 128, 128);

const QString notFoundMessage = QStringLiteral("ไม่พบเลขรับแจ้งที่ต้องการ");

// The ordinary files of a folder (any extension; no sub-folders, no hidden
// files), sorted ignoring case. A folder that is gone or cannot be read is an
// error carrying the file system's reason.
QStringList readFolder(const QString& windowsFolder)
{
    const std::filesystem::path local = platform::localPath(windowsFolder).toStdString();
    std::error_code error;
    const std::filesystem::directory_iterator probe(local, error);
    if (error)
        throw Error(QStringLiteral("เปิดโฟลเดอร์ไม่ได้\n%1: %2.")
                        .arg(windowsFolder, QString::fromLocal8Bit(error.message())));
    return platform::listFiles(windowsFolder + QStringLiteral("\\*"));
}

// A claim number names one folder directly under c:\picture; a text that
// would lead elsewhere ("..\claim") names no claim.
bool namesOneFolder(const QString& text)
{
    return !text.contains(QLatin1Char('\\')) && !text.contains(QLatin1Char('/')) &&
           text != QLatin1String(".") && text != QLatin1String("..");
}

platform::PanelControl* makeHeading(QWidget* parent, const QString& name, const QString& caption)
{
    auto* heading = new platform::PanelControl(caption, parent);
    heading->setObjectName(name);
    heading->setColors(teal, Qt::yellow);
    return heading;
}

} // namespace

ArchivePage::ArchivePage(QWidget* tab) : QObject(tab), m_currentFolder(platform::paths::inbox)
{
    buildControls(tab);
}

void ArchivePage::buildControls(QWidget* tab)
{
    Panel26 = new QWidget(tab);
    Panel26->setObjectName(QStringLiteral("Panel26"));
    Panel26->setGeometry(4, 4, 193, 392);
    Panel25 = makeHeading(Panel26, QStringLiteral("Panel25"), QStringLiteral("เลขรับแจ้งเก่า"));
    Panel25->setGeometry(0, 0, 193, 25);
    ListBox2 = new QListWidget(Panel26);
    ListBox2->setObjectName(QStringLiteral("ListBox2"));
    ListBox2->setGeometry(0, 27, 193, 365);
    ListBox2->setSelectionMode(QAbstractItemView::SingleSelection);

    Panel27 = makeHeading(tab, QStringLiteral("Panel27"), QStringLiteral("เลขรับแจ้ง"));
    Panel27->setGeometry(4, 404, 83, 25);
    Edit6 = new QLineEdit(tab);
    Edit6->setObjectName(QStringLiteral("Edit6"));
    Edit6->setMaxLength(8);
    Edit6->setGeometry(90, 404, 107, 25);

    BitBtn7 = new QPushButton(QStringLiteral("Prevoius"), tab);
    BitBtn7->setObjectName(QStringLiteral("BitBtn7"));
    BitBtn7->setIcon(tab->style()->standardIcon(QStyle::SP_ArrowLeft));
    BitBtn7->setGeometry(4, 444, 92, 32);
    BitBtn8 = new QPushButton(QStringLiteral("Next"), tab);
    BitBtn8->setObjectName(QStringLiteral("BitBtn8"));
    BitBtn8->setIcon(tab->style()->standardIcon(QStyle::SP_ArrowRight));
    BitBtn8->setLayoutDirection(Qt::RightToLeft); // the glyph on the right
    BitBtn8->setGeometry(105, 444, 92, 32);
    BitBtn7->setEnabled(false);
    BitBtn8->setEnabled(false);

    // Shown explicitly, so that the tab's controls appear even when the page
    // is built on a tab that is already on the screen.
    for (QWidget* control :
         {static_cast<QWidget*>(Panel26), static_cast<QWidget*>(Panel27), static_cast<QWidget*>(Edit6),
          static_cast<QWidget*>(BitBtn7), static_cast<QWidget*>(BitBtn8)})
        control->show();

    QWidget::setTabOrder(ListBox2, Edit6);
    QWidget::setTabOrder(Edit6, BitBtn7);
    QWidget::setTabOrder(BitBtn7, BitBtn8);

    ScrollBox2 = platform::buildThumbnailSlots(tab, QStringLiteral("ScrollBox2"), 12, 16, m_slots);
    ScrollBox2->show();
    for (const ArchiveSlot& slot : m_slots) {
        // The slot's picture and its caption bar both enlarge the picture.
        platform::PanelControl* caption = slot.caption;
        connect(slot.image, &platform::ImageControl::doubleClicked, this,
                [this, caption] { emit zoomRequested(caption); });
        connect(caption, &platform::PanelControl::doubleClicked, this,
                [this, caption] { emit zoomRequested(caption); });
    }

    // A choice in the list by keyboard or mouse opens the folder; clicking the
    // folder already chosen opens it again at page 0.
    connect(ListBox2, &QListWidget::currentRowChanged, this, [this](int row) {
        if (m_fillingList || row < 0)
            return;
        platform::guard([this] { ListBox2Click(); });
    });
    connect(ListBox2, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        if (ListBox2->row(item) != m_rowBeforePress)
            return; // the press already changed the row and opened the folder
        platform::guard([this] { ListBox2Click(); });
    });
    ListBox2->viewport()->installEventFilter(this);
    connect(Edit6, &QLineEdit::textChanged, this, [this] { platform::guard([this] { Edit6Change(); }); });
    connect(BitBtn7, &QPushButton::clicked, this, [this] { platform::guard([this] { BitBtn7Click(); }); });
    connect(BitBtn8, &QPushButton::clicked, this, [this] { platform::guard([this] { BitBtn8Click(); }); });
}

bool ArchivePage::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ListBox2->viewport() &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick))
        m_rowBeforePress = ListBox2->currentRow();
    return QObject::eventFilter(watched, event);
}

void ArchivePage::TabSheet2Show()
{
    m_fillingList = true;
    ListBox2->clear();
    m_fillingList = false;
    PageHide();
    setButtons({false, false});
    m_currentFolder = platform::paths::inbox;
    m_files.clear();
    fillFolderList();
}

void ArchivePage::fillFolderList()
{
    QDir inbox(platform::localPath(platform::paths::inbox));
    QStringList folders = inbox.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    folders.removeIf([](const QString& name) { return name.startsWith(QLatin1Char('.')); });
    platform::sortNames(folders);
    m_fillingList = true;
    ListBox2->addItems(folders);
    // No current row, set through the view: a list whose current row was
    // never set makes its first row current when it takes the focus by the
    // keyboard, which would open that folder unasked.
    ListBox2->setCurrentIndex(QModelIndex());
    m_fillingList = false;
}

void ArchivePage::ListBox2Click()
{
    const QListWidgetItem* item = ListBox2->currentItem();
    if (item == nullptr)
        return;
    openFolder(item->text());
}

void ArchivePage::Edit6Change()
{
    const QString text = Edit6->text();
    if (text.size() != platform::ClaimFileName::ClaimLength)
        return;
    if (namesOneFolder(text) && platform::folderExists(platform::paths::claimFolder(text))) {
        openFolder(text);
        return;
    }
    platform::showPlainMessage(notFoundMessage);
    PageHide();
}

void ArchivePage::openFolder(const QString& name)
{
    const QString folder = platform::paths::inbox + QLatin1Char('\\') + name;
    QStringList files = readFolder(folder);
    m_currentFolder = folder;
    m_files = std::move(files);
    // The buttons are set before the page is shown, so that a picture that
    // cannot be shown does not keep the folder's later pages out of reach.
    setButtons(m_paging.open(static_cast<int>(m_files.size())));
    PageShow();
}

void ArchivePage::BitBtn7Click()
{
    setButtons(m_paging.previous(buttons()));
    PageShow();
}

void ArchivePage::BitBtn8Click()
{
    setButtons(m_paging.next(buttons()));
    PageShow();
}

void ArchivePage::PageHide()
{
    for (const ArchiveSlot& slot : m_slots) {
        slot.image->hide();
        slot.caption->hide();
        slot.image->clearPicture();
    }
}

void ArchivePage::PageShow()
{
    PageHide();
    const int first = m_paging.firstEntry();
    const int count = m_paging.entriesOnPage(static_cast<int>(m_files.size()));
    QStringList localFiles;
    for (int k = 0; k < count; ++k)
        localFiles.append(platform::localPath(m_currentFolder + QLatin1Char('\\') + m_files[first + k]));
    // The page's pictures are decoded together, then shown in slot order; the
    // first one that cannot be shown ends the page at its slot. The slots show
    // each picture whole: a GIF document whole, not cut to the inbox's clip cell.
    const std::vector<imaging::PageThumbnail> pictures =
        imaging::loadThumbnailPage(localFiles, imaging::kSlotSize, 0, imaging::GifThumbnail::WholePicture);
    for (int k = 0; k < count; ++k) {
        const imaging::PageThumbnail& picture = pictures[static_cast<size_t>(k)];
        if (!picture.loaded())
            throw Error(picture.error);
        const ArchiveSlot& slot = m_slots[static_cast<size_t>(k)];
        slot.image->setPicture(picture.image);
        slot.caption->setText(m_files[first + k]);
        slot.image->show();
        slot.caption->show();
    }
}

QString ArchivePage::picturePath(const platform::PanelControl* caption) const
{
    return m_currentFolder + QLatin1Char('\\') + caption->text();
}

void ArchivePage::setButtons(PagingButtons buttons)
{
    BitBtn7->setEnabled(buttons.previous);
    BitBtn8->setEnabled(buttons.next);
}

PagingButtons ArchivePage::buttons() const
{
    return {BitBtn7->isEnabled(), BitBtn8->isEnabled()};
}

} // namespace tevrak::archive
