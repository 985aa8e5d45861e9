#include "intake/PictureZoom.h"
#include "intake/PreviewU.h"
#include "platform/core/Error.h"
#include "support/RecordingDialogs.h"
#include "support/TestEnvironment.h"
#include "support/TestPictures.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProcess>
#include <QTemporaryDir>
#include <QToolBar>
#include <gtest/gtest.h>

namespace tevrak::test {
namespace {

// Millimetres of the paper, measured on the rendered PDF.
struct MmRect {
    double left = 0, top = 0, width = 0, height = 0;
};

constexpr double kRenderDpi = 200;
constexpr double kTolerance = 0.5; // mm

QString run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        ADD_FAILURE() << program.toStdString() << " failed: " << process.readAllStandardError().toStdString();
        return {};
    }
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

// The page rendered by poppler at 200 dpi.
QImage renderPdf(const QString& pdf)
{
    const QString base = pdf + ".page";
    run("pdftoppm", {"-r", QString::number(kRenderDpi), "-singlefile", pdf, base});
    return QImage(base + ".ppm");
}

// The bounding box of everything on the page that is not white paper.
MmRect inkBox(const QImage& rendered)
{
    const QImage page = rendered.convertToFormat(QImage::Format_RGB32);
    int left = page.width(), top = page.height(), right = -1, bottom = -1;
    for (int y = 0; y < page.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(page.constScanLine(y));
        for (int x = 0; x < page.width(); ++x) {
            // A pixel belongs to the picture when it is nearer the picture's
            // colours than the paper's white (edge pixels are blends).
            if (765 - (qRed(line[x]) + qGreen(line[x]) + qBlue(line[x])) < 200)
                continue;
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    const double mm = 25.4 / kRenderDpi;
    return {left * mm, top * mm, (right - left + 1) * mm, (bottom - top + 1) * mm};
}

struct PdfImage {
    int width = 0, height = 0;
    double widthMm = 0, heightMm = 0;
};

// The pictures embedded in the PDF, as `pdfimages -list` reports them.
std::vector<PdfImage> embeddedImages(const QString& pdf)
{
    std::vector<PdfImage> images;
    const QStringList lines = run("pdfimages", {"-list", pdf}).split('\n', Qt::SkipEmptyParts);
    for (const QString& line : lines.mid(2)) {
        const QStringList f = line.simplified().split(' ');
        if (f.size() < 14 || f[2] != "image")
            continue;
        PdfImage image;
        image.width = f[3].toInt();
        image.height = f[4].toInt();
        image.widthMm = image.width / f[12].toDouble() * 25.4;
        image.heightMm = image.height / f[13].toDouble() * 25.4;
        images.push_back(image);
    }
    return images;
}

class ZoomTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir(root()).removeRecursively();
        QDir().mkpath(root() + "/picture/12345678");
        ASSERT_TRUE(output.isValid());
        output.setAutoRemove(qEnvironmentVariableIsEmpty("TEVRAK_KEEP_TEST_OUTPUT"));
    }

    static QString root() { return QString::fromStdString(driveCFolder()); }
    static QString inbox() { return root() + "/picture"; }

    // Answers the preview by printing its page to a PDF file through the
    // preview's own print command, after checking the preview window.
    void printPreviewTo(const QString& pdf)
    {
        dialogs.answerNextModal([pdf](QWidget& form) {
            auto* preview = qobject_cast<QPrintPreviewDialog*>(&form);
            EXPECT_NE(preview, nullptr);
            if (preview == nullptr)
                return 0;
            EXPECT_EQ(preview->windowTitle(), "Print Preview");
            EXPECT_TRUE(preview->windowState() & Qt::WindowMaximized);
            EXPECT_TRUE(intake::zoomInProgress());
            QPrinter* printer = preview->printer();
            printer->setOutputFormat(QPrinter::PdfFormat);
            printer->setOutputFileName(pdf);
            preview->findChild<QPrintPreviewWidget*>()->print();
            return 0;
        });
    }

    static void expectNear(const MmRect& got, const MmRect& want, const char* what)
    {
        EXPECT_NEAR(got.left, want.left, kTolerance) << what;
        EXPECT_NEAR(got.top, want.top, kTolerance) << what;
        EXPECT_NEAR(got.width, want.width, kTolerance) << what;
        EXPECT_NEAR(got.height, want.height, kTolerance) << what;
    }

    RecordingDialogs dialogs;
    QTemporaryDir output;
};

TEST(PrintHeight, DocumentsByTheCaptionsLastThreeCharactersFillThePage)
{
    EXPECT_EQ(intake::printHeightFor("SCAN_2.GIF"), 1024);
    EXPECT_EQ(intake::printHeightFor("12345678800.gif"), 1024);
    EXPECT_EQ(intake::printHeightFor("IMG_1.JPG"), 540);
    EXPECT_EQ(intake::printHeightFor("photo.jpeg"), 540);
    EXPECT_EQ(intake::printHeightFor(""), 540);
}

TEST_F(ZoomTest, APhotoFillsTheUpperHalfOfTheA4PageAtFullResolution)
{
    JpegSpec photo;
    photo.width = 1600;
    photo.height = 1200;
    photo.colour = QColor(40, 90, 160);
    photo.noise = 10;
    writeJpeg(inbox() + "/IMG_1.JPG", photo);
    const QString pdf = output.filePath("photo.pdf");
    printPreviewTo(pdf);

    EXPECT_TRUE(intake::zoomPicture("c:\\picture\\IMG_1.JPG", "IMG_1.JPG"));
    EXPECT_FALSE(intake::zoomInProgress());
    EXPECT_EQ(dialogs.modalForms.size(), 1);
    EXPECT_TRUE(dialogs.messages.empty());

    const QImage page = renderPdf(pdf);
    ASSERT_FALSE(page.isNull());
    // A4 portrait.
    EXPECT_NEAR(page.width() * 25.4 / kRenderDpi, 210, 0.3);
    EXPECT_NEAR(page.height() * 25.4 / kRenderDpi, 297, 0.3);
    const MmRect box = inkBox(page);
    std::printf("photo: picture at %.2f, %.2f mm, %.2f x %.2f mm\n", box.left, box.top, box.width,
                box.height);
    expectNear(box, {12.12, 12.12, 184.41, 142.88}, "photo");

    const std::vector<PdfImage> images = embeddedImages(pdf);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].width, 1600); // the print is made from every pixel
    EXPECT_EQ(images[0].height, 1200);
    std::printf("photo: pdfimages %d x %d px, %.2f x %.2f mm\n", images[0].width, images[0].height,
                images[0].widthMm, images[0].heightMm);
    EXPECT_NEAR(images[0].widthMm, 184.41, kTolerance);
    EXPECT_NEAR(images[0].heightMm, 142.88, kTolerance);
}

TEST_F(ZoomTest, AGifDocumentIsShownWholeOverNearlyTheWholePage)
{
    // A scanned page: the top sixth red (what the thumbnail's clip cell
    // shows), the rest green.
    QImage scan(850, 1100, QImage::Format_RGB32);
    scan.fill(QColor(0, 160, 0));
    for (int y = 0; y < 1100 / 6; ++y)
        for (int x = 0; x < 850; ++x)
            scan.setPixel(x, y, qRgb(200, 0, 0));
    writeGif(inbox() + "/12345678/12345678800.gif", scan);
    const QString pdf = output.filePath("document.pdf");
    printPreviewTo(pdf);

    EXPECT_TRUE(intake::zoomPicture("c:\\picture\\12345678\\12345678800.gif", "12345678800.gif"));

    const QImage page = renderPdf(pdf);
    ASSERT_FALSE(page.isNull());
    const MmRect box = inkBox(page);
    std::printf("document: picture at %.2f, %.2f mm, %.2f x %.2f mm\n", box.left, box.top, box.width,
                box.height);
    expectNear(box, {12.12, 12.12, 184.41, 270.93}, "document");
    // The lower part of the page shows the GIF's lower part: it is whole.
    const int mmToPx = static_cast<int>(kRenderDpi / 25.4);
    const QColor low = page.pixelColor(105 * mmToPx, 250 * mmToPx);
    const QColor high = page.pixelColor(105 * mmToPx, 20 * mmToPx);
    EXPECT_GT(low.green(), 120);
    EXPECT_LT(low.red(), 60);
    EXPECT_GT(high.red(), 150);
    EXPECT_LT(high.green(), 60);
    const std::vector<PdfImage> images = embeddedImages(pdf);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].width, 850);
    EXPECT_EQ(images[0].height, 1100);
}

TEST_F(ZoomTest, APortraitPhotoIsStretchedToTheBox)
{
    JpegSpec photo;
    photo.width = 600;
    photo.height = 800;
    photo.colour = QColor(120, 40, 40);
    writeJpeg(inbox() + "/portrait.jpg", photo);
    const QString pdf = output.filePath("portrait.pdf");
    printPreviewTo(pdf);
    EXPECT_TRUE(intake::zoomPicture("c:\\picture\\portrait.jpg", "portrait.jpg"));
    expectNear(inkBox(renderPdf(pdf)), {12.12, 12.12, 184.41, 142.88}, "portrait");
}

TEST_F(ZoomTest, ThePreviewIsModalAndASecondZoomWaitsForItToClose)
{
    writeJpeg(inbox() + "/a.jpg", {});
    writeJpeg(inbox() + "/b.jpg", {});
    bool secondStarted = true;
    dialogs.answerNextModal([&](QWidget& form) {
        auto* preview = qobject_cast<QPrintPreviewDialog*>(&form);
        EXPECT_NE(preview, nullptr);
        if (preview == nullptr)
            return 0;
        // The printer starts as the report sets it up.
        const QPrinter* printer = preview->printer();
        const QPageLayout layout = printer->pageLayout();
        EXPECT_EQ(layout.pageSize().id(), QPageSize::A4);
        EXPECT_EQ(layout.orientation(), QPageLayout::Portrait);
        EXPECT_EQ(layout.margins(QPageLayout::Millimeter), QMarginsF(10, 10, 10, 10));
        EXPECT_EQ(printer->copyCount(), 1);
        EXPECT_EQ(printer->duplex(), QPrinter::DuplexNone);
        EXPECT_EQ(printer->printRange(), QPrinter::AllPages);
        // Zoom to fit, to page width, by percentage (100 % among them), page
        // set-up, print and close are on the tool bar.
        QStringList actions;
        for (const QAction* action : preview->findChildren<QAction*>())
            actions.append(action->objectName().isEmpty() ? action->text() : action->objectName());
        for (const char* name : {"fitPageAction", "fitWidthAction", "Page setup", "Print", "closeAction"})
            EXPECT_TRUE(actions.contains(name)) << name << " in " << actions.join(' ').toStdString();
        const auto* zoom = preview->findChild<QComboBox*>();
        EXPECT_TRUE(zoom != nullptr && zoom->findText("100%") >= 0);
        // A second zoom asked for meanwhile does not open a second preview.
        secondStarted = intake::zoomPicture("c:\\picture\\b.jpg", "b.jpg");
        return 0;
    });
    EXPECT_TRUE(intake::zoomPicture("c:\\picture\\a.jpg", "a.jpg"));
    EXPECT_FALSE(secondStarted);
    EXPECT_EQ(dialogs.modalForms.size(), 1);
    EXPECT_FALSE(intake::zoomInProgress());
}

TEST_F(ZoomTest, APictureThatCannotBeShownRaisesAnErrorAndOpensNoPreview)
{
    writeFile(inbox() + "/cut.jpg", truncated(jpegBytes({}), 400));
    writeFile(inbox() + "/huge.jpg", jpegDeclaring(60000, 60000));
    writeFile(inbox() + "/huge.gif", gifDeclaring(40000, 40000));
    writeFile(inbox() + "/note.jpg", textFile());
    for (const QString name : {"missing.jpg", "cut.jpg", "huge.jpg", "huge.gif", "note.jpg"}) {
        try {
            intake::zoomPicture("c:\\picture\\" + name, name);
            ADD_FAILURE() << "no error for " << name.toStdString();
        } catch (const Error& e) {
            EXPECT_TRUE(e.message().contains(name)) << e.message().toStdString();
        }
        EXPECT_FALSE(intake::zoomInProgress());
    }
    EXPECT_TRUE(dialogs.modalForms.isEmpty());

    // The next zoom works as usual.
    writeJpeg(inbox() + "/good.jpg", {});
    printPreviewTo(output.filePath("good.pdf"));
    EXPECT_TRUE(intake::zoomPicture("c:\\picture\\good.jpg", "good.jpg"));
    EXPECT_EQ(dialogs.modalForms.size(), 1);
}

} // namespace
} // namespace tevrak::test
