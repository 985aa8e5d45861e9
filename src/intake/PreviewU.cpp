#include "intake/PreviewU.h"

#include "imaging/Pictures.h"
#include "platform/widgets/Dialogs.h"

#include <QAction>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QScreen>
#include <QToolBar>

namespace tevrak::intake {

QPageLayout ReportPage::layout() const
{
    // Full-page mode: the page is drawn from the paper's corner and the margins
    // are applied by the drawing itself, in exact millimetres (the paint
    // devices round margins to whole points, 10 mm becoming 9.88 mm).
    QPageLayout page(QPageSize(paper), orientation, marginsMm, QPageLayout::Millimeter);
    page.setMode(QPageLayout::FullPageMode);
    return page;
}

void ReportPage::applyTo(QPrinter& printer) const
{
    printer.setPageLayout(layout());
    printer.setCopyCount(copies);
    printer.setPaperSource(QPrinter::Auto);
    printer.setDuplex(QPrinter::DuplexNone);
    printer.setPrintRange(QPrinter::AllPages);
    printer.setDocName(QString());
}

void ReportImage::loadFromFile(const QString& localFile)
{
    picture = imaging::loadFullPicture(localFile);
}

TPreview::TPreview(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("Preview"));
    setWindowTitle(QStringLiteral("Preview"));
}

void TPreview::renderPage(QPagedPaintDevice& device) const
{
    QPainter painter(&device);
    const double dpi = device.logicalDpiX();
    const QPageLayout page = device.pageLayout();
    if (page.mode() == QPageLayout::FullPageMode) {
        const QMarginsF margins = page.margins(QPageLayout::Millimeter);
        painter.translate(margins.left() / 25.4 * dpi, margins.top() / 25.4 * dpi);
    }
    paintPage(painter, dpi);
}

void TPreview::paintPage(QPainter& painter, double devicePixelsPerInch) const
{
    // The painter's origin is the top-left corner inside the margins, where the
    // band lies; everything below is laid out in screen pixels at 96 per inch.
    painter.save();
    const double scale = devicePixelsPerInch / kReportPixelsPerInch;
    painter.scale(scale, scale);
    painter.fillRect(QRect(QPoint(0, 0), DetailBand1.sizePixels), DetailBand1.colour);
    if (!PageImage1.picture.isNull()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const QRect box(PageImage1.positionPixels, PageImage1.sizePixels);
        if (PageImage1.stretch) {
            painter.drawImage(box, PageImage1.picture);
        } else {
            painter.drawImage(box.topLeft(), PageImage1.picture);
        }
    }
    painter.restore();
}

int TPreview::preview()
{
    QPrinter printer(QPrinter::HighResolution);
    PageReport1.applyTo(printer);
    QPrintPreviewDialog dialog(&printer, parentWidget());
    dialog.setObjectName(QStringLiteral("PrintPreview"));
    dialog.setWindowTitle(QStringLiteral("Print Preview"));
    // Maximized; its normal size is the whole screen too, for desktops without
    // a window manager to do the maximizing.
    if (const QScreen* screen = dialog.screen())
        dialog.setGeometry(screen->availableGeometry());
    dialog.setWindowState(dialog.windowState() | Qt::WindowMaximized);
    connect(&dialog, &QPrintPreviewDialog::paintRequested, this,
            [this](QPrinter* target) { renderPage(*target); });
    // The preview's own tool bar zooms, sets up the page and prints; a Close
    // button ends the preview.
    if (auto* toolBar = dialog.findChild<QToolBar*>()) {
        toolBar->addSeparator();
        QAction* close = toolBar->addAction(QStringLiteral("ปิด"));
        close->setObjectName(QStringLiteral("closeAction"));
        connect(close, &QAction::triggered, &dialog, &QDialog::reject);
    }
    return platform::dialogs().showModal(dialog);
}

} // namespace tevrak::intake
