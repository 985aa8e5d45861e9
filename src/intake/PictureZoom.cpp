#include "intake/PictureZoom.h"

#include "intake/PreviewU.h"
#include "platform/core/DriveC.h"

namespace tevrak::intake {

namespace {

bool g_zoomOpen = false;

} // namespace

int printHeightFor(const QString& captionText)
{
    return captionText.right(3).toUpper() == QLatin1String("GIF") ? 1024 : 540;
}

std::unique_ptr<TPreview> makePrintPage(const QString& path, const QString& captionText, QWidget* parent)
{
    auto page = std::make_unique<TPreview>(parent);
    page->PageImage1.loadFromFile(platform::localPath(path));
    page->PageImage1.setHeight(printHeightFor(captionText));
    return page;
}

bool zoomPicture(const QString& path, const QString& captionText, QWidget* parent)
{
    if (g_zoomOpen)
        return false;
    g_zoomOpen = true;
    struct Reset {
        ~Reset() { g_zoomOpen = false; }
    } reset;
    const std::unique_ptr<TPreview> page = makePrintPage(path, captionText, parent);
    page->preview();
    return true;
}

bool zoomInProgress()
{
    return g_zoomOpen;
}

} // namespace tevrak::intake
