#pragma once

// Picture files for tests and benchmarks: JPEGs written through libjpeg (any size, an optional EXIF block
// with an orientation tag and an embedded thumbnail), GIFs written by hand (giflib is not needed), and
// damaged files of every kind the picture loaders must refuse.

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QSize>
#include <QString>

namespace tevrak::test {

struct JpegSpec {
    int width = 640;
    int height = 480;
    int quality = 90;
    bool progressive = false;
    bool grayscale = false;
    // Four-channel CMYK as Adobe software writes it (inverted inks, Adobe marker).
    bool adobeCmyk = false;
    // Base colour of the picture; the content is a gentle gradient over it plus random noise, so files
    // have the size of real photographs of that size and quality.
    QColor colour = QColor(200, 60, 40);
    int noise = 24; // amplitude of the per-pixel noise, 0 = flat colour
    unsigned seed = 1;
    // When set, the picture to encode instead (width, height, colour and noise are then not used).
    QImage picture;
    // EXIF orientation tag (1..8) to write; 0 = no tag.
    int orientation = 0;
    // Embedded EXIF thumbnail of this size and flat colour; empty size = none.
    QSize thumbnailSize;
    QColor thumbnailColour = QColor(30, 60, 220);
    // Camera-style EXIF: an Exif sub-IFD with the usual tags and a maker note of this many bytes.
    int makerNoteBytes = 0;
    // DateTimeOriginal ("YYYY:MM:DD HH:MM:SS") of that Exif sub-IFD; written (with the sub-IFD) also
    // without a maker note. Empty: "2024:03:05 10:11:12" when there is a maker note, else none.
    QString dateTimeOriginal;
};

// A 12-MP (4000 x 3000) camera photograph of quality 92, number `index` of a series (its colour and
// noise vary with it); with `cameraExif`, what a camera writes besides: orientation, an Exif sub-IFD
// with a maker note and a 160 x 120 thumbnail.
JpegSpec cameraPhoto(int index, bool cameraExif);

// The JPEG file's bytes / writes them (throws std::runtime_error when the file cannot be written).
QByteArray jpegBytes(const JpegSpec& options);
void writeJpeg(const QString& path, const JpegSpec& options);

// Encodes an image as a plain JPEG (no EXIF).
QByteArray encodeJpeg(const QImage& image, int quality = 90);

struct GifSpec {
    bool interlaced = false;
    // Logical screen size written in the header; empty = the image's size.
    QSize screenSize;
    // Frame size written in the image descriptor; empty = the image's size. Only the header says so: the
    // pixel data stays the image's (for headers that lie).
    QSize declaredFrameSize;
    QPoint frameOffset;
    // Whether to write the trailer byte 0x3B at the end.
    bool trailer = true;
};

// A GIF of `image` (at most 255 distinct colours are kept exactly; further colours are mapped to the
// nearest kept one). Pixels with alpha 0 become the transparent colour.
QByteArray gifBytes(const QImage& image, const GifSpec& options = {});
void writeGif(const QString& path, const QImage& image, const GifSpec& options = {});

// A picture of coloured shapes drawn from `seed`: pictures of different seeds differ in their layout, as
// different photographs do (noise over one gradient does not), for the perceptual hash.
QImage shapesPicture(QSize size, unsigned seed);

// A picture with random-ish content (noise over a gradient), for GIFs of realistic size.
QImage noisyImage(QSize size, QColor colour, int noise = 24, unsigned seed = 1);

// Writes bytes to a file (creating the folders) / reads a file.
void writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);

// Damaged files.
// The first `keep` bytes of a picture: a copy broken off.
QByteArray truncated(const QByteArray& bytes, qsizetype keep);
// A JPEG whose frame header declares width x height (the data stays that of a small picture).
QByteArray jpegDeclaring(int width, int height);
// A GIF whose screen and frame declare width x height (the data stays that of a small picture).
QByteArray gifDeclaring(int width, int height);
// Plain text, as a text file that was named x.jpg.
QByteArray textFile();

} // namespace tevrak::test
