#pragma once

// JPEG decoding through libjpeg, with DCT scaling for thumbnails, the EXIF orientation and the EXIF
// thumbnail. One decoder serves one thread at a time; it keeps its libjpeg objects and read buffer from one
// picture to the next.

#include <QImage>
#include <QSize>
#include <memory>

#include "imaging/Pictures.h"

namespace tevrak::imaging {

class PictureFile;

class JpegDecoder {
public:
    JpegDecoder();
    ~JpegDecoder();
    JpegDecoder(const JpegDecoder&) = delete;
    JpegDecoder& operator=(const JpegDecoder&) = delete;

    // See loadThumbnail and loadFullPicture. Throw Error naming the file.
    QImage thumbnail(PictureFile& file, QSize slot, ThumbnailInfo* info);
    QImage fullPicture(PictureFile& file);
    // See loadReducedPhoto.
    ReducedPhoto reducedPhoto(PictureFile& file, QSize cover);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace tevrak::imaging
