#pragma once

// Thumbnails of one archive page. The archive slots show each picture whole,
// stretched to the slot: a JPEG as the photo pages decode it (DCT-scaled,
// EXIF thumbnail when it fits, EXIF orientation applied), a GIF document as its
// whole first frame scaled down, not cut to the inbox's clip cell.

#include "imaging/PageLoader.h"

#include <QStringList>
#include <vector>

namespace tevrak::archive {

// One entry per file, in order; the caller shows them in order and stops at
// the first entry that is not loaded (its error names the file). Files after a
// failure may be left undecoded.
std::vector<imaging::PageThumbnail> loadArchiveThumbnails(const QStringList& localFiles);

} // namespace tevrak::archive
