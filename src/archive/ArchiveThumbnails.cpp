#include "archive/ArchiveThumbnails.h"

#include "imaging/Pictures.h"

#include <QPainter>
#include <exception>

namespace tevrak::archive {

namespace {

// A GIF document's whole first frame, reduced to the slot's size on silver
// (where the frame is transparent or leaves its screen uncovered).
QImage wholeGifThumbnail(const QString& localFile)
{
    const QImage picture = imaging::loadFullPicture(localFile);
    QImage thumbnail(imaging::kSlotSize, QImage::Format_RGB32);
    thumbnail.fill(imaging::kSilver);
    QPainter painter(&thumbnail);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(QPoint(0, 0), imaging::kSlotSize),
                      picture.scaled(imaging::kSlotSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    return thumbnail;
}

} // namespace

std::vector<imaging::PageThumbnail> loadArchiveThumbnails(const QStringList& localFiles)
{
    // The page loader decodes the JPEGs on every core; it cuts GIFs to their
    // clip cell, so GIF entries are replaced by their whole picture here.
    std::vector<imaging::PageThumbnail> page = imaging::loadThumbnailPage(localFiles);
    for (qsizetype k = 0; k < localFiles.size(); ++k) {
        imaging::PageThumbnail& entry = page[static_cast<size_t>(k)];
        if (!entry.loaded())
            break;
        if (!imaging::isGifName(localFiles[k]))
            continue;
        try {
            entry.image = wholeGifThumbnail(localFiles[k]);
        } catch (const std::exception& e) {
            entry.state = imaging::PageThumbnail::State::Failed;
            entry.image = QImage();
            entry.error = QString::fromUtf8(e.what());
            break;
        }
    }
    return page;
}

} // namespace tevrak::archive
