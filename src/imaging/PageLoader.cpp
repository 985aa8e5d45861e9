#include "imaging/PageLoader.h"

#include <QFileInfo>
#include <algorithm>
#include <atomic>
#include <thread>

#include "platform/core/Error.h"

namespace tevrak::imaging {

std::vector<PageThumbnail> loadThumbnailPage(const QStringList& localFiles, QSize slot, int threads,
                                             GifThumbnail gif)
{
    const int count = int(localFiles.size());
    std::vector<PageThumbnail> page(static_cast<size_t>(count));
    if (count == 0)
        return page;
    if (threads <= 0)
        threads = int(std::max(1u, std::thread::hardware_concurrency()));
    threads = std::min(threads, count);

    std::atomic<int> next{0};
    // Lowest index that failed so far; files after it that have not started are not decoded.
    std::atomic<int> failedAt{count};

    auto work = [&] {
        for (;;) {
            const int i = next.fetch_add(1);
            if (i >= count || i > failedAt.load())
                return;
            PageThumbnail& entry = page[static_cast<size_t>(i)];
            try {
                entry.image = loadThumbnail(localFiles[i], slot, nullptr, gif);
                entry.state = PageThumbnail::State::Loaded;
            } catch (const Error& error) {
                entry.error = error.message();
                entry.state = PageThumbnail::State::Failed;
            } catch (const std::exception& error) {
                entry.error =
                    QStringLiteral("The picture %1 cannot be shown: %2")
                        .arg(QFileInfo(localFiles[i]).fileName(), QString::fromLocal8Bit(error.what()));
                entry.state = PageThumbnail::State::Failed;
            }
            if (entry.state == PageThumbnail::State::Failed) {
                int seen = failedAt.load();
                while (i < seen && !failedAt.compare_exchange_weak(seen, i)) {
                }
            }
        }
    };

    std::vector<std::thread> helpers;
    helpers.reserve(static_cast<size_t>(threads - 1));
    try {
        for (int t = 1; t < threads; ++t)
            helpers.emplace_back(work);
    } catch (const std::system_error&) {
        // No more threads to be had: the ones running (and this one) do the work.
    }
    work();
    for (std::thread& helper : helpers)
        helper.join();
    return page;
}

int firstFailure(const std::vector<PageThumbnail>& page)
{
    for (size_t i = 0; i < page.size(); ++i) {
        if (!page[i].loaded())
            return int(i);
    }
    return -1;
}

} // namespace tevrak::imaging
