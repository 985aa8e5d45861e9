#pragma once

// Picture loading for the thumbnail pages (new pictures, archive) and the print page.
//
// Which decoder reads a file is decided by its name alone, as the photo pages do it: when the last four
// characters of the name, upper-cased, are ".GIF" the file is read as a GIF; every other file is read as a
// JPEG. A file whose contents do not match its name (a GIF or a text file called x.jpg) is refused with a
// message saying what the file seems to hold; it is never decoded by another decoder behind the user's back,
// since the name's extension also travels with the filed picture.
//
// Every failure throws tevrak::Error with a message that names the file (its bare name, e.g.
// "The picture IMG_7.jpg cannot be shown: the file is truncated."), for the standard error box:
//   - missing or unreadable file, a folder, a zero-byte file;
//   - a JPEG or GIF whose data ends early (truncated, e.g. a copy still in progress or broken off);
//   - damaged data that the decoder cannot get through;
//   - a misnamed file (text, PNG, GIF... called .jpg; a JPEG called .gif; a damaged GIF header);
//   - a header that declares more pixels than PictureLimits allows (checked before any pixel memory is
//     taken, so a 60000 x 60000 header costs nothing).
//
// JPEG damage that libjpeg can decode through (bytes between markers, a scan that stops at a marker) is
// accepted and shown as libjpeg pads it, as every photo viewer does. A JPEG whose file ends before the
// picture data does is refused as truncated instead of being padded with grey: the usual cause is a copy
// into the inbox that is still running or broke off, and such a photo must not be filed and sent.
//
// All functions are safe to call from several threads at once. Decoder state and read buffers are kept in
// a small pool and reused between calls, so a page of thumbnails does not keep asking the system for fresh
// memory.

#include <QDateTime>
#include <QImage>
#include <QSize>
#include <QString>

namespace tevrak::imaging {

// The size of one thumbnail slot on the photo pages.
inline constexpr QSize kSlotSize{170, 135};

// The grid of the picture clip that cuts a GIF for its thumbnail: 3 columns, 6 rows; the thumbnail is
// cell 0, the top-left cell, of width = picture width div 3 and height = picture height div 6.
inline constexpr int kClipColumns = 3;
inline constexpr int kClipRows = 6;

// Silver, the colour of a clip cell where the GIF draws nothing (transparent pixels, uncovered area).
inline constexpr QRgb kSilver = 0xffc0c0c0;

// The largest pictures the loaders open. The defaults take any real camera photo (a 100-megapixel medium
// format back, a 30000-pixel panorama strip) while refusing headers that would need gigabytes.
struct PictureLimits {
    int maxSide = 30000;            // pixels, either direction
    qint64 maxPixels = 100'000'000; // width x height of the picture as declared by its header
};

// The limits in force (process-wide). The defaults suit the program; a fuzzing harness lowers them.
PictureLimits pictureLimits();
void setPictureLimits(const PictureLimits& limits);

// How a thumbnail was obtained (for tests and the benchmark).
enum class ThumbnailSource {
    DecodedJpeg,   // the JPEG's own picture data, decoded with DCT scaling
    ExifThumbnail, // the small JPEG that the camera embedded in the EXIF block
    GifCell,       // cell 0 of a GIF's picture clip
    GifWhole,      // a GIF's whole first frame, reduced
};

// What a GIF's thumbnail shows.
enum class GifThumbnail {
    ClipCell,     // cell 0 of the picture clip (the new-pictures page)
    WholePicture, // the whole first frame on silver, reduced by averaging, keeping its proportions, to the
                  // smallest size that still covers the slot (never enlarged); only that size is held in
                  // memory however large the GIF, and every row is read
};

struct ThumbnailInfo {
    ThumbnailSource source = ThumbnailSource::DecodedJpeg;
    QSize pictureSize;   // the picture as stored in the file (JPEG: before orientation)
    int orientation = 1; // EXIF orientation applied (1 = as stored)
    int scaleNum = 8;    // DCT scale used, scaleNum / 8 (8 = full size)
};

// The thumbnail of one picture for a slot of the given size.
//
// JPEG: the embedded EXIF thumbnail when its aspect ratio matches the photo's within 2 %, it covers at
// least half the slot each way, it decodes, and the file ends with the JPEG end marker (a file cut short
// is decoded instead, so that the truncation is reported); otherwise the photo itself, decoded with
// libjpeg's DCT scaling at the smallest n/8 that still covers the slot (a 4000 x 3000 photo gives
// 500 x 375 for a 170 x 135 slot; a photo smaller than the slot is decoded at full size). The EXIF
// orientation is applied to either, so a portrait phone shot stands upright.
//
// GIF, GifThumbnail::ClipCell: cell 0 of the picture clip, drawn on silver: a 300 x 600 GIF gives its
// top-left 100 x 100 region. A GIF smaller than 3 x 6 pixels gives a 1 x 1 cell rather than an empty
// picture. Only the rows of the cell are decoded when the file ends with the GIF trailer; a file that does
// not is decoded through, so that a truncation is reported.
// GIF, GifThumbnail::WholePicture: see GifThumbnail.
//
// The image is returned at the size decoded, NOT stretched to the slot: the slot's control stretches it
// (without keeping the aspect ratio), and a slightly larger source keeps the stretched thumbnail sharp.
// Format_RGB32.
QImage loadThumbnail(const QString& localFile, QSize slot = kSlotSize, ThumbnailInfo* info = nullptr,
                     GifThumbnail gif = GifThumbnail::ClipCell);

// A JPEG photo's own picture data (never its EXIF thumbnail, which an edit may have left behind), decoded
// as the thumbnails are, at the smallest n/8 that covers `cover` once upright, the EXIF orientation
// applied; with the EXIF capture time (invalid when the photo has no readable one). For the filing prints.
// Fails as loadThumbnail does; a GIF name is refused (a scanned document has no photo print).
struct ReducedPhoto {
    QImage image;
    QDateTime captureTime;
};
ReducedPhoto loadReducedPhoto(const QString& localFile, QSize cover = kSlotSize);

// The whole picture at full resolution, for the print page.
// JPEG: every pixel, EXIF orientation applied, Format_RGB32.
// GIF: the first frame drawn whole on its logical screen (not cut to the clip cell); Format_RGB32, or
// Format_ARGB32 with alpha 0 where the frame is transparent or does not cover the screen (the page's
// white shows through there).
QImage loadFullPicture(const QString& localFile);

// The picture clip: cell `index` (row by row from the top left) of a columns x rows grid over `picture`,
// of size (width div columns) x (height div rows), at least 1 x 1, drawn onto silver. For pictures already
// in memory; loadThumbnail cuts GIFs itself while decoding, reading only the rows the cell needs.
QImage clipCell(const QImage& picture, int index = 0, int columns = kClipColumns, int rows = kClipRows);

// Turns an image stored as the camera read its sensor into the upright picture, for an EXIF orientation
// value 1..8 (other values leave the image as it is).
QImage applyOrientation(const QImage& image, int orientation);

// True when the name selects the GIF decoder: its last four characters upper-cased are ".GIF".
bool isGifName(const QString& localFile);

} // namespace tevrak::imaging
