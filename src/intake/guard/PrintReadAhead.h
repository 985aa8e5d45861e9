#pragma once

// Reading the print facts of the pictures the inbox page shows before the clerk drags one. The reduced
// decode, the hash and the digest of a camera's photo take tens of milliseconds, which the drop would
// otherwise wait for; one helper thread reads the page's pictures in slot order while the clerk looks at
// them. A drop takes what was read for its file when the file is still as it was then, and otherwise reads
// the facts itself.

#include "intake/guard/PhotoPrint.h"

#include <QString>
#include <QStringList>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

namespace tevrak::intake::guard {

class PrintReadAhead {
public:
    PrintReadAhead();
    // Stops after the file in hand and waits for it.
    ~PrintReadAhead();
    PrintReadAhead(const PrintReadAhead&) = delete;
    PrintReadAhead& operator=(const PrintReadAhead&) = delete;

    // The pictures now shown, by local path: those not read yet are read in this order, and what was read
    // for any other file is forgotten.
    void follow(const QStringList& localFiles);

    // The facts read for `localFile`, when its size and its change times are still those it had when it
    // was read; waits for them when the helper is reading that file now. None when the file was not read
    // (not shown, not reached yet, unreadable) or has changed since; the helper then leaves it to the caller.
    std::optional<PictureFacts> take(const QString& localFile);

    // Waits until every file followed has been read (the tests and the benchmark use it).
    void waitUntilRead();

private:
    // What identifies a file's contents without reading them: any write changes its status-change time.
    struct FileStamp {
        qint64 size = -1, inode = -1, modifiedNs = -1, changedNs = -1;
        bool operator==(const FileStamp&) const = default;
    };
    struct ReadFacts {
        FileStamp stamp;
        PictureFacts facts;
    };
    static std::optional<FileStamp> stampOf(const QString& localFile);
    void run();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    QStringList m_shown;   // the files followed
    QStringList m_waiting; // the files still to read, in order
    QString m_reading;     // the file the helper reads now, empty when none
    std::map<QString, ReadFacts> m_read;
    bool m_stop = false;
    std::thread m_helper;
};

} // namespace tevrak::intake::guard
