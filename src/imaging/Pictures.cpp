#include "imaging/Pictures.h"

#include <QPainter>
#include <QTransform>
#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "imaging/GifDecoder.h"
#include "imaging/JpegDecoder.h"
#include "imaging/PictureFile.h"

namespace tevrak::imaging {

namespace {

std::atomic<int> g_maxSide{PictureLimits{}.maxSide};
std::atomic<qint64> g_maxPixels{PictureLimits{}.maxPixels};

// JPEG decoders (libjpeg objects and read buffers) kept between pictures, one lent to each thread that
// decodes. A handful at most: one per thread of a page load.
class DecoderPool {
public:
    class Lease {
    public:
        Lease(DecoderPool& pool, std::unique_ptr<JpegDecoder> decoder)
            : pool_(pool), decoder_(std::move(decoder))
        {
        }
        ~Lease() { pool_.giveBack(std::move(decoder_)); }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        JpegDecoder& operator*() const { return *decoder_; }

    private:
        DecoderPool& pool_;
        std::unique_ptr<JpegDecoder> decoder_;
    };

    Lease lend()
    {
        {
            std::lock_guard lock(mutex_);
            if (!idle_.empty()) {
                auto decoder = std::move(idle_.back());
                idle_.pop_back();
                return Lease(*this, std::move(decoder));
            }
        }
        return Lease(*this, std::make_unique<JpegDecoder>());
    }

private:
    void giveBack(std::unique_ptr<JpegDecoder> decoder)
    {
        static constexpr size_t kKeep = 8;
        std::lock_guard lock(mutex_);
        if (idle_.size() < kKeep)
            idle_.push_back(std::move(decoder));
    }

    std::mutex mutex_;
    std::vector<std::unique_ptr<JpegDecoder>> idle_;
};

DecoderPool& decoderPool()
{
    static DecoderPool pool;
    return pool;
}

} // namespace

PictureLimits pictureLimits()
{
    PictureLimits limits;
    limits.maxSide = g_maxSide.load(std::memory_order_relaxed);
    limits.maxPixels = g_maxPixels.load(std::memory_order_relaxed);
    return limits;
}

void setPictureLimits(const PictureLimits& limits)
{
    g_maxSide.store(limits.maxSide, std::memory_order_relaxed);
    g_maxPixels.store(limits.maxPixels, std::memory_order_relaxed);
}

bool isGifName(const QString& localFile)
{
    return localFile.right(4).toUpper() == QLatin1String(".GIF");
}

namespace {

// Runs a decoder; memory running out anywhere becomes the file's error, and a picture is never empty.
template <class Decode> QImage decodeGuarded(PictureFile& file, Decode decode)
{
    QImage image;
    try {
        image = decode();
    } catch (const std::bad_alloc&) {
        file.fail(QStringLiteral("there is not enough memory to decode it"));
    }
    if (image.isNull())
        file.fail(QStringLiteral("there is not enough memory to decode it"));
    return image;
}

QImage thumbnailOf(PictureFile& file, QSize slot, ThumbnailInfo* info, GifThumbnail gif)
{
    const QString& localFile = file.path();
    if (isGifName(localFile)) {
        QSize pictureSize;
        const bool whole = gif == GifThumbnail::WholePicture;
        QImage image = whole ? GifDecoder::wholeThumbnail(file, slot, &pictureSize)
                             : GifDecoder::clipCell(file, 0, kClipColumns, kClipRows, &pictureSize);
        if (info) {
            *info = ThumbnailInfo{};
            info->source = whole ? ThumbnailSource::GifWhole : ThumbnailSource::GifCell;
            info->pictureSize = pictureSize;
        }
        return image;
    }
    if (info)
        *info = ThumbnailInfo{};
    const DecoderPool::Lease decoder = decoderPool().lend();
    return (*decoder).thumbnail(file, slot, info);
}

QImage fullPictureOf(PictureFile& file)
{
    if (isGifName(file.path()))
        return GifDecoder::fullPicture(file);
    const DecoderPool::Lease decoder = decoderPool().lend();
    return (*decoder).fullPicture(file);
}

} // namespace

QImage loadThumbnail(const QString& localFile, QSize slot, ThumbnailInfo* info, GifThumbnail gif)
{
    PictureFile file(localFile);
    if (!slot.isValid() || slot.isEmpty())
        slot = kSlotSize;
    return decodeGuarded(file, [&] { return thumbnailOf(file, slot, info, gif); });
}

ReducedPhoto loadReducedPhoto(const QString& localFile, QSize cover)
{
    PictureFile file(localFile);
    if (isGifName(localFile))
        file.fail(QStringLiteral("a scanned document has no photo print"));
    if (!cover.isValid() || cover.isEmpty())
        cover = kSlotSize;
    ReducedPhoto photo;
    decodeGuarded(file, [&] {
        const DecoderPool::Lease decoder = decoderPool().lend();
        photo = (*decoder).reducedPhoto(file, cover);
        return photo.image;
    });
    return photo;
}

QImage loadFullPicture(const QString& localFile)
{
    PictureFile file(localFile);
    return decodeGuarded(file, [&] { return fullPictureOf(file); });
}

QImage clipCell(const QImage& picture, int index, int columns, int rows)
{
    columns = std::max(1, columns);
    rows = std::max(1, rows);
    const int width = std::max(1, picture.width() / columns);
    const int height = std::max(1, picture.height() / rows);
    QImage cell(width, height, QImage::Format_RGB32);
    cell.fill(kSilver);
    QPainter painter(&cell);
    painter.drawImage(QPoint(-(index % columns) * width, -(index / columns) * height), picture);
    return cell;
}

QImage applyOrientation(const QImage& image, int orientation)
{
    switch (orientation) {
    case 2:
        return image.mirrored(true, false);
    case 3:
        return image.mirrored(true, true);
    case 4:
        return image.mirrored(false, true);
    case 5: // transposed: flipped top to bottom, then turned a quarter clockwise
        return image.mirrored(false, true).transformed(QTransform().rotate(90));
    case 6:
        return image.transformed(QTransform().rotate(90));
    case 7: // transversed: mirrored left to right, then turned a quarter clockwise
        return image.mirrored(true, false).transformed(QTransform().rotate(90));
    case 8:
        return image.transformed(QTransform().rotate(270));
    default:
        return image;
    }
}

} // namespace tevrak::imaging
