#pragma once

// The facts the picture loaders take from a JPEG's EXIF block (read with libexif): the orientation, the
// embedded thumbnail and the moment the photo was taken.

#include <QDateTime>
#include <cstddef>
#include <memory>

struct _ExifData;

namespace tevrak::imaging {

class ExifBlock {
public:
    // Parses the payload of an APP1 marker (starting with "Exif\0\0"). Damaged blocks give orientation 1
    // and no thumbnail; they never fail the picture.
    ExifBlock(const unsigned char* data, size_t size);
    ~ExifBlock();
    ExifBlock(const ExifBlock&) = delete;
    ExifBlock& operator=(const ExifBlock&) = delete;

    // The EXIF orientation, 1..8 (1 when absent or out of range).
    int orientation() const { return orientation_; }
    // The embedded thumbnail's bytes (a JPEG stream, still to be checked) or null; owned by this block.
    const unsigned char* thumbnail() const { return thumbnail_; }
    size_t thumbnailSize() const { return thumbnailSize_; }
    // DateTimeOriginal of the Exif sub-IFD ("YYYY:MM:DD HH:MM:SS", the camera's clock, no time zone) as a
    // local date and time; invalid when absent, damaged or no real date.
    const QDateTime& captureTime() const { return captureTime_; }

    // True when the payload starts like an EXIF block.
    static bool looksLikeExif(const unsigned char* data, size_t size);

private:
    struct Release {
        void operator()(_ExifData* data) const;
    };
    std::unique_ptr<_ExifData, Release> data_;
    int orientation_ = 1;
    const unsigned char* thumbnail_ = nullptr;
    size_t thumbnailSize_ = 0;
    QDateTime captureTime_;
};

} // namespace tevrak::imaging
