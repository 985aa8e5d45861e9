#pragma once

// Decoding the thumbnails of one page (up to nine pictures) on the machine's cores.

#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>
#include <vector>

#include "imaging/Pictures.h"

namespace tevrak::imaging {

// What became of one file of a page.
struct PageThumbnail {
    enum class State {
        Loaded,  // image holds the thumbnail
        Failed,  // error holds the message (the same text loadThumbnail throws)
        Skipped, // not decoded because an earlier file of the page failed
    };
    State state = State::Skipped;
    QImage image;
    QString error;

    bool loaded() const { return state == State::Loaded; }
};

// Loads the thumbnails of `localFiles` (as loadThumbnail does, GIFs as `gif` says) in parallel (on at most
// `threads` threads, the calling thread included; 0 = one per core) and returns one entry per file, in the
// files' order. All threads are joined
// before it returns. The caller shows the entries in order and stops at the first one that is not Loaded:
// once a file fails, files after it that have not been started yet are Skipped (ones already running
// finish and are reported as they turned out); files before it are always decoded.
std::vector<PageThumbnail> loadThumbnailPage(const QStringList& localFiles, QSize slot = kSlotSize,
                                             int threads = 0, GifThumbnail gif = GifThumbnail::ClipCell);

// Index of the first entry that is not Loaded, or -1 when the whole page loaded.
int firstFailure(const std::vector<PageThumbnail>& page);

} // namespace tevrak::imaging
