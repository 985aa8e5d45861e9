#pragma once

// The page arithmetic of the archive browser, kept free of widgets so that it
// can be checked on its own: which file-list entries a page shows, where the
// last page lies, and which of the Previous and Next buttons may be pressed.

#include <QStringList>

namespace tevrak::archive {

// Nine pictures per page.
inline constexpr int kSlotsPerPage = 9;

struct PagingButtons {
    bool previous = false; // BitBtn7
    bool next = false;     // BitBtn8

    bool operator==(const PagingButtons&) const = default;
};

// The browser's position in the current folder's file list.
//
// The last page is the number of files divided by nine, rounded down, so a
// folder holding a positive multiple of nine files ends with a page that shows
// nothing (nine files: page 0 full, page 1 empty).
class ArchivePaging {
public:
    // A folder was opened: page 0 of `fileCount` files. Previous is off; Next is
    // on exactly when there is a page after page 0.
    PagingButtons open(int fileCount);
    // One page back. Previous stays on except on page 0; Next comes on.
    // Does nothing below page 0.
    PagingButtons previous(PagingButtons current);
    // One page on. Previous comes on; Next goes off on the last page.
    // Does nothing beyond the last page.
    PagingButtons next(PagingButtons current);

    int pageNumber() const { return m_page; }
    int lastPage() const { return m_lastPage; }

    // The file-list entries of the page, in slot order: index of the first
    // entry and how many there are (0 to 9).
    int firstEntry() const { return m_page * kSlotsPerPage; }
    int entriesOnPage(int fileCount) const;

private:
    int m_page = 0;
    int m_lastPage = 0;
};

} // namespace tevrak::archive
