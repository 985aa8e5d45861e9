#include "intake/guard/PrintReadAhead.h"

#include "platform/core/Error.h"

#include <QFile>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tevrak::intake::guard {

PrintReadAhead::PrintReadAhead() : m_helper([this] { run(); }) {}

PrintReadAhead::~PrintReadAhead()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    m_helper.join();
}

void PrintReadAhead::follow(const QStringList& localFiles)
{
    {
        const std::lock_guard lock(m_mutex);
        m_shown = localFiles;
        // A file changed since it was read is read again.
        std::erase_if(m_read, [&](const auto& entry) {
            return !localFiles.contains(entry.first) || stampOf(entry.first) != entry.second.stamp;
        });
        m_waiting.clear();
        for (const QString& file : localFiles) {
            if (file != m_reading && !m_read.contains(file) && !m_waiting.contains(file))
                m_waiting.append(file);
        }
    }
    m_changed.notify_all();
}

std::optional<PictureFacts> PrintReadAhead::take(const QString& localFile)
{
    std::unique_lock lock(m_mutex);
    m_waiting.removeAll(localFile);
    m_changed.wait(lock, [&] { return m_reading != localFile; });
    const auto found = m_read.find(localFile);
    if (found == m_read.end())
        return std::nullopt;
    if (stampOf(localFile) != found->second.stamp) {
        m_read.erase(found);
        return std::nullopt;
    }
    return found->second.facts; // kept: a picture the clerk said No to may be dragged again
}

void PrintReadAhead::waitUntilRead()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_waiting.isEmpty() && m_reading.isEmpty(); });
}

std::optional<PrintReadAhead::FileStamp> PrintReadAhead::stampOf(const QString& localFile)
{
    struct stat status {};
    if (::stat(QFile::encodeName(localFile).constData(), &status) != 0)
        return std::nullopt;
    const auto ns = [](const timespec& time) { return qint64(time.tv_sec) * 1'000'000'000 + time.tv_nsec; };
    return FileStamp{qint64(status.st_size), qint64(status.st_ino), ns(status.st_mtim), ns(status.st_ctim)};
}

void PrintReadAhead::run()
{
    // Below the window's thread, so that paging and dragging stay smooth; above the back-fill.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [&] { return m_stop || !m_waiting.isEmpty(); });
        if (m_stop)
            return;
        m_reading = m_waiting.takeFirst();
        const QString file = m_reading;
        lock.unlock();
        // The stamp is taken first: a file written while it is read no longer matches it.
        const std::optional<FileStamp> stamp = stampOf(file);
        std::optional<PictureFacts> facts;
        try {
            if (stamp)
                facts = readPictureFacts(file);
        } catch (const Error&) {
            // An unreadable file is the drop's to report, with its reason.
        } catch (const std::bad_alloc&) {
        }
        lock.lock();
        m_reading.clear();
        if (facts && m_shown.contains(file))
            m_read[file] = ReadFacts{*stamp, std::move(*facts)};
        m_changed.notify_all();
    }
}

} // namespace tevrak::intake::guard
