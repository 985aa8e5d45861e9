#pragma once

// GIF decoding through giflib: the first image of the file, drawn on its logical screen.

#include <QImage>
#include <QRect>

namespace tevrak::imaging {

class PictureFile;

class GifDecoder {
public:
    // The whole first frame on the logical screen; transparent and uncovered pixels have alpha 0
    // (Format_ARGB32), or Format_RGB32 when every pixel is covered and opaque.
    static QImage fullPicture(PictureFile& file);

    // Cell `index` of a columns x rows clip grid over the picture, drawn onto silver. Only the rows of the
    // picture that the cell needs are decoded when the file is complete (it ends with the GIF trailer); a
    // file that does not is decoded through, so that a truncation is reported.
    static QImage clipCell(PictureFile& file, int index, int columns, int rows, QSize* pictureSize = nullptr);

    // The whole first frame on silver, reduced (averaging, keeping its proportions) to the smallest size
    // that still covers the slot; a picture smaller than that is returned at its own size.
    static QImage wholeThumbnail(PictureFile& file, QSize slot, QSize* pictureSize = nullptr);
};

} // namespace tevrak::imaging
