#pragma once

// The print page: one A4 page holding one picture, shown in the print preview
// from which the user prints it.

#include <QColor>
#include <QImage>
#include <QMarginsF>
#include <QPageLayout>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QWidget>

class QPagedPaintDevice;
class QPainter;
class QPrinter;

namespace tevrak::intake {

// Sizes on the page are screen pixels at the report's 100 % zoom, 96 per inch.
inline constexpr double kReportPixelsPerInch = 96.0;

// The report: paper, orientation, margins and printer settings. It is drawn
// at 100 % (one report pixel is 1/96 inch on paper) and holds no text.
struct ReportPage {
    QPageSize::PageSizeId paper = QPageSize::A4;
    QPageLayout::Orientation orientation = QPageLayout::Portrait;
    QMarginsF marginsMm{10, 10, 10, 10};
    int copies = 1;

    QPageLayout layout() const;
    // One copy, automatic paper bin, no duplex, all pages, the page above.
    void applyTo(QPrinter& printer) const;
};

// The report's only band: white, placed at the margins, printed once.
struct ReportBand {
    QSize sizePixels{718, 1043}; // 189.97 x 275.96 mm
    QColor colour = Qt::white;
};

// The band's picture box: its picture is stretched to fill the box.
struct ReportImage {
    QPoint positionPixels{8, 8}; // 2.12 mm from the band's left and top edges
    QSize sizePixels{697, 1024}; // 184.41 mm wide; the height is set for each picture
    bool stretch = true;
    QImage picture;

    // Loads a JPEG or a GIF (chosen by the name's extension) at full
    // resolution, a GIF whole. A file that cannot be read or decoded raises
    // tevrak::Error naming it.
    void loadFromFile(const QString& localFile);
    void setHeight(int pixels) { sizePixels.setHeight(pixels); }
};

// The print page form. It is never shown itself: it carries the report that
// the preview renders and the printer prints.
class TPreview : public QWidget {
    Q_OBJECT
public:
    explicit TPreview(QWidget* parent = nullptr);

    ReportPage PageReport1;
    ReportBand DetailBand1;
    ReportImage PageImage1;

    // Renders the page onto the device within its margins: the same drawing
    // for the preview, the printer and a PDF file. The painter's origin is the
    // top-left corner inside the margins.
    void renderPage(QPagedPaintDevice& device) const;
    void paintPage(QPainter& painter, double devicePixelsPerInch) const;

    // The preview window, maximized and captioned "Print Preview": zoom to fit,
    // to page width or to a percentage (100 % among them), page and printer
    // set-up, print, close. Modal; returns when it has been closed.
    int preview();
};

} // namespace tevrak::intake
