#include "archive/ArchivePaging.h"

#include <algorithm>

namespace tevrak::archive {

PagingButtons ArchivePaging::open(int fileCount)
{
    m_lastPage = std::max(fileCount, 0) / kSlotsPerPage;
    m_page = 0;
    return {false, m_lastPage > 0};
}

PagingButtons ArchivePaging::previous(PagingButtons current)
{
    if (m_page <= 0)
        return current;
    --m_page;
    if (m_page == 0)
        return {false, true};
    return {true, true};
}

PagingButtons ArchivePaging::next(PagingButtons current)
{
    if (m_page >= m_lastPage)
        return current;
    ++m_page;
    current.previous = true;
    if (m_page == m_lastPage)
        current.next = false;
    return current;
}

int ArchivePaging::entriesOnPage(int fileCount) const
{
    return std::clamp(fileCount - firstEntry(), 0, kSlotsPerPage);
}

} // namespace tevrak::archive
