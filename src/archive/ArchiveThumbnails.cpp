#include "archive/ArchiveThumbnails.h"

#include "imaging/Pictures.h"

#include <QPainter>
#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>

namespace tevrak::archive {

namespace {

// A GIF document's whole first frame, reduced to the slot's size (averaging,
// so that lines of text do not break up) on silver where the frame is
// transparent or leaves its screen uncovered.
QImage wholeGifThumbnail(const QString& localFile)
{
    const QImage picture = imaging::loadFullPicture(localFile);
    QImage thumbnail(imaging::kSlotSize, QImage::Format_RGB32);
    thumbnail.fill(imaging::kSilver);
    QPainter painter(&thumbnail);
    painter.drawImage(QPoint(0, 0),
                      picture.scaled(imaging::kSlotSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    return thumbnail;
}

// Decodes the GIF entries `documentSlots` of the page on every core, the calling
// thread included. A slot after one that failed is not started.
void loadWholeGifs(const QStringList& localFiles, const std::vector<size_t>& documentSlots,
                   std::vector<imaging::PageThumbnail>& page, size_t stopAt)
{
    std::atomic<size_t> next{0};
    std::atomic<size_t> firstFailure{stopAt};
    auto work = [&] {
        for (size_t i = next++; i < documentSlots.size(); i = next++) {
            const size_t slot = documentSlots[i];
            if (slot > firstFailure.load())
                return; // the page ends before this slot
            imaging::PageThumbnail& entry = page[slot];
            try {
                entry.image = wholeGifThumbnail(localFiles[static_cast<qsizetype>(slot)]);
                entry.state = imaging::PageThumbnail::State::Loaded;
            } catch (const std::exception& e) {
                entry.state = imaging::PageThumbnail::State::Failed;
                entry.error = QString::fromUtf8(e.what());
                size_t seen = firstFailure.load();
                while (slot < seen && !firstFailure.compare_exchange_weak(seen, slot)) {
                }
            }
        }
    };
    const size_t helpers =
        std::min<size_t>(documentSlots.size(), std::max(1u, std::thread::hardware_concurrency())) - 1;
    std::vector<std::thread> threads;
    for (size_t t = 0; t < helpers; ++t)
        threads.emplace_back(work);
    work();
    for (std::thread& thread : threads)
        thread.join();
}

} // namespace

std::vector<imaging::PageThumbnail> loadArchiveThumbnails(const QStringList& localFiles)
{
    std::vector<imaging::PageThumbnail> page(static_cast<size_t>(localFiles.size()));
    QStringList photoFiles;
    std::vector<size_t> photoSlots;
    std::vector<size_t> gifSlots;
    for (qsizetype k = 0; k < localFiles.size(); ++k) {
        if (imaging::isGifName(localFiles[k])) {
            gifSlots.push_back(static_cast<size_t>(k));
        } else {
            photoFiles.append(localFiles[k]);
            photoSlots.push_back(static_cast<size_t>(k));
        }
    }
    // Photos through the photo pages' own loader (DCT scaling, EXIF thumbnail
    // and orientation), on every core.
    size_t firstPhotoFailure = page.size();
    if (!photoFiles.isEmpty()) {
        std::vector<imaging::PageThumbnail> photos = imaging::loadThumbnailPage(photoFiles);
        for (size_t i = 0; i < photos.size(); ++i) {
            if (!photos[i].loaded())
                firstPhotoFailure = std::min(firstPhotoFailure, photoSlots[i]);
            page[photoSlots[i]] = std::move(photos[i]);
        }
    }
    // Documents whole, not cut to the inbox's clip cell.
    if (!gifSlots.empty())
        loadWholeGifs(localFiles, gifSlots, page, firstPhotoFailure);
    return page;
}

} // namespace tevrak::archive
