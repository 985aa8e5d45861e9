#include "archive/ArchivePaging.h"

#include <gtest/gtest.h>

namespace tevrak::archive {
namespace {

using B = PagingButtons;

TEST(ArchivePaging, LastPageIsTheFileCountDividedByNineSoAMultipleOfNineEndsWithAnEmptyPage)
{
    ArchivePaging paging;
    EXPECT_EQ(paging.open(0), (B{false, false}));
    EXPECT_EQ(paging.lastPage(), 0);
    EXPECT_EQ(paging.entriesOnPage(0), 0);

    EXPECT_EQ(paging.open(5), (B{false, false}));
    EXPECT_EQ(paging.entriesOnPage(5), 5);

    EXPECT_EQ(paging.open(8), (B{false, false}));
    EXPECT_EQ(paging.open(9), (B{false, true}));
    EXPECT_EQ(paging.lastPage(), 1);
    EXPECT_EQ(paging.open(18), (B{false, true}));
    EXPECT_EQ(paging.lastPage(), 2);
}

TEST(ArchivePaging, PagingNeverLeavesTheFolder)
{
    ArchivePaging paging;
    B buttons = paging.open(10);
    buttons = paging.previous(buttons);
    EXPECT_EQ(paging.pageNumber(), 0);
    EXPECT_EQ(buttons, (B{false, true}));
    buttons = paging.next(paging.next(paging.next(buttons)));
    EXPECT_EQ(paging.pageNumber(), 1);
    EXPECT_EQ(buttons, (B{true, false}));
    EXPECT_EQ(paging.entriesOnPage(10), 1);
}

} // namespace
} // namespace tevrak::archive
